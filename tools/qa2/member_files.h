// Files as the archive builder reads and spools them, in pieces.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/builder.h"
#include "platform/tool_support.h"

namespace qa2 {

// Opens `path` for MemberReader; nullptr with *error ("cannot open PATH:
// cause") when it cannot be read.
std::unique_ptr<MemberReader> OpenMemberFile(const std::string& path, std::string* error);

// A scratch file beside `near` (a platform::ToolTempFile of kind KIND),
// removed when dropped.
class SpoolFile : public BuildSpool {
 public:
  SpoolFile(const std::string& near, const char* kind);
  // False with *error when the file cannot be created. Sweeps first what
  // killed runs left beside `near`.
  bool Open(std::string* error);
  const std::string& path() const { return file_.path(); }
  bool Append(const uint8_t* data, size_t size, std::string* error) override;
  uint64_t end() const override { return end_; }
  void Truncate(uint64_t end) override;
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t size, std::string* error) override;
  // Overwrites bytes already appended.
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t size, std::string* error);
  // Puts what is buffered into the file, for others to read.
  bool Flush(std::string* error);
  // Hands the bytes [0, end()) to `sink` in pieces.
  bool CopyTo(const std::function<bool(const uint8_t*, size_t)>& sink, std::string* error);
  // Puts the first end() bytes, on the disk, in place of `target`; a link
  // there is replaced itself.
  bool ReplaceTarget(const std::string& target, std::string* error);

 private:
  bool Fail(const char* what, std::string* error);
  std::string near_;
  const char* kind_;
  platform::ToolTempFile file_;
  std::vector<uint8_t> pending_;  // the bytes just before end_
  uint64_t end_ = 0;
  uint64_t high_ = 0;  // how far the file was written
};

// Member order: code page 932 bytes with ASCII letters as capitals, so that
// the order, and with it the bytes, is the same on every system.
bool MemberNameLess(const std::string& a, const std::string& b);

// A file of an update folder as a member: its path, its name and its spec.
struct FolderMember {
  std::string path;   // UTF-8
  std::string shown;  // the file name, UTF-8
  MemberSpec member;
};

// Every regular file at the folder's top level, named, sized and in member
// order; no file is read. Prints why it cannot and returns the exit code
// (0 when it can), as `qa2 COMMAND` does; an empty folder is refused unless
// `allowEmpty`.
int CollectMembers(const char* command, const std::string& dir, bool allowEmpty, std::vector<FolderMember>* out);

// Prints why ArchiveBuilder failed and returns the exit code: names 2,
// input and spool 3, memory 4. `paths` are the members' files; `outputError`
// what the output said when it refused bytes.
int ReportBuildFailure(const char* command, const BuildReport& report, const std::vector<std::string>& paths,
                       const std::string& outputError);

// The cause of the last failed C library or stream call, for a message.
std::string LastCause();

}  // namespace qa2
