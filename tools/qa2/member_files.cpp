#include "tools/qa2/member_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <fstream>
#include <vector>

#include "archive/patch.h"
#include "platform/tool_support.h"
#include "tools/qa2/cli.h"

namespace qa2 {
namespace {

namespace fs = std::filesystem;

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

// Member order: code page 932 bytes with ASCII letters as capitals, so that
// the order, and with it the bytes, is the same on every system.
bool MemberNameLess(const std::string& a, const std::string& b) {
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) {
    return uint8_t(upper(x)) < uint8_t(upper(y));
  });
}


// Every regular file at the folder's top level, named, sized and ordered;
// no file is read here.
int CollectMembers(const char* command, const std::string& dir, bool allowEmpty, std::vector<FolderMember>* out) {
  std::error_code ec;
  fs::directory_iterator it(fs::u8path(dir), ec), end;
  if (ec) return Fail(command, kExitIo, "cannot read the folder " + dir + ": " + ec.message());
  for (; it != end; it.increment(ec)) {
    if (ec) return Fail(command, kExitIo, "cannot read the folder " + dir + ": " + ec.message());
    std::error_code statusError;
    if (!fs::is_regular_file(it->status(statusError))) continue;  // subfolders are not packed
    FolderMember m;
    m.shown = it->path().filename().u8string();
    m.path = it->path().u8string();
    if (!platform::Utf8ToCp932(m.shown, &m.member.name))
      return Fail(command, kExitUsage, m.path + ": name '" + m.shown + "' has no code page 932 form");
    BuildError nameError = CheckMemberName(m.member.name);
    if (nameError != BuildError::None)
      return Fail(command, kExitUsage, m.path + ": member name '" + m.shown + "': " + DescribeBuildError(nameError));
    if (IsReservedMemberName(m.member.name.c_str()))
      return Fail(command, kExitUsage, m.path + ": names beginning with " + kReservedMemberPrefix +
                                           " are the archive's own (its patches); rename the file");
    out->push_back(std::move(m));
  }
  if (out->empty() && !allowEmpty) return Fail(command, kExitUsage, dir + " holds no files");
  std::sort(out->begin(), out->end(), [](const FolderMember& a, const FolderMember& b) {
    return MemberNameLess(a.member.name, b.member.name);
  });
  for (size_t i = 1; i < out->size(); ++i)
    if (SameMemberName((*out)[i - 1].member.name, (*out)[i].member.name))
      return Fail(command, kExitUsage, (*out)[i].path + ": member name '" + (*out)[i].shown +
                                            "' is already taken by " + (*out)[i - 1].path +
                                            " (names are compared without regard to case)");
  for (FolderMember& m : *out) {
    if (!platform::FileTimeOfPath(m.path, &m.member.fileTime))
      return Fail(command, kExitIo, "cannot read " + m.path);
    m.member.size = fs::file_size(fs::u8path(m.path), ec);
    if (ec) return Fail(command, kExitIo, "cannot read " + m.path + ": " + ec.message());
    if (m.member.size > 0xFFFFFFFFu)
      return Fail(command, kExitUsage, m.path + ": larger than 4 GiB - 1 bytes, the format's limit");
  }
  return kExitOk;
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
