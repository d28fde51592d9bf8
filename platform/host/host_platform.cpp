#include "platform/host/host_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <signal.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/codepage.h"
#include "platform/host/write_behind.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

// 1601-01-01 to 1970-01-01 in 100-ns units.
constexpr int64_t kEpochDelta = 116444736000000000LL;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return s;
}

class HostFile : public ReadableFile {
 public:
  HostFile(int fd, HostPlatform* os, std::string path) : fd_(fd), os_(os), path_(std::move(path)) {}
  ~HostFile() override { ::close(fd_); }
  bool Read(void* buffer, uint32_t size, uint32_t* got) override {
    if (!os_->FileOperation("read", path_)) {
      *got = 0;
      return false;
    }
    size_t total = 0;
    while (total < size) {
      ssize_t n = ::read(fd_, static_cast<char*>(buffer) + total, size - total);
      if (n < 0) {
        if (errno == EINTR) continue;
        *got = uint32_t(total);
        return false;
      }
      if (n == 0) break;
      total += size_t(n);
    }
    *got = uint32_t(total);
    return true;
  }
  bool Seek(uint64_t offset) override { return ::lseek(fd_, off_t(offset), SEEK_SET) >= 0; }
  bool Size(uint64_t* size) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    *size = uint64_t(st.st_size);
    return true;
  }
  bool LastWriteTime(uint64_t* time) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    *time = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return true;
  }

 private:
  int fd_;
  HostPlatform* os_;
  std::string path_;
};

class HostKey : public RegistryKey {
 public:
  explicit HostKey(const std::map<std::string, std::vector<uint8_t>>* values) : values_(values) {}
  long QueryValue(const char* name, void* data, uint32_t* size) override {
    auto it = values_->find(Lower(name));
    if (it == values_->end()) return 2;  // ERROR_FILE_NOT_FOUND
    const std::vector<uint8_t>& bytes = it->second;
    if (bytes.size() > *size) {
      *size = uint32_t(bytes.size());
      return 234;  // ERROR_MORE_DATA
    }
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    *size = uint32_t(bytes.size());
    return 0;
  }

 private:
  const std::map<std::string, std::vector<uint8_t>>* values_;
};

bool IsReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

bool SetTimes(int fd, const char* hostPath, uint64_t time) {
  struct timespec times[2];
  int64_t s, ns;
  UnixFromFileTime(time, &s, &ns);
  times[0].tv_sec = times[1].tv_sec = time_t(s);
  times[0].tv_nsec = times[1].tv_nsec = long(ns);
  return fd >= 0 ? ::futimens(fd, times) == 0 : ::utimensat(AT_FDCWD, hostPath, times, 0) == 0;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", unsigned(value));
  return text;
}

// The content is written beside the target under a name of this process
// and renamed over it, as on Windows. With write-behind, from the second
// piece on the writes go to a thread of their own, and the content is
// synced before the rename: a crash then leaves the old file or the whole
// new one, never an empty one under the target's name.
class HostReplacement : public ReplacementFile {
 public:
  HostReplacement(HostPlatform* os, std::string path, std::string host, std::string temp, int fd,
                  bool failPartWay, uint32_t marks)
      : os_(os), path_(std::move(path)), host_(std::move(host)), temp_(std::move(temp)),
        fd_(fd), failPartWay_(failPartWay), marks_(marks),
        writeBehind_(os->writeBehind && !failPartWay) {}
  ~HostReplacement() override {
    writer_.reset();  // before the descriptor it writes to goes
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(temp_.c_str());
  }
  bool Write(const void* data, uint32_t size) override {
    // Counted as handed over, so that a scripted failure hits the same call
    // whichever thread writes.
    if (fd_ < 0 || !os_->FileOperation("write", path_)) return false;
    if (WriteBehind* writer = Writer()) return writer->Write(data, size);
    ++pieces_;
    const char* bytes = static_cast<const char*>(data);
    size_t toWrite = failPartWay_ ? size / 2 : size;
    size_t done = 0;
    while (done < toWrite) {
      ssize_t n = ::write(fd_, bytes + done, toWrite - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += size_t(n);
    }
    return !failPartWay_;
  }
  uint8_t* Lend(uint32_t before, uint32_t* room) override {
    if (fd_ < 0) return nullptr;
    WriteBehind* writer = Writer();
    *room = WriteBehind::kSlotSize;
    return writer ? writer->Lend(before) : nullptr;
  }
  bool WriteLent(uint32_t size) override {
    if (fd_ < 0 || !os_->FileOperation("write", path_)) return false;
    return writer_ && writer_->WriteLent(size);
  }
  bool Commit(const uint64_t* time) override {
    if (fd_ < 0) return false;
    bool ok = !writer_ || writer_->Finish();
    writer_.reset();
    ok = ok && (!time || (os_->FileOperation("time", path_) && SetTimes(fd_, nullptr, *time)));
    if (ok && writeBehind_ && ::fsync(fd_) != 0) ok = false;
    if (::close(fd_) != 0) ok = false;
    fd_ = -1;
    if (!ok || !os_->FileOperation("rename", path_)) return false;
    if (::rename(temp_.c_str(), host_.c_str()) != 0) return false;
    committed_ = true;
    os_->SetMarks(host_, 0);  // the new file's own, as on Windows
    if (time && !(os_->FileOperation("time", path_) && SetTimes(-1, host_.c_str(), *time)))
      return false;
    // The content is in place: a failure here loses only the attributes.
    if (marks_ && os_->FileOperation("attributes", path_)) os_->SetMarks(host_, marks_);
    return true;
  }

 private:
  HostPlatform* os_;
  std::string path_, host_, temp_;
  int fd_;
  bool failPartWay_;
  uint32_t marks_;
  bool writeBehind_;
  int pieces_ = 0;  // written by the caller's thread
  bool writerTried_ = false;
  std::unique_ptr<WriteBehind> writer_;
  bool committed_ = false;
  // From the second piece on, the disk works while the caller prepares the
  // next one; a file of one piece starts no thread.
  WriteBehind* Writer() {
    if (!writer_ && writeBehind_ && pieces_ > 0 && !writerTried_) {
      writerTried_ = true;
      writer_ = WriteBehind::Start(fd_);
    }
    return writer_.get();
  }
};

}  // namespace

uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
  return uint64_t(seconds * 10000000LL + nanoseconds / 100 + kEpochDelta);
}

void UnixFromFileTime(uint64_t fileTime, int64_t* seconds, int64_t* nanoseconds) {
  int64_t units = int64_t(fileTime) - kEpochDelta;
  int64_t s = units / 10000000LL, r = units % 10000000LL;
  if (r < 0) {
    r += 10000000LL;
    --s;
  }
  *seconds = s;
  *nanoseconds = r * 100;
}

std::string Cp932ToUtf8(const std::string& text) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == iconv_t(-1)) return text;
  std::string out;
  char buffer[4096];
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  while (inLeft > 0) {
    char* o = buffer;
    size_t oLeft = sizeof buffer;
    size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buffer, size_t(o - buffer));
    if (r == size_t(-1) && errno != E2BIG) {
      out.push_back('?');
      ++in;
      --inLeft;
    }
  }
  iconv_close(cd);
  return out;
}

HostPlatform::HostPlatform() {
  const char* tmp = std::getenv("TMPDIR");
  tempFolder_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/";
}

HostPlatform::~HostPlatform() = default;

void HostPlatform::MapDrive(char letter, const std::string& hostFolder, uint32_t type) {
  drives_[Upper(letter)] = Drive{hostFolder, type};
}

void HostPlatform::SetClusters(uint32_t sectorsPerCluster, uint32_t bytesPerSector,
                               uint32_t freeClusters, uint32_t totalClusters) {
  clusters_ = std::vector<uint32_t>{sectorsPerCluster, bytesPerSector, freeClusters,
                                    totalClusters};
}

std::string HostPlatform::HostPath(const char* path) const {
  std::string out;
  const char* p = path;
  if (p[0] && p[1] == ':') {
    auto it = drives_.find(Upper(p[0]));
    out = it != drives_.end() ? it->second.folder : std::string("/nonexistent-drive-") + p[0];
    p += 2;
    if (*p != '\\' && *p != '/') out.push_back('/');
  }
  while (*p) {
    if (IsLeadByte(uint8_t(*p)) && p[1]) {
      out.append(p, 2);
      p += 2;
    } else {
      out.push_back(*p == '\\' ? '/' : *p);
      ++p;
    }
  }
  return out;
}

void HostPlatform::SetResource(const std::string& type, int name, std::vector<uint8_t> bytes) {
  resources_[{type, name}] = std::move(bytes);
}

void HostPlatform::SetRegistryValue(const std::string& key, const std::string& name,
                                    std::vector<uint8_t> bytes) {
  registry_[Lower(key)][Lower(name)] = std::move(bytes);
}

void HostPlatform::SetRegistryString(const std::string& key, const std::string& name,
                                     const std::string& value) {
  std::vector<uint8_t> bytes(value.begin(), value.end());
  bytes.push_back(0);
  SetRegistryValue(key, name, std::move(bytes));
}

void HostPlatform::SetRegistryDword(const std::string& key, const std::string& name,
                                    uint32_t value) {
  SetRegistryValue(key, name,
                   {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                    uint8_t(value >> 24)});
}

Window HostPlatform::AddWindow(const std::string& windowClass, const std::string& title) {
  Window id = reinterpret_cast<Window>(nextWindow_++);
  windows_.push_back(HostWindow{id, windowClass, title, 0});
  return id;
}

void HostPlatform::RemoveWindow(Window window) {
  windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                [&](const HostWindow& w) { return w.id == window; }),
                 windows_.end());
}

uint32_t HostPlatform::GetFileAttributes(const char* path) {
  // A link answers for itself, as a reparse point does on Windows: nothing
  // decided from these attributes reaches through it.
  struct stat st;
  if (::lstat(HostPath(path).c_str(), &st) != 0) return kInvalidAttributes;
  if (S_ISLNK(st.st_mode)) return 0x20 | 0x400;  // ARCHIVE | REPARSE_POINT
  if (S_ISDIR(st.st_mode)) return kAttrDirectory | (IsReadOnly(st) ? kAttrReadOnly : 0);
  // FILE_ATTRIBUTE_ARCHIVE
  return (IsReadOnly(st) ? kAttrReadOnly | 0x20 : 0x20) | Marks(HostPath(path));
}

bool HostPlatform::FileSize(const char* path, uint64_t* size) {
  struct stat st;
  if (::stat(HostPath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = uint64_t(st.st_size);
  return true;
}

bool HostPlatform::SetFileAttributes(const char* path, uint32_t attributes) {
  if (!FileOperation("attributes", path)) return false;
  std::string host = HostPath(path);
  struct stat st;
  if (::lstat(host.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) return true;  // a link has no mode of its own to change
  if (!S_ISDIR(st.st_mode)) SetMarks(host, attributes);
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & kAttrReadOnly) ? (mode & ~mode_t(0222)) : (mode | S_IWUSR);
  return ::chmod(host.c_str(), mode) == 0;
}

bool HostPlatform::CreateDirectory(const char* path) {
  return ::mkdir(HostPath(path).c_str(), 0777) == 0;
}

bool HostPlatform::DeleteFile(const char* path) {
  deletions_.push_back(path);
  if (!FileOperation("delete", path)) return false;
  std::string host = HostPath(path);
  struct stat st;
  // As on Windows, a read-only file or a folder is not deleted; a link is
  // deleted itself.
  if (::lstat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode) ||
      (!S_ISLNK(st.st_mode) && IsReadOnly(st)))
    return false;
  if (::unlink(host.c_str()) != 0) return false;
  SetMarks(host, 0);
  return true;
}

std::unique_ptr<ReadableFile> HostPlatform::OpenForRead(const char* path) {
  std::string host = HostPath(path);
  struct stat st;
  if (::stat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
  if (!FileOperation("open", path)) return nullptr;
  int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<HostFile>(fd, this, path);
}

bool HostPlatform::FileOperation(const char* kind, const std::string& path) {
  bool fail = failOperationCountdown_ > 0 && --failOperationCountdown_ == 0;
  if (recordFileOperations) operations_.push_back((fail ? "!" : "") + std::string(kind) + " " + path);
  return !fail;
}

std::unique_ptr<ReplacementFile> HostPlatform::BeginReplacement(const char* path) {
  ++writes_;
  bool failPartWay = failWriteCountdown_ > 0 && --failWriteCountdown_ == 0;
  std::string host = HostPath(path);
  struct stat st;
  // Windows refuses to replace a read-only file or a folder, even for an
  // administrator; root on the host would not. A link at the destination is
  // replaced itself by the rename, whatever it points to.
  if (::lstat(host.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || IsReadOnly(st))) return nullptr;
  if (!FileOperation("create", path)) return nullptr;
  // Created new: whatever already has this name, a link planted there
  // included, makes the replacement fail rather than be written through.
  std::string temp = host + ".~" + Hex(pid_) + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  return std::make_unique<HostReplacement>(this, path, host, temp, fd, failPartWay, Marks(host));
}

void HostPlatform::FindFiles(const char* pattern, std::vector<std::string>* names) {
  names->clear();
  // The folder ends at the last separator that is not a double-byte
  // character's second byte.
  size_t cut = 0;
  for (size_t i = 0; pattern[i] != '\0'; ++i) {
    if (IsLeadByte(uint8_t(pattern[i])) && pattern[i + 1] != '\0') ++i;
    else if (pattern[i] == '\\') cut = i + 1;
  }
  std::string folder(pattern, cut), mask;
  // Only '*' and '?' are wildcards on Windows; brackets are plain, and so is
  // a double-byte character's second byte 0x5C, fnmatch's escape.
  for (const char* p = pattern + cut; *p; ++p) {
    if (*p == '[' || *p == ']' || *p == '\\') mask.push_back('\\');
    mask.push_back(*p);
  }
  std::string hostFolder = cut ? HostPath(folder.c_str()) : std::string(".");
  DIR* dir = ::opendir(hostFolder.c_str());
  if (!dir) return;
  while (struct dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (::fnmatch(mask.c_str(), entry->d_name, FNM_CASEFOLD) == 0) names->push_back(entry->d_name);
  }
  ::closedir(dir);
  std::sort(names->begin(), names->end());
}

uint32_t HostPlatform::Marks(const std::string& hostPath) const {
  auto it = marks_.find(hostPath);
  return it == marks_.end() ? 0 : it->second;
}

void HostPlatform::SetMarks(const std::string& hostPath, uint32_t attributes) {
  attributes &= kAttrHidden | kAttrSystem;
  if (attributes) marks_[hostPath] = attributes;
  else marks_.erase(hostPath);
}

bool HostPlatform::ProcessIsAlive(uint32_t pid) {
  if (processAlive) return processAlive(pid);
  if (pid == 0) return true;
  return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

void HostPlatform::PumpPendingMessages() {
  ++pumps;
  if (onPump) onPump();
}

FreeSpaceQuery HostPlatform::DiskFreeSpaceEx(const char* root, uint64_t* freeToCaller,
                                             uint64_t* totalBytes, uint64_t* totalFree) {
  if (!extendedQuery_) return FreeSpaceQuery::Unavailable;
  char letter = root[0] ? Upper(root[0]) : 0;
  auto scripted = freeSpace_.find(letter);
  if (scripted != freeSpace_.end()) {
    *freeToCaller = *totalFree = scripted->second;
    *totalBytes = scripted->second * 2 + 1;
    return FreeSpaceQuery::Ok;
  }
  if (drives_.find(letter) == drives_.end()) return FreeSpaceQuery::Failed;
  struct statvfs vfs;
  if (::statvfs(drives_[letter].folder.c_str(), &vfs) != 0) return FreeSpaceQuery::Failed;
  *freeToCaller = uint64_t(vfs.f_bavail) * vfs.f_frsize;
  *totalFree = uint64_t(vfs.f_bfree) * vfs.f_frsize;
  *totalBytes = uint64_t(vfs.f_blocks) * vfs.f_frsize;
  return FreeSpaceQuery::Ok;
}

bool HostPlatform::DiskFreeSpace(const char* root, uint32_t* sectorsPerCluster,
                                 uint32_t* bytesPerSector, uint32_t* freeClusters,
                                 uint32_t* totalClusters) {
  char letter = root[0] ? Upper(root[0]) : 0;
  if (drives_.find(letter) == drives_.end()) return false;
  if (clusters_) {
    *sectorsPerCluster = (*clusters_)[0];
    *bytesPerSector = (*clusters_)[1];
    *freeClusters = (*clusters_)[2];
    *totalClusters = (*clusters_)[3];
    return true;
  }
  uint64_t freeBytes, total;
  auto scripted = freeSpace_.find(letter);
  if (scripted != freeSpace_.end()) {
    freeBytes = scripted->second;
    total = freeBytes * 2;
  } else {
    struct statvfs vfs;
    if (::statvfs(drives_[letter].folder.c_str(), &vfs) != 0) return false;
    freeBytes = uint64_t(vfs.f_bavail) * vfs.f_frsize;
    total = uint64_t(vfs.f_blocks) * vfs.f_frsize;
  }
  // The older query reports at most 2 GiB, as on the systems it comes from.
  *sectorsPerCluster = 8;
  *bytesPerSector = 512;
  *freeClusters = uint32_t(std::min<uint64_t>(freeBytes / 4096, 0x7FFFFFFF / 4096));
  *totalClusters = uint32_t(std::min<uint64_t>(total / 4096, 0x7FFFFFFF / 4096));
  return true;
}

uint32_t HostPlatform::DriveType(const char* root) {
  auto it = drives_.find(root[0] ? Upper(root[0]) : 0);
  return it == drives_.end() ? 1 /* DRIVE_NO_ROOT_DIR */ : it->second.type;
}

void HostPlatform::GetTempFolder(char out[260]) {
  std::memset(out, 0, 260);
  if (tempFolder_.size() < 260) std::memcpy(out, tempFolder_.data(), tempFolder_.size());
}

ShellCopyResult HostPlatform::ShellCopy(Window owner, const char* from, const char* to,
                                        uint32_t flags) {
  CopyRecord record{owner, from, to, flags};
  copies_.push_back(record);
  if (onCopy) onCopy(record);
  if (copyOutcome) return *copyOutcome;
  // FO_COPY of one name: a folder is copied into the target folder under its
  // own name; a file is copied to the target name, creating its folders.
  std::error_code ec;
  fs::path source = HostPath(from), target = HostPath(to);
  if (fs::is_directory(source, ec)) {
    fs::path into = target / source.filename();
    fs::create_directories(into, ec);
    fs::copy(source, into,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  } else if (fs::exists(source, ec)) {
    fs::create_directories(target.parent_path(), ec);
    fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
  } else {
    return ShellCopyResult{2 /* ERROR_FILE_NOT_FOUND */, false};
  }
  return ShellCopyResult{ec ? 0x75 /* DE_OPCANCELLED-like failure */ : 0, false};
}

uint32_t HostPlatform::ReadProfileString(const char* section, const char* key,
                                         const char* fallback, char* buffer, uint32_t size,
                                         const char* path) {
  profileReads_.push_back(std::string(section ? section : "") + "/" + (key ? key : ""));
  return ReadIniString(HostPath(path), section, key, fallback, buffer, size);
}

std::unique_ptr<RegistryKey> HostPlatform::OpenUserKey(const char* subkey) {
  keysOpened_.push_back(subkey);
  auto it = registry_.find(Lower(subkey));
  if (it == registry_.end()) return nullptr;
  return std::make_unique<HostKey>(&it->second);
}

bool HostPlatform::FindOwnResource(const char* type, int name, const uint8_t** data,
                                   uint32_t* size) {
  auto it = resources_.find({type, name});
  if (it == resources_.end() || it->second.empty()) return false;
  *data = it->second.data();
  *size = uint32_t(it->second.size());
  return true;
}

int HostPlatform::MessageBox(Window owner, const char* text, const char* caption,
                             uint32_t style) {
  BoxRecord record{owner, text, caption, style};
  boxes_.push_back(record);
  if (echoBoxes)
    std::fprintf(stderr, "%s: %s\n", Cp932ToUtf8(caption).c_str(), Cp932ToUtf8(text).c_str());
  return boxResponder ? boxResponder(record) : kAnswerOk;
}

Window HostPlatform::FindWindow(const char* windowClass, const char* title) {
  std::string wantClass = windowClass ? Lower(windowClass) : std::string();
  std::string wantTitle = Lower(title ? title : "");
  // The open dialog is a dialog-class window titled with its caption.
  if (!windowClass && dialog_ && !dialog_->ended && Lower(dialog_->title) == wantTitle)
    return dialog_->window;
  for (const HostWindow& w : windows_)
    if (Lower(w.windowClass) == wantClass && Lower(w.title) == wantTitle) return w.id;
  return nullptr;
}

void HostPlatform::ShowAndRaise(Window window) {
  for (HostWindow& w : windows_)
    if (w.id == window) ++w.raised;
}

HostDialog* HostPlatform::DialogOf(Window window) {
  return dialog_ && dialog_->window == window ? dialog_ : nullptr;
}

void HostPlatform::SetWindowText(Window window, const char* text) {
  if (HostDialog* d = DialogOf(window)) d->title = text;
}

void HostPlatform::SetDlgItemText(Window dialog, int id, const char* text) {
  if (HostDialog* d = DialogOf(dialog)) d->texts[id] = text;
}

void HostPlatform::EnableDlgItem(Window dialog, int id, bool enable) {
  if (HostDialog* d = DialogOf(dialog)) d->enabled[id] = enable;
}

void HostPlatform::ShowProgressBar(Window dialog, bool show) {
  if (HostDialog* d = DialogOf(dialog))
    d->progress.push_back({show ? "show" : "hide", 0, writes_, copies_.size()});
}

void HostPlatform::SetProgressBar(Window dialog, uint32_t position) {
  if (HostDialog* d = DialogOf(dialog)) d->progress.push_back({"position", position, writes_, copies_.size()});
}

void HostPlatform::RemoveProgressBar(Window dialog) {
  if (HostDialog* d = DialogOf(dialog)) d->progress.push_back({"remove", 0, writes_, copies_.size()});
}

void HostPlatform::FocusDlgItem(Window dialog, int id) {
  if (HostDialog* d = DialogOf(dialog)) d->focus = id;
}

void HostPlatform::EndDialog(Window dialog, intptr_t code) {
  HostDialog* d = DialogOf(dialog);
  if (d && !d->ended) {
    d->ended = true;
    d->endCode = code;
  }
}

intptr_t HostPlatform::RunDialog(int templateId, DialogHandler& handler) {
  (void)templateId;
  if (failDialogCreation) return -1;
  HostDialog dialog;
  dialog.window = reinterpret_cast<Window>(nextWindow_++);
  dialog.title = "UPDATE";
  dialog.texts[1] = "\x8E\x9F\x82\xD6";  // the template's 次へ
  dialog.texts[1001] = "Info";
  dialog.handler = &handler;
  dialog_ = &dialog;
  handler.OnInit(dialog.window);
  intptr_t result = -1;
  while (!dialog.ended) {
    if (!dialogScript || !dialogScript(dialog)) break;
  }
  if (dialog.ended) result = dialog.endCode;
  lastDialog_ = dialog;
  dialog_ = nullptr;
  return result;
}

Platform& Host() {
  // Outside tests, boxes are the author's tool talking: print them.
  static HostPlatform* instance = [] {
    auto* host = new HostPlatform;
    host->echoBoxes = true;
    host->recordFileOperations = false;
    host->writeBehind = true;
    // Files beside a destination carry the real process id, so that two
    // runs into one folder never share one.
    host->SetProcessId(uint32_t(::getpid()));
    return host;
  }();
  return *instance;
}

namespace {
Platform* current = nullptr;
}

Platform& Os() { return current ? *current : Host(); }
void SetOs(Platform* platform) { current = platform; }

}  // namespace platform
