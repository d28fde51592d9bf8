#include "tools/qa2/member_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/tool_support.h"
#include "tools/qa2/cli.h"

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

SpoolFile::SpoolFile(const std::string& near, const char* kind) : near_(near), kind_(kind) {}

bool SpoolFile::Open(std::string* error) {
  platform::SweepToolTempFiles(near_);
  return file_.Create(near_, kind_, error);
}

bool SpoolFile::Fail(const char* what, std::string* error) {
  *error = std::string(what) + " the temporary file " + path() + ": " + LastCause();
  return false;
}

namespace {
constexpr size_t kSpoolBuffer = size_t(1) << 20;
}

bool SpoolFile::Append(const uint8_t* data, size_t size, std::string* error) {
  errno = 0;
  if (pending_.size() + size > kSpoolBuffer) {
    if (!Flush(error)) return false;
    if (size >= kSpoolBuffer) {
      if (!file_.WriteAt(end_, data, size)) return Fail("cannot write", error);
      end_ += size;
      high_ = std::max(high_, end_);
      return true;
    }
  }
  pending_.insert(pending_.end(), data, data + size);
  end_ += size;
  return true;
}

void SpoolFile::Truncate(uint64_t end) {
  if (end >= end_) return;
  const uint64_t drop = end_ - end;
  pending_.resize(drop >= pending_.size() ? 0 : pending_.size() - size_t(drop));
  end_ = end;
}

bool SpoolFile::Flush(std::string* error) {
  errno = 0;
  if (pending_.empty()) return true;
  if (!file_.WriteAt(end_ - pending_.size(), pending_.data(), pending_.size())) return Fail("cannot write", error);
  pending_.clear();
  high_ = std::max(high_, end_);
  return true;
}

bool SpoolFile::WriteAt(uint64_t offset, const uint8_t* data, size_t size, std::string* error) {
  if (!Flush(error)) return false;
  if (!file_.WriteAt(offset, data, size)) return Fail("cannot write", error);
  high_ = std::max(high_, offset + size);
  return true;
}

bool SpoolFile::ReadAt(uint64_t offset, uint8_t* buffer, size_t size, std::string* error) {
  if (!Flush(error)) return false;
  errno = 0;
  if (!file_.ReadAt(offset, buffer, size)) return Fail("cannot read back", error);
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

bool SpoolFile::ReplaceTarget(const std::string& target, std::string* error) {
  if (!Flush(error)) return false;
  if (high_ > end_) {
    *error = "the temporary file " + path() + " holds more than it should";
    return false;
  }
  errno = 0;
  if (!file_.ReplaceTarget(target)) {
    *error = "cannot replace " + target + ": " + LastCause();
    return false;
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
