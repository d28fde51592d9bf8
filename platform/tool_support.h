// What the author's tools (qa2) need from the system besides the updater's
// interface: text between UTF-8 and code page 932, the command line as
// UTF-8, and file times of files named in UTF-8. The host implementation
// uses iconv and POSIX; the Win32 one the wide API, so that the tools work
// under any system code page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// UTF-8 to code page 932; false when the text is not UTF-8 or some
// character has no code page 932 form.
bool Utf8ToCp932(const std::string& text, std::string* out);

// Code page 932 text as UTF-8 for a terminal (bytes that do not convert are
// shown as '?' or the system's replacement).
std::string Cp932ToUtf8(const std::string& text);

// The program's arguments, argv[0] included, as UTF-8.
std::vector<std::string> ToolArguments(int argc, char** argv);

// Makes Os()'s file operations take UTF-8 paths, as the tools hold them: on
// Windows through the wide API (the updater's own platform keeps the ANSI
// calls); the host's files take them as they are.
void UseToolFiles();

// The last-write time of the file at `utf8Path` as a Windows file time.
bool FileTimeOfPath(const std::string& utf8Path, uint64_t* fileTime);

// Why the last file operation failed, in words ("No space left on
// device"): errno on POSIX, the thread's last error on Windows.
std::string LastErrorText();

// A whole file mapped read-only: the system pages it in from the file and
// drops it again, so reading a large archive costs no anonymous memory.
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  // False with *error (the cause, without the path) when the file cannot be
  // opened or mapped (a 32-bit process cannot map several GB).
  bool Open(const std::string& utf8Path, std::string* error);
  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }

 private:
  void Close();
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  void* view_ = nullptr;
};

// A scratch file of the tools' own beside an output, named
// "NEAR.~<pid>-<64 random bits>.KIND" in hex. Created new and never through
// a link: whatever already has the name makes Create fail, and nothing is
// written through it. Shared for reading only. Removed when dropped, when the
// process exits, and when SIGINT, SIGTERM or SIGHUP (a console's close on
// Windows) stops the process.
class ToolTempFile {
 public:
  ToolTempFile() = default;
  ~ToolTempFile();
  ToolTempFile(const ToolTempFile&) = delete;
  ToolTempFile& operator=(const ToolTempFile&) = delete;
  // False with *error (the path and the cause) when it cannot be created.
  bool Create(const std::string& nearUtf8, const char* kind, std::string* error);
  const std::string& path() const { return path_; }
  // Positional transfers; false on a failed or short one, the cause in
  // LastErrorText().
  bool WriteAt(uint64_t offset, const void* data, size_t size);
  bool ReadAt(uint64_t offset, void* buffer, size_t size);
  // Puts the content on the disk, then the file in place of `targetUtf8` (a
  // link there is replaced itself, never written through); the file is no
  // longer this object's. False with the cause in LastErrorText().
  bool ReplaceTarget(const std::string& targetUtf8);

 private:
  void Close();
  std::string path_;
  intptr_t handle_ = -1;
  int slot_ = -1;  // in the list that signals clean up
};

// The scratch name for `nearUtf8` (see ToolTempFile), and whether a folder
// entry's `name` has that shape for the file named `baseName`, with its
// process id. Kinds are lowercase letters.
std::string ToolTempName(const std::string& nearUtf8, const char* kind, uint32_t pid, uint64_t random);
bool IsToolTempNameOf(const std::string& name, const std::string& baseName, uint32_t* pid);

// Removes what killed runs left beside `nearUtf8`: files with ToolTempFile's
// shape for it whose process is gone. Returns how many it removed.
int SweepToolTempFiles(const std::string& nearUtf8);

}  // namespace platform
