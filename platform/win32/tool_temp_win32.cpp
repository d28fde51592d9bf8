// The tools' scratch files on Windows, through the wide API.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <random>

#include "platform/tool_support.h"
#include "platform/win32/win32_platform.h"

namespace platform {
namespace {

// The names a console's close removes: fixed storage, read by the handler's
// own thread while the others go on.
constexpr int kSlots = 8;
constexpr int kFree = 0, kFilling = 1, kReady = 2;
struct Slot {
  std::atomic<int> state{kFree};
  wchar_t path[4096];
};
Slot slots[kSlots];

void RemoveRegistered() {
  // The files are shared for deletion: an open one goes when its last
  // handle closes, at the latest when the process ends.
  for (Slot& slot : slots)
    if (slot.state.load() == kReady) DeleteFileW(slot.path);
}

BOOL WINAPI OnConsoleStop(DWORD) {
  RemoveRegistered();
  return FALSE;  // the system's own handling ends the process
}

void InstallHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    SetConsoleCtrlHandler(OnConsoleStop, TRUE);
    std::atexit(RemoveRegistered);
  });
}

int Register(const std::wstring& path) {
  if (path.size() >= sizeof slots[0].path / sizeof(wchar_t)) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::copy(path.c_str(), path.c_str() + path.size() + 1, slots[i].path);
    slots[i].state.store(kReady);
    return i;
  }
  return -1;
}

void Unregister(int slot) {
  if (slot >= 0) slots[slot].state.store(kFree);
}

uint64_t Random64() {
  std::random_device device;
  return (uint64_t(device()) << 32) ^ device() ^ GetTickCount();
}

bool ProcessGone(uint32_t pid) {
  HANDLE process = OpenProcess(0x1000 /* PROCESS_QUERY_LIMITED_INFORMATION */, FALSE, pid);
  if (!process) process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  const bool gone = GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
  CloseHandle(process);
  return gone;
}

// The full wide path past MAX_PATH; empty when the name is not UTF-8.
std::wstring WidePathOf(const std::string& utf8) {
  std::wstring wide;
  return LongWideOfUtf8(utf8.c_str(), &wide) ? wide : std::wstring();
}

}  // namespace

ToolTempFile::~ToolTempFile() {
  if (handle_ == -1 && path_.empty()) return;
  Close();
  DeleteFileW(WidePathOf(path_).c_str());
  Unregister(slot_);
}

void ToolTempFile::Close() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

bool ToolTempFile::Create(const std::string& nearUtf8, const char* kind, std::string* error) {
  InstallHandlers();
  for (int attempt = 0; attempt < 4; ++attempt) {
    const std::string path = ToolTempName(nearUtf8, kind, GetCurrentProcessId(), Random64());
    const std::wstring wide = WidePathOf(path);
    if (wide.empty()) {
      *error = "cannot create the temporary file " + path + ": the name is not a usable path";
      return false;
    }
    const int slot = Register(wide);
    // Created new and never opened through a reparse point; shared for
    // reading (qa2 maps what it wrote to read it back) and deletion (a
    // console's close removes it), never for writing.
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      path_ = path;
      handle_ = reinterpret_cast<intptr_t>(file);
      slot_ = slot;
      return true;
    }
    const DWORD cause = GetLastError();
    Unregister(slot);
    if (cause != ERROR_FILE_EXISTS && cause != ERROR_ALREADY_EXISTS) {
      SetLastError(cause);
      *error = "cannot create the temporary file " + path + ": " + LastErrorText();
      return false;
    }
  }
  *error = "cannot create a temporary file beside " + nearUtf8 + ": every name tried exists";
  return false;
}

namespace {

// One positional transfer in pieces a DWORD counts; a piece that moves
// nothing ends it with `short` as the cause.
template <typename Call>
bool Transfer(intptr_t handle, uint64_t offset, size_t size, DWORD shortCause, Call call) {
  for (size_t done = 0; done < size;) {
    const size_t left = size - done;
    const DWORD piece = left > (DWORD(1) << 30) ? (DWORD(1) << 30) : DWORD(left);
    OVERLAPPED at = {};
    at.Offset = DWORD(offset + done);
    at.OffsetHigh = DWORD((offset + done) >> 32);
    DWORD moved = 0;
    if (!call(reinterpret_cast<HANDLE>(handle), done, piece, &moved, &at)) return false;
    if (moved == 0) {
      SetLastError(shortCause);
      return false;
    }
    done += moved;
  }
  return true;
}

}  // namespace

bool ToolTempFile::WriteAt(uint64_t offset, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  return Transfer(handle_, offset, size, ERROR_DISK_FULL,
                  [&](HANDLE h, size_t done, DWORD piece, DWORD* moved, OVERLAPPED* at) {
                    return WriteFile(h, bytes + done, piece, moved, at) != FALSE;
                  });
}

bool ToolTempFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
  char* bytes = static_cast<char*>(buffer);
  // Shorter than written: someone cut it.
  return Transfer(handle_, offset, size, ERROR_HANDLE_EOF,
                  [&](HANDLE h, size_t done, DWORD piece, DWORD* moved, OVERLAPPED* at) {
                    return ReadFile(h, bytes + done, piece, moved, at) != FALSE;
                  });
}

bool ToolTempFile::ReplaceTarget(const std::string& targetUtf8) {
  if (handle_ == -1) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  const bool flushed = FlushFileBuffers(reinterpret_cast<HANDLE>(handle_)) != FALSE;
  const DWORD cause = GetLastError();
  Close();
  if (!flushed) {
    SetLastError(cause);
    return false;
  }
  const std::wstring target = WidePathOf(targetUtf8);
  if (target.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  if (!MoveFileExW(WidePathOf(path_).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return false;
  Unregister(slot_);
  slot_ = -1;
  path_.clear();
  return true;
}

int SweepToolTempFiles(const std::string& nearUtf8) {
  const size_t cut = nearUtf8.find_last_of("/\\");
  const std::string folder = cut == std::string::npos ? std::string(".\\") : nearUtf8.substr(0, cut + 1);
  const std::string base = cut == std::string::npos ? nearUtf8 : nearUtf8.substr(cut + 1);
  const std::wstring pattern = WidePathOf(folder + "*");
  if (pattern.empty()) return 0;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  const uint32_t self = GetCurrentProcessId();
  int removed = 0;
  do {
    uint32_t pid = 0;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (!IsToolTempNameOf(Utf8OfWide(found.cFileName), base, &pid) || pid == self || !ProcessGone(pid)) continue;
    if (DeleteFileW(WidePathOf(folder + Utf8OfWide(found.cFileName)).c_str())) ++removed;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return removed;
}

}  // namespace platform
