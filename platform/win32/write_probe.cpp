// Whether a Win32 program can write a file while it keeps computing, without
// a second thread: writes SIZE bytes in 1 MB pieces to FILE, flushing every
// 32 MB and at the end, each way below, and prints how long the writing
// thread spent inside the write and flush calls (time it could not
// compute) against the whole.
//
//   write_probe FILE [SIZE_MB]       (Windows, or Wine; not part of the build)
//
//   sync        WriteFile and FlushFileBuffers on one thread, as today
//   overlapped  FILE_FLAG_OVERLAPPED, four pieces in flight; counts how many
//               writes the system actually left pending
//   thread      a writer thread with four pieces queued; the caller only
//               hands pieces over
//
// Built by hand: x86_64-w64-mingw32-g++ -O2 -o write_probe.exe write_probe.cpp
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD kPiece = 1 << 20;
constexpr int kInFlight = 4;
constexpr uint64_t kFlushStep = uint64_t(32) << 20;

double Now() {
  LARGE_INTEGER f, t;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t);
  return double(t.QuadPart) / double(f.QuadPart);
}

// Stands for decoding the next piece: about 1 ms of work per megabyte.
volatile uint64_t sink;
void Compute(uint8_t* piece) {
  uint64_t h = 0;
  for (DWORD i = 0; i < kPiece; ++i) {
    h = h * 31 + piece[i];
    piece[i] = uint8_t(h >> 7);
  }
  sink = h;
}

void Report(const char* how, double total, double blocked, int pending, int writes) {
  std::printf("%-10s %6.2f s in all, %6.2f s inside write and flush calls", how, total, blocked);
  if (pending >= 0) std::printf(", %d of %d writes left pending", pending, writes);
  std::printf("\n");
}

void Sync(const char* path, int pieces) {
  std::vector<uint8_t> piece(kPiece, 1);
  HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  double start = Now(), blocked = 0;
  uint64_t unflushed = 0;
  for (int i = 0; i < pieces; ++i) {
    Compute(piece.data());
    double t = Now();
    DWORD n;
    WriteFile(f, piece.data(), kPiece, &n, nullptr);
    if ((unflushed += kPiece) >= kFlushStep) {
      FlushFileBuffers(f);
      unflushed = 0;
    }
    blocked += Now() - t;
  }
  double t = Now();
  FlushFileBuffers(f);
  CloseHandle(f);
  blocked += Now() - t;
  Report("sync", Now() - start, blocked, -1, pieces);
}

void Overlapped(const char* path, int pieces) {
  std::vector<std::vector<uint8_t>> buffers(kInFlight, std::vector<uint8_t>(kPiece, 1));
  OVERLAPPED ov[kInFlight] = {};
  bool busy[kInFlight] = {};
  for (auto& o : ov) o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  double start = Now(), blocked = 0;
  int pending = 0;
  uint64_t offset = 0, unflushed = 0;
  for (int i = 0; i < pieces; ++i) {
    int slot = i % kInFlight;
    double t = Now();
    DWORD n;
    if (busy[slot]) GetOverlappedResult(f, &ov[slot], &n, TRUE);
    blocked += Now() - t;
    Compute(buffers[slot].data());
    t = Now();
    ov[slot].Offset = DWORD(offset);
    ov[slot].OffsetHigh = DWORD(offset >> 32);
    ResetEvent(ov[slot].hEvent);
    if (!WriteFile(f, buffers[slot].data(), kPiece, nullptr, &ov[slot]) &&
        GetLastError() == ERROR_IO_PENDING)
      ++pending;
    busy[slot] = true;
    offset += kPiece;
    if ((unflushed += kPiece) >= kFlushStep) {
      FlushFileBuffers(f);
      unflushed = 0;
    }
    blocked += Now() - t;
  }
  double t = Now();
  for (int s = 0; s < kInFlight; ++s) {
    DWORD n;
    if (busy[s]) GetOverlappedResult(f, &ov[s], &n, TRUE);
  }
  FlushFileBuffers(f);
  CloseHandle(f);
  blocked += Now() - t;
  Report("overlapped", Now() - start, blocked, pending, pieces);
}

struct Queue {
  std::vector<std::vector<uint8_t>> buffers;
  HANDLE file;
  HANDLE filled, emptied;  // semaphores
  int pieces;
};

DWORD WINAPI Writer(void* arg) {
  Queue* q = static_cast<Queue*>(arg);
  uint64_t unflushed = 0;
  for (int i = 0; i < q->pieces; ++i) {
    WaitForSingleObject(q->filled, INFINITE);
    DWORD n;
    WriteFile(q->file, q->buffers[i % kInFlight].data(), kPiece, &n, nullptr);
    if ((unflushed += kPiece) >= kFlushStep) {
      FlushFileBuffers(q->file);
      unflushed = 0;
    }
    ReleaseSemaphore(q->emptied, 1, nullptr);
  }
  FlushFileBuffers(q->file);
  return 0;
}

void Threaded(const char* path, int pieces) {
  Queue q;
  q.buffers.assign(kInFlight, std::vector<uint8_t>(kPiece, 1));
  q.file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  q.filled = CreateSemaphoreA(nullptr, 0, kInFlight, nullptr);
  q.emptied = CreateSemaphoreA(nullptr, kInFlight, kInFlight, nullptr);
  q.pieces = pieces;
  double start = Now(), blocked = 0;
  HANDLE writer = CreateThread(nullptr, 0, Writer, &q, 0, nullptr);
  for (int i = 0; i < pieces; ++i) {
    double t = Now();
    WaitForSingleObject(q.emptied, INFINITE);
    blocked += Now() - t;
    Compute(q.buffers[i % kInFlight].data());
    ReleaseSemaphore(q.filled, 1, nullptr);
  }
  double t = Now();
  WaitForSingleObject(writer, INFINITE);
  CloseHandle(q.file);
  blocked += Now() - t;
  Report("thread", Now() - start, blocked, -1, pieces);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: write_probe FILE [SIZE_MB]\n");
    return 2;
  }
  int pieces = argc > 2 ? std::atoi(argv[2]) : 1000;
  for (int round = 0; round < 2; ++round) {
    Sync(argv[1], pieces);
    DeleteFileA(argv[1]);
    Overlapped(argv[1], pieces);
    DeleteFileA(argv[1]);
    Threaded(argv[1], pieces);
    DeleteFileA(argv[1]);
  }
  return 0;
}
