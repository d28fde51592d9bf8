#include <fcntl.h>
#include <iconv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {
class HostMappedFile : public MappedFile {
 public:
  HostMappedFile(void* data, size_t size) : data_(data), size_(size) {}
  ~HostMappedFile() override { ::munmap(data_, size_); }
  const uint8_t* data() const override { return static_cast<const uint8_t*>(data_); }
  size_t size() const override { return size_; }

 private:
  void* data_;
  size_t size_;
};
}  // namespace

std::unique_ptr<MappedFile> MapFile(const std::string& utf8Path) {
  int fd = ::open(utf8Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  void* data = MAP_FAILED;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    data = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (data == MAP_FAILED) return nullptr;
  // Read front to back once: the kernel may read ahead further.
  ::madvise(data, size_t(st.st_size), MADV_SEQUENTIAL);
  return std::make_unique<HostMappedFile>(data, size_t(st.st_size));
}

}  // namespace platform
