// A file's writes and flushes on a thread of their own, so that the caller
// goes on (decoding the next piece) while the disk works. Include only from
// platform/win32.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

namespace platform {

// Pieces are copied into a few buffers of its own (kSlots of kSlotSize
// bytes: memory stays bounded whatever the file's size), or made in them by
// the caller (Lend), and written in order. Every kFlushStep bytes the file is flushed: given a second handle
// of the same file, by a thread of its own while the writes go on (a flush
// of a step takes as long as the disk needs for it, longer than the caller
// needs to fill every buffer), else between two writes. A caller that finds
// every buffer taken, or waits for the end, keeps handling its thread's
// messages meanwhile. The handles stay the caller's; they must outlive this.
class BackgroundWriter {
 public:
  static constexpr uint32_t kSlotSize = 1u << 20;
  static constexpr int kSlots = 4;
  static constexpr uint64_t kFlushStep = uint64_t(32) << 20;
  // Before each buffer, room that a borrower may use as it likes (a
  // decoder keeps the output that its next piece copies from there).
  static constexpr uint32_t kHeadroom = 16u << 10;

  // nullptr when the thread or its buffers cannot be had. `flushFile`, a
  // handle of the same file with write access, or INVALID_HANDLE_VALUE.
  static std::unique_ptr<BackgroundWriter> Start(HANDLE file,
                                                 HANDLE flushFile = INVALID_HANDLE_VALUE);
  // Stops the thread; pieces not yet written are dropped.
  ~BackgroundWriter();
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;

  // Hands `size` bytes over. False once any write or flush has failed.
  bool Write(const void* data, uint32_t size);
  // The next buffer to be written, kSlotSize bytes with kHeadroom before
  // them, for the caller to make a piece in; waits (handling messages) for
  // one to be free. The same one until WriteLent or Write takes it. nullptr
  // after a failure, or when `before` is more than the headroom.
  uint8_t* Lend(uint32_t before);
  // Hands the first `size` bytes of the lent buffer over, as Write does.
  // They stay readable and unchanged while the caller fills the next one.
  bool WriteLent(uint32_t size);
  // Waits until every piece is written and every flush begun has ended;
  // true when all succeeded. The file's last step is the caller's to flush.
  // Called at most once; Write is not called after it.
  bool Finish();

 private:
  BackgroundWriter(HANDLE file, HANDLE flushFile) : file_(file), flushFile_(flushFile) {}
  static DWORD WINAPI ThreadProc(void* self);
  static DWORD WINAPI FlushThreadProc(void* self);
  void Run();
  void RunFlushes();
  void StopFlushes();
  // Waits for `object`, handling messages meanwhile; false if waiting failed.
  static bool WaitHandlingMessages(HANDLE object);
  bool Post(const void* data, uint32_t size);
  // The caller's side: the next buffer made its own, and handed over.
  bool Hold();
  void Hand(uint32_t size);
  uint8_t* Slot(int index) const {
    return memory_ + SIZE_T(index) * (kHeadroom + kSlotSize) + kHeadroom;
  }
  // The writer's side of the queue: a piece to take, and a buffer given back.
  void TakePiece();
  void GiveBack();
  void WakeWriter();

  HANDLE file_;
  HANDLE flushFile_;
  HANDLE thread_ = nullptr;
  HANDLE flusher_ = nullptr;     // the flushing thread, with flushFile_
  HANDLE flushWanted_ = nullptr;  // auto-reset: another step was written
  // The queue's two counts, each kept by interlocked operations and backed
  // by a semaphore that only a side that must sleep waits on: a wait or a
  // signal is a round trip to the server under Wine, and one per piece on
  // each side kept the caller waiting for a third of its time.
  volatile LONG filled_ = 0;           // pieces handed over, not yet taken; -1: the writer sleeps
  volatile LONG free_ = kSlots;        // buffers the caller may fill; -1: the caller sleeps
  HANDLE filledSignal_ = nullptr;
  HANDLE freeSignal_ = nullptr;
  uint8_t* memory_ = nullptr;
  uint32_t sizes_[kSlots] = {};  // 0: the end, flush and stop
  int head_ = 0;                 // the caller's next buffer
  bool held_ = false;            // the caller holds it (its free count taken)
  volatile LONG failed_ = 0;
  volatile LONG stop_ = 0;
  bool finished_ = false;
};

}  // namespace platform
