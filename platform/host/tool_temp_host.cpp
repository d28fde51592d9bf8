// The tools' scratch files on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>

#include "platform/tool_support.h"

namespace platform {
namespace {

// The names a signal handler removes: fixed storage, since the handler may
// neither allocate nor take a lock.
constexpr int kSlots = 8;
constexpr int kFree = 0, kFilling = 1, kReady = 2;
struct Slot {
  std::atomic<int> state{kFree};
  char path[4096];
};
Slot slots[kSlots];

void RemoveRegistered() {
  for (Slot& slot : slots)
    if (slot.state.load() == kReady) ::unlink(slot.path);
}

void OnStopSignal(int signal) {
  RemoveRegistered();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void InstallHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction old;
      // A signal the caller chose to ignore (nohup) stays ignored.
      if (::sigaction(signal, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
      struct sigaction action = {};
      action.sa_handler = OnStopSignal;
      sigemptyset(&action.sa_mask);
      ::sigaction(signal, &action, nullptr);
    }
    std::atexit(RemoveRegistered);
  });
}

int Register(const std::string& path) {
  if (path.size() >= sizeof slots[0].path) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    slots[i].state.store(kReady);
    return i;
  }
  return -1;  // still removed when dropped, only not on a signal
}

void Unregister(int slot) {
  if (slot >= 0) slots[slot].state.store(kFree);
}

uint64_t Random64() {
  std::random_device device;
  return (uint64_t(device()) << 32) ^ device();
}

bool ProcessGone(uint32_t pid) { return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH; }

}  // namespace

ToolTempFile::~ToolTempFile() {
  if (handle_ < 0 && path_.empty()) return;
  Close();
  ::unlink(path_.c_str());
  Unregister(slot_);
}

void ToolTempFile::Close() {
  if (handle_ >= 0) ::close(int(handle_));
  handle_ = -1;
}

bool ToolTempFile::Create(const std::string& nearUtf8, const char* kind, std::string* error) {
  InstallHandlers();
  const uint32_t pid = uint32_t(::getpid());
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::string path = ToolTempName(nearUtf8, kind, pid, Random64());
    // Registered first, so that no signal finds the file made and unnamed.
    int slot = Register(path);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      path_ = path;
      handle_ = fd;
      slot_ = slot;
      return true;
    }
    const int cause = errno;
    Unregister(slot);
    if (cause != EEXIST) {
      *error = "cannot create the temporary file " + path + ": " + std::strerror(cause);
      return false;
    }
  }
  *error = "cannot create a temporary file beside " + nearUtf8 + ": every name tried exists";
  return false;
}

bool ToolTempFile::WriteAt(uint64_t offset, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::pwrite(int(handle_), bytes, size, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    bytes += n;
    offset += uint64_t(n);
    size -= size_t(n);
  }
  return true;
}

bool ToolTempFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
  char* bytes = static_cast<char*>(buffer);
  while (size > 0) {
    ssize_t n = ::pread(int(handle_), bytes, size, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;  // shorter than written: someone cut it
      return false;
    }
    bytes += n;
    offset += uint64_t(n);
    size -= size_t(n);
  }
  return true;
}

bool ToolTempFile::ReplaceTarget(const std::string& targetUtf8) {
  if (handle_ < 0) {
    errno = EBADF;
    return false;
  }
  // Synced first: a crash after the rename leaves the whole new file.
  bool ok = ::fsync(int(handle_)) == 0;
  const int cause = errno;
  Close();
  if (!ok) {
    errno = cause;
    return false;
  }
  if (::rename(path_.c_str(), targetUtf8.c_str()) != 0) return false;
  Unregister(slot_);
  slot_ = -1;
  path_.clear();
  return true;
}

int SweepToolTempFiles(const std::string& nearUtf8) {
  const size_t cut = nearUtf8.rfind('/');
  const std::string folder = cut == std::string::npos ? "." : nearUtf8.substr(0, cut + 1);
  const std::string base = cut == std::string::npos ? nearUtf8 : nearUtf8.substr(cut + 1);
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return 0;
  const uint32_t self = uint32_t(::getpid());
  int removed = 0;
  while (struct dirent* entry = ::readdir(dir)) {
    uint32_t pid = 0;
    if (!IsToolTempNameOf(entry->d_name, base, &pid) || pid == self || !ProcessGone(pid)) continue;
    const std::string path = (cut == std::string::npos ? std::string() : folder) + entry->d_name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) continue;
    if (::unlink(path.c_str()) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

}  // namespace platform
