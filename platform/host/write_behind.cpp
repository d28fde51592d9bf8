#include "platform/host/write_behind.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace platform {

std::unique_ptr<WriteBehind> WriteBehind::Start(int fd) {
  std::unique_ptr<WriteBehind> writer(new WriteBehind(fd));
  writer->memory_.reset(new (std::nothrow) uint8_t[size_t(kSlots) * (kHeadroom + kSlotSize)]);
  if (!writer->memory_) return nullptr;
  try {
    writer->thread_ = std::thread(&WriteBehind::Run, writer.get());
  } catch (const std::system_error&) {
    return nullptr;
  }
  return writer;
}

WriteBehind::~WriteBehind() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  // A write under way is let finish: the descriptor must not be closed
  // under it.
  thread_.join();
}

bool WriteBehind::WriteOut(const uint8_t* data, uint32_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;  // a write that takes nothing: no room
      return false;
    }
    data += n;
    size -= uint32_t(n);
  }
  return true;
}

void WriteBehind::Run() {
  uint64_t written = 0, stepStart = 0;
  bool failed = false;
  int error = 0;
  for (int tail = 0;; tail = (tail + 1) % kSlots) {
    uint32_t size;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || filled_ > 0; });
      if (stop_) return;
      size = sizes_[tail];
    }
    if (size == 0) break;
    if (!failed) {
      failed = !WriteOut(Slot(tail), size);
      if (failed) error = errno ? errno : EIO;
      written += size;
#ifdef SYNC_FILE_RANGE_WRITE
      if (!failed && written - stepStart >= kFlushStep) {
        // Starts this step's writing out, and waits for the one before:
        // the disk always has work, dirty memory stays near two steps.
        // Only a hint: a file system without it is synced at the end.
        ::sync_file_range(fd_, off_t(stepStart), off_t(written - stepStart),
                          SYNC_FILE_RANGE_WRITE);
        if (stepStart >= kFlushStep)
          ::sync_file_range(fd_, off_t(stepStart - kFlushStep), off_t(kFlushStep),
                            SYNC_FILE_RANGE_WAIT_BEFORE);
        stepStart = written;
      }
#endif
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (failed && !failed_) {
      failed_ = true;
      error_ = error;
    }
    --filled_;
    changed_.notify_all();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

void WriteBehind::Post() {
  std::unique_lock<std::mutex> lock(mutex_);
  sizes_[head_] = fill_;
  ++filled_;
  changed_.notify_all();
  head_ = (head_ + 1) % kSlots;
  fill_ = 0;
  // The next buffer to fill must be free: at most kSlots - 1 wait.
  changed_.wait(lock, [&] { return filled_ < kSlots; });
}

bool WriteBehind::Write(const void* data, uint32_t size) {
  if (finished_) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failed_) return Failed();
  }
  lent_ = false;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const uint32_t piece = size < kSlotSize - fill_ ? size : kSlotSize - fill_;
    std::memcpy(Slot(head_) + fill_, bytes, piece);
    fill_ += piece;
    bytes += piece;
    size -= piece;
    if (fill_ == kSlotSize) Post();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_ ? Failed() : true;
}

uint8_t* WriteBehind::Lend(uint32_t before) {
  if (finished_ || before > kHeadroom) return nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failed_) return nullptr;
  }
  if (fill_ > 0) Post();  // the headroom must not hold gathered bytes
  lent_ = true;
  return Slot(head_);
}

bool WriteBehind::WriteLent(uint32_t size) {
  if (finished_ || !lent_ || size > kSlotSize) return false;
  lent_ = false;
  if (size > 0) {
    fill_ = size;
    Post();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_ ? Failed() : true;
}

bool WriteBehind::Failed() const {
  errno = error_;
  return false;
}

bool WriteBehind::Finish() {
  if (finished_) return false;
  finished_ = true;
  if (fill_ > 0) Post();
  Post();  // the end
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return ended_; });
  lock.unlock();
  thread_.join();
  return failed_ ? Failed() : true;
}

}  // namespace platform
