// A file's writes on a thread of their own, so that the caller goes on
// (decoding the next piece) while the disk works. POSIX; the host platform's
// counterpart of the Win32 writer thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

// Pieces of any size are gathered into a few buffers of its own (kSlots of
// kSlotSize bytes: memory stays bounded whatever the file's size), or made
// in them by the caller (Lend), and written in order. Every kFlushStep bytes the kernel is told to start
// writing the step out, and the step before it is waited for, so that the
// final flush waits for little and dirty pages never pile up. The
// descriptor stays the caller's; it must outlive this.
class WriteBehind {
 public:
  static constexpr uint32_t kSlotSize = 1u << 20;
  static constexpr int kSlots = 4;
  static constexpr uint64_t kFlushStep = uint64_t(32) << 20;
  // Before each buffer, room that a borrower may use as it likes (a
  // decoder keeps the output that its next piece copies from there).
  static constexpr uint32_t kHeadroom = 16u << 10;

  // nullptr when the thread or its buffers cannot be had.
  static std::unique_ptr<WriteBehind> Start(int fd);
  // Stops the thread; pieces not yet written are dropped.
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Takes `size` bytes over. False once any write has failed, with errno
  // set to that write's error, as a write of the caller's own would.
  bool Write(const void* data, uint32_t size);
  // An empty buffer, kSlotSize bytes with kHeadroom before them, for the
  // caller to make a piece in; what was gathered before is handed over
  // first. The same one until WriteLent or Write takes it. nullptr after a
  // failure, or when `before` is more than the headroom.
  uint8_t* Lend(uint32_t before);
  // Hands the first `size` bytes of the lent buffer over, as Write does.
  // They stay readable and unchanged while the caller fills the next one.
  bool WriteLent(uint32_t size);
  // Waits until every piece is written (not flushed: the caller syncs);
  // true when all were. Called at most once; Write is not called after it.
  bool Finish();

 private:
  explicit WriteBehind(int fd) : fd_(fd) {}
  void Run();
  // Hands the buffer being filled over; waits while every buffer is taken.
  void Post();
  bool WriteOut(const uint8_t* data, uint32_t size);
  // Sets errno to the failed write's error; returns false. Under mutex_ or
  // after the thread has ended.
  bool Failed() const;
  uint8_t* Slot(int index) const {
    return memory_.get() + size_t(index) * (kHeadroom + kSlotSize) + kHeadroom;
  }

  const int fd_;
  std::unique_ptr<uint8_t[]> memory_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Under mutex_:
  uint32_t sizes_[kSlots] = {};  // 0: the end
  int filled_ = 0;               // buffers handed over, not yet written
  bool failed_ = false;
  int error_ = 0;  // errno of the failed write, set again for the caller
  bool stop_ = false;
  bool ended_ = false;
  // The caller's own:
  int head_ = 0;        // the buffer being filled
  uint32_t fill_ = 0;   // bytes in it
  bool lent_ = false;   // the caller makes a piece in it
  bool finished_ = false;
};

}  // namespace platform
