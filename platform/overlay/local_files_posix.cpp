#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/overlay/local_files.h"

namespace platform {
namespace local {
namespace {

uint64_t FileTime(const struct timespec& t) {
  return uint64_t((int64_t(t.tv_sec) + 11644473600LL) * 10000000LL + t.tv_nsec / 100);
}

class PosixReader : public ReadableFile {
 public:
  PosixReader(std::FILE* file, uint64_t size, uint64_t time) : file_(file), size_(size), time_(time) {}
  ~PosixReader() override { std::fclose(file_); }
  bool Read(void* buffer, uint32_t size, uint32_t* got) override {
    *got = uint32_t(std::fread(buffer, 1, size, file_));
    return !std::ferror(file_);
  }
  bool Seek(uint64_t offset) override { return ::fseeko(file_, off_t(offset), SEEK_SET) == 0; }
  bool Size(uint64_t* size) override {
    *size = size_;
    return true;
  }
  bool LastWriteTime(uint64_t* time) override {
    *time = time_;
    return true;
  }

 private:
  std::FILE* file_;
  uint64_t size_, time_;
};

}  // namespace

bool StatPath(const std::string& path, Stat* stat, bool follow) {
  struct stat st;
  if ((follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) return false;
  stat->exists = true;
  stat->folder = S_ISDIR(st.st_mode);
  stat->readOnly = (st.st_mode & S_IWUSR) == 0;
  stat->size = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
  stat->time = FileTime(st.st_mtim);
  if (S_ISLNK(st.st_mode)) stat->other = "a symbolic link";
  else if (S_ISFIFO(st.st_mode)) stat->other = "a FIFO";
  else if (S_ISSOCK(st.st_mode)) stat->other = "a socket";
  else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) stat->other = "a device";
  else if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) stat->other = "neither a file nor a folder";
  return true;
}

bool ListFolder(const std::string& folder, std::vector<std::string>* names) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return false;
  while (struct dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names->push_back(e->d_name);
  }
  ::closedir(dir);
  return true;
}

std::unique_ptr<ReadableFile> OpenRead(const std::string& path, uint64_t size, uint64_t time) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  std::FILE* file = nullptr;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !(file = ::fdopen(fd, "rb"))) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixReader>(file, size, time);
}

uint64_t FreeSpace(const std::string& folder) {
  struct statvfs st;
  if (::statvfs(folder.c_str(), &st) != 0) return 0;
  return uint64_t(st.f_bavail) * st.f_frsize;
}

}  // namespace local
}  // namespace platform
