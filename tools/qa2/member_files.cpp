#include "tools/qa2/member_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/tool_support.h"
#include "tools/qa2/cli.h"
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace qa2 {
namespace {

class FileReader : public MemberReader {
 public:
  FileReader(const std::string& path, std::ifstream in) : path_(path), in_(std::move(in)) {}
  bool Read(uint8_t* buffer, size_t capacity, size_t* got, std::string* error) override {
    errno = 0;
    in_.read(reinterpret_cast<char*>(buffer), std::streamsize(capacity));
    *got = size_t(in_.gcount());
    if (in_.bad() || (in_.fail() && !in_.eof())) {
      *error = "cannot read " + path_ + ": " + LastCause();
      return false;
    }
    return true;
  }

 private:
  std::string path_;
  std::ifstream in_;
};

unsigned long ProcessId() {
#ifdef _WIN32
  return static_cast<unsigned long>(_getpid());
#else
  return static_cast<unsigned long>(getpid());
#endif
}

}  // namespace

std::string LastCause() { return platform::LastErrorText(); }

std::unique_ptr<MemberReader> OpenMemberFile(const std::string& path, std::string* error) {
  errno = 0;
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  if (!in) {
    *error = "cannot open " + path + ": " + LastCause();
    return nullptr;
  }
  return std::unique_ptr<MemberReader>(new FileReader(path, std::move(in)));
}

SpoolFile::SpoolFile(const std::string& near, const char* kind) {
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".~%lx.%s", ProcessId(), kind);
  path_ = near + suffix;
}

SpoolFile::~SpoolFile() {
  if (!created_) return;
  file_.close();
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::u8path(path_), ignored);
}

bool SpoolFile::Open(std::string* error) {
  errno = 0;
  file_.open(std::filesystem::u8path(path_),
             std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
  if (!file_) {
    *error = "cannot create the temporary file " + path_ + ": " + LastCause();
    return false;
  }
  created_ = true;
  return true;
}

bool SpoolFile::Append(const uint8_t* data, size_t size, std::string* error) {
  errno = 0;
  file_.clear();
  if (!file_.seekp(std::streamoff(end_)) || !file_.write(reinterpret_cast<const char*>(data), std::streamsize(size))) {
    *error = "cannot write the temporary file " + path_ + ": " + LastCause();
    return false;
  }
  end_ += size;
  return true;
}

bool SpoolFile::WriteAt(uint64_t offset, const uint8_t* data, size_t size, std::string* error) {
  errno = 0;
  file_.clear();
  if (!file_.seekp(std::streamoff(offset)) || !file_.write(reinterpret_cast<const char*>(data), std::streamsize(size))) {
    *error = "cannot write the temporary file " + path_ + ": " + LastCause();
    return false;
  }
  return true;
}

bool SpoolFile::Flush(std::string* error) {
  errno = 0;
  file_.clear();
  if (!file_.flush()) {
    *error = "cannot write the temporary file " + path_ + ": " + LastCause();
    return false;
  }
  return true;
}

bool SpoolFile::ReadAt(uint64_t offset, uint8_t* buffer, size_t size, std::string* error) {
  errno = 0;
  file_.clear();
  // A write the buffer held shows its failure here at the latest.
  if (!file_.flush()) {
    *error = "cannot write the temporary file " + path_ + ": " + LastCause();
    return false;
  }
  if (!file_.seekg(std::streamoff(offset)) ||
      !file_.read(reinterpret_cast<char*>(buffer), std::streamsize(size))) {
    *error = "cannot read back the temporary file " + path_ + ": " + LastCause();
    return false;
  }
  return true;
}

bool SpoolFile::CopyTo(const std::function<bool(const uint8_t*, size_t)>& sink, std::string* error) {
  std::vector<uint8_t> buffer(size_t(1) << 20);
  for (uint64_t at = 0; at < end_;) {
    const size_t n = size_t(std::min<uint64_t>(buffer.size(), end_ - at));
    if (!ReadAt(at, buffer.data(), n, error)) return false;
    if (!sink(buffer.data(), n)) return false;
    at += n;
  }
  return true;
}

int ReportBuildFailure(const char* command, const BuildReport& report, const std::vector<std::string>& paths,
                       const std::string& outputError) {
  const std::string path = report.member < paths.size() ? paths[report.member] : std::string();
  switch (report.error) {
    case BuildError::ArchiveTooLarge:
      return Fail(command, kExitUsage, "the archive would take " + std::to_string(report.size) +
                                           " bytes, more than the format's 4 GiB - 1");
    case BuildError::ReadFailed:
      return Fail(command, kExitIo, report.detail.empty() ? "cannot read " + path : report.detail);
    case BuildError::MemberChanged:
      return Fail(command, kExitIo, path + ": changed size while it was being read");
    case BuildError::SpoolFailed:
      return Fail(command, kExitIo, report.detail);
    case BuildError::OutputFailed:
      return Fail(command, kExitIo, outputError);
    case BuildError::OutOfMemory:
      return Fail(command, kExitInternal, "out of memory while compressing " + path);
    default:
      return Fail(command, kExitUsage, path + ": " + DescribeBuildError(report.error));
  }
}

}  // namespace qa2
