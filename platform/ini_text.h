// INI text as Windows' GetPrivateProfileStringA reads it, from a file's bytes
// in memory: the host platform's profile reader and `qa2 check` both go
// through it, so the check sees UPDATE.INI as the updater does. Portable: no
// system calls. The grammar and the recovery policy are in ini_text.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

struct IniEntry {
  std::string key;    // as written, blanks around it dropped
  std::string value;  // unquoted, blanks dropped, up to a NUL byte
  int line = 0;       // 1-based line of the entry in the file
};

class IniText {
 public:
  explicit IniText(std::string content) : content_(std::move(content)) {}

  // The line of the first section named `section` (compared as the reader
  // compares), or 0 when the file has none.
  int SectionLine(const char* section) const;

  // The entries of that first section, in file order, duplicates included
  // (only the first of a name is ever found).
  std::vector<IniEntry> Entries(const char* section) const;

  // Every section header in file order, repeated names included, with the
  // name as the reader compares it (blanks around it dropped).
  std::vector<IniEntry> Sections() const;

  // GetPrivateProfileStringA's lookup: the first entry named `key` in the
  // first section named `section`. False when there is none.
  bool Find(const char* section, const char* key, IniEntry* entry) const;

 private:
  // Calls visit(entry) for each entry of the first section named `section`
  // until it returns false.
  template <typename Visit>
  void Walk(const char* section, int* sectionLine, Visit visit) const;

  std::string content_;
};

// The names a caller passes lose leading and trailing spaces (only spaces).
std::string TrimIniName(const char* name);
// Section and key names compare without regard to ASCII case.
bool SameIniName(const std::string& a, const std::string& b);

}  // namespace platform
