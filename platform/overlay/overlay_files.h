// Files as a Windows program would see them, kept in memory over real folders
// that never change: Windows paths (code page 932, '\') under given roots map
// onto local folders, names are looked up without regard to ASCII case, and
// every write (file, folder, attributes, deletion, time) lands in the overlay
// so that later reads see it. Paths outside every root exist only in the
// overlay (the temporary folder, say).
//
// Memory stays bounded: a written file keeps its size, time and attributes,
// and its bytes only up to kKeptContent (a larger one reads back as zeros of
// its size). Local paths are UTF-8; the real folders are read through
// platform/overlay/local_files.h, which also reaches paths past MAX_PATH.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

class OverlayFiles {
 public:
  static constexpr uint64_t kKeptContent = 1u << 20;

  // Windows path `root` (e.g. "C:\Games\HOSHI" or "Q:") stands for the local
  // folder `localFolder` (UTF-8). The longest matching root wins.
  void Mount(const std::string& root, const std::string& localFolder);
  // A folder that exists only in the overlay (the temporary folder).
  void AddVirtualFolder(const std::string& path);
  // The file time that writes without a time get.
  void SetNow(uint64_t fileTime) { now_ = fileTime; }

  // What a path is now, real or overlaid.
  struct Entry {
    bool exists = false;
    bool folder = false;
    uint32_t attributes = kInvalidAttributes;
    uint64_t size = 0;
    uint64_t time = 0;
  };
  Entry Look(const std::string& path);
  // The local path of `path` with every existing component as it is named on
  // disk and the rest as given (UTF-8); empty when outside every root or
  // without a UTF-8 form.
  std::string LocalPath(const std::string& path);
  // The last name of `path` as the folder spells it (code page 932).
  std::string FoundName(const std::string& path);

  // The Platform's file calls, with Win32's results.
  uint32_t GetFileAttributes(const std::string& path);
  bool SetFileAttributes(const std::string& path, uint32_t attributes);
  bool CreateDirectory(const std::string& path);
  bool DeleteFile(const std::string& path);
  std::unique_ptr<ReadableFile> OpenForRead(const std::string& path);
  std::unique_ptr<ReplacementFile> BeginReplacement(const std::string& path);
  void FindFiles(const std::string& pattern, std::vector<std::string>* names);
  // The whole content, whatever its size, as the profile getters read it.
  // False when absent, a folder, unreadable or too large for memory.
  bool ReadWhole(const std::string& path, std::string* content);
  // The first path met in the real folders that is neither a regular file
  // nor a folder, named with its kind; empty when none was met. Such a path
  // looks absent, and nothing predicted after meeting it is to be trusted.
  const std::string& inputError() const { return inputError_; }
  // SHFileOperationA's FO_COPY of one name: a folder goes into `to` under its
  // own name, a file to the name `to` (folders created). 0 or an error code.
  int Copy(const std::string& from, const std::string& to);

  // What changed, in order.
  struct Change {
    enum Kind { Written, Copied, Attributes, Deleted, Folder };
    Change(Kind k, std::string p) : kind(k), path(std::move(p)) {}
    Kind kind;
    std::string path;      // Windows path
    std::string from;      // Copied: the source's Windows path
    uint64_t size = 0;     // Written, Copied: the new size
    uint64_t oldSize = 0;  // the size it replaced (0 when new)
    bool existed = false;  // the path was a file before
    uint64_t oldTime = 0;  // its time then
    uint32_t oldAttributes = 0, newAttributes = 0;  // Attributes
  };
  const std::vector<Change>& changes() const { return changes_; }
  // Bytes written less bytes freed on the drive of `letter`, by paths under
  // a root.
  int64_t Growth(char letter) const;

  // Keys: the path's components joined by '\', ASCII letters as capitals.
  static std::string Key(const std::string& path);

 private:
  struct Node {
    Entry entry;
    std::string name;     // the last component, as given (code page 932)
    std::string local;    // the local path it has or would have (UTF-8)
    bool keptContent = false;
    std::string content;  // when keptContent
    std::string realSource;  // otherwise the local file that holds the bytes, if any
  };
  struct Mounted {
    std::string key;
    std::string local;
  };
  friend class OverlayReplacement;

  static std::vector<std::string> Split(const std::string& path);
  const Mounted* MountOf(const std::string& key) const;
  // The real entry of a path under a root; empty local when none.
  bool RealLocal(const std::string& path, std::string* local);
  Entry LookName(const std::string& path);
  std::string inputError_;
  Entry RealEntry(const std::string& local);
  // A local folder's entries (code page 932 name as capitals, local path),
  // read once: the real folders do not change.
  const std::vector<std::pair<std::string, std::string>>& Listing(const std::string& local);
  void Commit(const std::string& path, uint64_t size, const uint64_t* time, std::string content,
              bool kept);
  void Record(Change change, char drive);
  Node& Put(const std::string& path, const Entry& entry);
  static std::string Parent(const std::string& path);
  static std::string LastName(const std::string& path);
  bool CopyFile(const std::string& from, const std::string& to);
  bool CopyFolder(const std::string& from, const std::string& to);
  std::vector<std::string> List(const std::string& folder);  // names, code page 932

  std::vector<Mounted> mounts_;
  std::map<std::string, Node> nodes_;
  // Local folder -> its entries (code page 932 name, local path).
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> listings_;
  std::vector<Change> changes_;
  std::map<char, int64_t> growth_;
  uint64_t now_ = 0;
};

// Whether code page 932 `name` matches `pattern` ('*' any run, '?' one
// character), ASCII letters without regard to case.
bool MatchesWildcard(const std::string& pattern, const std::string& name);

}  // namespace platform
