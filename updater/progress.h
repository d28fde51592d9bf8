// The dialog's progress bar, moved by the bytes that the update procedure
// handles: a total worked out before the first write, a share of it for each
// item, and the pieces that extractions and rewrites report.
#pragma once

#include <cstdint>

#include "platform/platform.h"

class ProgressMeter {
 public:
  // Shows the bar at 0.
  void Begin(platform::Window dialog);
  // What the whole run will handle, known before its first write.
  void SetTotal(uint64_t total) { total_ = total; }
  // The next item will handle `share` bytes; whatever it does, the bar ends
  // it at its share's end (EndItem).
  void BeginItem(uint64_t share);
  // `bytes` more handled, within the item's share.
  void Advance(uint64_t bytes);
  void EndItem();
  // Hides the bar (the shell's copies show their own window).
  void Hide();
  // Removes the bar, if it is there.
  void End();
  uint64_t done() const { return done_; }

 private:
  void Show();
  platform::Window dialog_ = nullptr;
  bool active_ = false;
  uint64_t total_ = 0, done_ = 0, itemEnd_ = 0;
  uint32_t shown_ = 0;
};

// Where the bar stands for `done` of `total` bytes: 0 to kProgressRange,
// never past it, the end only when everything is done.
uint32_t ProgressPosition(uint64_t done, uint64_t total);
