#include "updater/progress.h"

uint32_t ProgressPosition(uint64_t done, uint64_t total) {
  if (total == 0 || done >= total) return platform::kProgressRange;
  // Scaled down first where done x range would not fit in 64 bits.
  while (total > (uint64_t(1) << 47)) {
    total >>= 1;
    done >>= 1;
  }
  return uint32_t(done * platform::kProgressRange / total);
}

void ProgressMeter::Begin(platform::Window dialog) {
  dialog_ = dialog;
  active_ = true;
  total_ = 0;
  done_ = itemEnd_ = 0;
  shown_ = 0;
  platform::Os().ShowProgressBar(dialog_, true);
}

void ProgressMeter::BeginItem(uint64_t share) {
  itemEnd_ = done_ + share;
}

void ProgressMeter::Advance(uint64_t bytes) {
  if (!active_) return;
  done_ = bytes < itemEnd_ - done_ ? done_ + bytes : itemEnd_;
  Show();
}

void ProgressMeter::EndItem() {
  if (!active_) return;
  done_ = itemEnd_;
  Show();
}

void ProgressMeter::Show() {
  // Only what the player can see moves the bar: one message per piece at
  // most, none when the position stays.
  const uint32_t position = ProgressPosition(done_, total_);
  if (position <= shown_) return;
  shown_ = position;
  platform::Os().SetProgressBar(dialog_, position);
}

void ProgressMeter::Hide() {
  if (active_) platform::Os().ShowProgressBar(dialog_, false);
}

void ProgressMeter::End() {
  if (active_) platform::Os().RemoveProgressBar(dialog_);
  active_ = false;
}
