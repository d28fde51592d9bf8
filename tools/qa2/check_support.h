// What the update-folder check and the installation check share: findings
// and their printing, values read as the updater's getters leave them, and
// the nearest known name for a misspelt one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/ini_text.h"

namespace qa2 {

// A note tells what the update will do that its author may not expect; it
// is neither counted nor fails the check.
enum class Severity { Error, Warning, Note };

struct Finding {
  std::string file;  // "UPDATE.INI", "SETUP.INI" or a folder file
  int line;          // 0: the report names no line
  Severity severity;
  std::string text;
};

class Findings {
 public:
  void Report(const std::string& file, int line, Severity severity, const std::string& text);
  int errors() const { return errors_; }
  int warnings() const { return warnings_; }
  // `iniFile`'s reports by line, then the others in order of report, as
  // "FILE:LINE: error|warning: ..." or "FILE: error|warning: ...".
  void Print(FILE* out, const std::string& iniFile) const;

 private:
  std::vector<Finding> findings_;
  int errors_ = 0;
  int warnings_ = 0;
};

// One value as the updater's getter leaves it in its buffer.
struct IniValue {
  bool present = false;  // a non-empty value
  bool given = false;    // the key is in the file, perhaps empty
  std::string text;      // cut to the field
  size_t length = 0;     // the whole value's length in the file
  int line = 0;
};
IniValue ReadIniValue(const platform::IniText& ini, const char* section, const std::string& key,
                      size_t field);

// Where a ';' after a value starts what its author meant as a comment:
// a ';' with a blank before it. npos when there is none.
size_t TrailingCommentAt(const std::string& value);

// The known name closest to `name` (case ignored, a swap of two neighbours
// counting as one edit) when it is near enough to be a misspelling of it;
// empty otherwise.
std::string ClosestName(const std::string& name, const std::vector<std::string>& known);

// "'text'" with the code page 932 bytes shown in UTF-8.
std::string Quote(const std::string& cp932);
// " (see ANCHOR)"
std::string See(const char* anchor);

}  // namespace qa2

namespace qa2 {

// What Windows would open at `relative` (code page 932; '\' or '/' between
// names, a double-byte character's second byte never one) below `root`,
// letter case ignored: empty when nothing is there. When a folder holds two
// names that Windows sees as one, *twins names both (UTF-8) and the result
// is empty.
std::filesystem::path ResolveWindowsPath(const std::filesystem::path& root, const std::string& relative,
                                         std::string* twins);

// A file's content as patches name it: its size and SHA-256.
struct FileContent {
  uint64_t size = 0;
  uint8_t hash[32] = {};
  std::string path;  // one file that holds it (UTF-8)
  bool operator==(const FileContent& o) const;
};
// False with *error when the file cannot be read.
bool ReadFileContent(const std::string& path, FileContent* content, std::string* error);

}  // namespace qa2
