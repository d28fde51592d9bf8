#include <fcntl.h>
#include <iconv.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "platform/host/host_platform.h"
#include "platform/tool_support.h"

namespace platform {

bool Utf8ToCp932(const std::string& text, std::string* out) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == iconv_t(-1)) return false;
  std::string result(text.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* o = &result[0];
  size_t oLeft = result.size();
  size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
  iconv_close(cd);
  if (r == size_t(-1) || inLeft != 0) return false;
  result.resize(result.size() - oLeft);
  *out = result;
  return true;
}

std::vector<std::string> ToolArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void UseToolFiles() {}

bool FileTimeOfPath(const std::string& utf8Path, uint64_t* fileTime) {
  struct stat st;
  if (::stat(utf8Path.c_str(), &st) != 0) return false;
  *fileTime = FileTimeFromUnix(int64_t(st.st_mtim.tv_sec), int64_t(st.st_mtim.tv_nsec));
  return true;
}

std::string LastErrorText() { return errno ? std::strerror(errno) : "input/output error"; }

MappedFile::~MappedFile() { Close(); }

void MappedFile::Close() {
  if (view_) ::munmap(view_, size_t(size_));
  view_ = nullptr;
  data_ = nullptr;
  size_ = 0;
}

bool MappedFile::Open(const std::string& utf8Path, std::string* error) {
  Close();
  static const uint8_t kEmpty[1] = {0};
  int fd = ::open(utf8Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = S_ISDIR(st.st_mode) ? "is a folder" : std::strerror(errno ? errno : EINVAL);
    ::close(fd);
    return false;
  }
  if (st.st_size == 0) {
    ::close(fd);
    data_ = kEmpty;
    return true;
  }
  void* view = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  const int mapError = errno;
  ::close(fd);
  if (view == MAP_FAILED) {
    *error = std::strerror(mapError);
    return false;
  }
  // Read front to back once: the kernel may read ahead further.
  ::madvise(view, size_t(st.st_size), MADV_SEQUENTIAL);
  view_ = view;
  data_ = static_cast<const uint8_t*>(view);
  size_ = uint64_t(st.st_size);
  return true;
}

}  // namespace platform
