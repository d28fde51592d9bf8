#include "platform/win32/background_writer.h"

#include <cstring>

#include "platform/win32/win32_platform.h"

namespace platform {

std::unique_ptr<BackgroundWriter> BackgroundWriter::Start(HANDLE file, HANDLE flushFile) {
  std::unique_ptr<BackgroundWriter> writer(new BackgroundWriter(file, flushFile));
  writer->memory_ = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, SIZE_T(kSlots) * (kHeadroom + kSlotSize), MEM_COMMIT | MEM_RESERVE,
                   PAGE_READWRITE));
  // One count beyond the buffers: the stop signal of a full queue.
  writer->filledSignal_ = CreateSemaphoreA(nullptr, 0, kSlots + 1, nullptr);
  writer->freeSignal_ = CreateSemaphoreA(nullptr, 0, kSlots, nullptr);
  if (!writer->memory_ || !writer->filledSignal_ || !writer->freeSignal_) return nullptr;
  writer->thread_ = CreateThread(nullptr, 64 * 1024, ThreadProc, writer.get(),
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (!writer->thread_) return nullptr;
  if (flushFile != INVALID_HANDLE_VALUE) {
    // Without this thread the flushes are the writer's own.
    writer->flushWanted_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (writer->flushWanted_)
      writer->flusher_ = CreateThread(nullptr, 64 * 1024, FlushThreadProc, writer.get(),
                                      STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  }
  return writer;
}

BackgroundWriter::~BackgroundWriter() {
  if (thread_) {
    InterlockedExchange(&stop_, 1);
    WakeWriter();
    // A write or flush under way is let finish: the handle must not be
    // closed under it.
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
  if (flusher_) {
    StopFlushes();
    WaitForSingleObject(flusher_, INFINITE);
    CloseHandle(flusher_);
  }
  if (flushWanted_) CloseHandle(flushWanted_);
  if (filledSignal_) CloseHandle(filledSignal_);
  if (freeSignal_) CloseHandle(freeSignal_);
  if (memory_) VirtualFree(memory_, 0, MEM_RELEASE);
}

DWORD WINAPI BackgroundWriter::ThreadProc(void* self) {
  static_cast<BackgroundWriter*>(self)->Run();
  return 0;
}

DWORD WINAPI BackgroundWriter::FlushThreadProc(void* self) {
  static_cast<BackgroundWriter*>(self)->RunFlushes();
  return 0;
}

void BackgroundWriter::RunFlushes() {
  // Steps written during a flush make one flush after it: the event holds
  // one signal at most.
  for (;;) {
    WaitForSingleObject(flushWanted_, INFINITE);
    if (stop_) return;
    if (!FlushFileBuffers(flushFile_)) InterlockedExchange(&failed_, 1);
  }
}

void BackgroundWriter::Run() {
  uint64_t unflushed = 0;
  for (int tail = 0;; tail = (tail + 1) % kSlots) {
    TakePiece();
    if (stop_) return;
    const uint32_t size = sizes_[tail];
    bool ok = !failed_;
    if (size == 0) return;
    if (ok) {
      DWORD written = 0;
      ok = WriteFile(file_, Slot(tail), size, &written, nullptr) &&
           written == size;
      // Flushed as it goes: the flush before the rename then waits for a
      // step's worth or two at most.
      if (ok && (unflushed += size) >= kFlushStep) {
        unflushed = 0;
        if (flusher_)
          SetEvent(flushWanted_);
        else
          ok = FlushFileBuffers(file_) != FALSE;
      }
      if (!ok) InterlockedExchange(&failed_, 1);
    }
    GiveBack();
  }
}

void BackgroundWriter::TakePiece() {
  if (InterlockedDecrement(&filled_) < 0) WaitForSingleObject(filledSignal_, INFINITE);
}

void BackgroundWriter::GiveBack() {
  if (InterlockedIncrement(&free_) <= 0) ReleaseSemaphore(freeSignal_, 1, nullptr);
}

void BackgroundWriter::WakeWriter() {
  if (InterlockedIncrement(&filled_) <= 0) ReleaseSemaphore(filledSignal_, 1, nullptr);
}

bool BackgroundWriter::WaitHandlingMessages(HANDLE object) {
  for (;;) {
    DWORD r = MsgWaitForMultipleObjects(1, &object, FALSE, INFINITE, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) return true;
    if (r != WAIT_OBJECT_0 + 1) return false;
    PumpQueuedMessages();  // input woke the wait: it must be taken
  }
}

bool BackgroundWriter::Hold() {
  if (held_) return true;
  if (InterlockedDecrement(&free_) < 0 && !WaitHandlingMessages(freeSignal_)) {
    // The count stays taken: nothing more is posted after a failed wait.
    finished_ = true;
    return false;
  }
  held_ = true;
  return true;
}

void BackgroundWriter::Hand(uint32_t size) {
  held_ = false;
  sizes_[head_] = size;
  head_ = (head_ + 1) % kSlots;
  WakeWriter();
}

bool BackgroundWriter::Post(const void* data, uint32_t size) {
  if (!Hold()) return false;
  if (size) std::memcpy(Slot(head_), data, size);
  Hand(size);
  return true;
}

uint8_t* BackgroundWriter::Lend(uint32_t before) {
  if (failed_ || finished_ || before > kHeadroom || !Hold()) return nullptr;
  return Slot(head_);
}

bool BackgroundWriter::WriteLent(uint32_t size) {
  if (failed_ || finished_ || !held_ || size > kSlotSize) return false;
  if (size) Hand(size);  // a size of 0 would end the writing
  return !failed_;
}

bool BackgroundWriter::Write(const void* data, uint32_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    if (failed_ || finished_) return false;
    const uint32_t piece = size < kSlotSize ? size : kSlotSize;
    if (!Post(bytes, piece)) return false;
    bytes += piece;
    size -= piece;
  }
  return !failed_;
}

void BackgroundWriter::StopFlushes() {
  InterlockedExchange(&stop_, 1);
  SetEvent(flushWanted_);
}

bool BackgroundWriter::Finish() {
  if (finished_) return false;
  finished_ = true;
  bool ok = Post(nullptr, 0) && WaitHandlingMessages(thread_);
  if (!ok) return false;
  CloseHandle(thread_);
  thread_ = nullptr;
  if (flusher_) {
    // A flush under way ends first; one still wanted is the caller's last.
    StopFlushes();
    if (!WaitHandlingMessages(flusher_)) return false;
    CloseHandle(flusher_);
    flusher_ = nullptr;
  }
  return !failed_;
}

}  // namespace platform
