// qa2 preview: the updater's own start-up and update procedure run against
// an installation folder on a machine that changes nothing on disk
// (platform/overlay), and what it did, file by file.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/tool_support.h"

namespace qa2 {

struct PatchPlanOptions;

struct PreviewOptions {
  std::string install;        // local folder (UTF-8)
  std::string instPath;       // Windows path (UTF-8); empty: C:\Games\<GameDir>
  std::string data;           // local folder; empty: the installation folder
  std::string dataPath;       // Windows path; empty: as InstPath, or C:\Save\<GameDir> with --data
  int32_t mode = 0;
  std::map<char, std::string> cdroms;  // drive letter -> local folder
  std::optional<uint64_t> freeBytes;
};

// The actions a file line can carry, as `qa2 preview --help` lists them.
//   new            written, no file was there
//   replace        written over the installed file
//   replace-newer  written over an installed file later than the member
//   rewrite        a d entry's file kept, written back with its own bytes
//   keep           a d entry's file kept, its rewrite fails (read-only)
//   keep-newer     a u entry left alone: the installed file is later
//   patch          a known old version patched to the new one
//   already-new    the installed file is the new version: left untouched
//   wrong-version  neither a known old version nor the new one: the update
//                  stops before writing anything (exit code 0)
//   skip-absent    an o entry (or OverwriteOnly) with no file installed
//   other-mode     the entry names another install mode
//   fail           the write fails (why says how); the update stops there
//   member-missing the archive lacks the member; the update stops there
//   disc-missing   the file is not on the disc; the update stops there
//   wait-disc      the disc is in no --cdrom drive: the player is asked
//   not-reached    after the update stopped
struct PreviewFile {
  std::string path;     // local (UTF-8), as it is or would be named on disk
  std::string target;   // the updater's Windows path (UTF-8)
  std::string action;
  bool writes = false;
  std::string why;
  std::string entry;    // "UpdateFile03", "CopyFile00"
  std::string from;     // copies: the disc's Windows path (UTF-8)
  uint64_t bytes = 0;   // written bytes, when it writes
};

struct PreviewMessage {
  std::string kind;  // "box" or "page"
  std::string caption, text;  // UTF-8
};

struct PreviewReport {
  std::optional<int> exitCode;  // none: the run waits for the player
  std::string waits;            // "", "disc", "space"
  std::string registryKey;      // UTF-8, empty when never opened
  std::string instPath, dataPath;  // UTF-8
  std::string instPathSource, dataPathSource;
  int32_t instMode = 0;
  std::vector<PreviewMessage> messages;
  std::vector<PreviewFile> files;
  std::vector<std::string> deletions;  // local paths
  struct Attribute {
    std::string path;
    uint32_t from, to;
  };
  std::vector<Attribute> attributes;
  uint64_t bytesWritten = 0;
  uint64_t freeBytes = 0;
  std::string freeSource;
  std::optional<uint32_t> requiredDiskSpace;
  // Where the run ends with exit code 0 and no message at all: the key read
  // last, which ended it ("" otherwise).
  std::string silentEnd;
  // A link, FIFO, socket or device met in the given folders: nothing is
  // predicted.
  std::string inputError;
};

// Runs the updater with the `size` bytes at `archive` as its resource (none
// when `size` is 0); they stay in place until it returns.
PreviewReport RunPreview(const PreviewOptions& options, const uint8_t* archive, size_t size);
inline PreviewReport RunPreview(const PreviewOptions& options, const std::vector<uint8_t>& archive) {
  return RunPreview(options, archive.data(), archive.size());
}

// The archive `qa2 build` would make of an update folder, its members stored
// (not compressed, since a preview decodes nothing it need not), written to
// a scratch file in the temporary folder and mapped: a member of gigabytes
// costs no memory of the process's own. Removed when dropped.
class FolderArchive {
 public:
  // 0, or the exit code after printing why the folder cannot be read or a
  // name cannot be a member's (as `qa2 COMMAND`).
  // With bases, the members, patches and table `qa2 build --base` (with
  // --fast when `fast`) would make.
  int Build(const char* command, const std::string& dir, const PatchPlanOptions& patches, bool fast);
  const uint8_t* data() const { return map_.data(); }
  size_t size() const { return size_t(map_.size()); }

 private:
  platform::ToolTempFile file_;
  platform::MappedFile map_;
};

std::string FormatPreviewText(const PreviewReport& report);
std::string FormatPreviewJson(const PreviewReport& report);

// What a preview cannot know, said once at the top.
extern const char kPreviewUnknowns[];

}  // namespace qa2
