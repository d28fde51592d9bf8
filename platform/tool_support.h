// What the author's tools (qa2) need from the system besides the updater's
// interface: text between UTF-8 and code page 932, the command line as
// UTF-8, and file times of files named in UTF-8. The host implementation
// uses iconv and POSIX; the Win32 one the wide API, so that the tools work
// under any system code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

// A file's bytes mapped for reading: no buffer to fill first, pages come
// from the cache as they are read. The file must not shrink meanwhile.
class MappedFile {
 public:
  virtual ~MappedFile() = default;
  virtual const uint8_t* data() const = 0;
  virtual size_t size() const = 0;
};

// nullptr when the file cannot be mapped (empty, unreadable, or a system
// whose tools read files whole instead): the caller reads it then.
std::unique_ptr<MappedFile> MapFile(const std::string& utf8Path);

}  // namespace platform
