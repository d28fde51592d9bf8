// Reading INI text with the observable behaviour of Windows'
// GetPrivateProfileStringA for the files an update carries (code page 932
// text, read as bytes).
//
// Grammar, line by line:
//   line     := blanks* ( comment | section | entry | other )
//   blanks   := ' ' | '\t' | '\v'
//   line end := LF, CR LF, or a lone CR
//   comment  := ';' anything                      -> ignored
//   section  := '[' name ( ']' anything )?        -> starts a section
//   entry    := key '=' value                     -> one key of the section
//   other    := a line without '='                -> ignored
// - A section name runs from '[' to the first ']' (stepping over double-byte
//   characters, whose second byte may be 0x5D) or to the line end when there
//   is none; blanks around it are dropped. Text after the ']' is ignored.
// - A key runs to the first '='; value is the rest of the line. Blanks around
//   both are dropped. A value enclosed in one pair of matching quotes (" or ')
//   loses that pair; inner blanks stay. A NUL byte ends the value.
// - Keys before the first section belong to no section and are never found.
// - Section and key names match without regard to ASCII case. The names the
//   caller gives lose their leading and trailing spaces (only spaces, as on
//   Windows: a tab stays and then matches nothing).
// - The first section with the name is the only one searched, and its first
//   key with the name wins.
//
// Recovery: nothing in a file is an error. Malformed lines are ignored as
// above; a missing section or key is simply not found.
//
// Not modelled, since update files never use them: UTF-16 files (Windows
// reads them when they carry a byte-order mark), the enumeration forms (a
// null section or key), and case folding beyond ASCII.
#include "platform/ini_text.h"

#include <cstring>

#include "platform/codepage.h"

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }

void TrimBlanks(const char** begin, const char** end) {
  while (*begin < *end && IsBlank(**begin)) ++*begin;
  while (*end > *begin && IsBlank((*end)[-1])) --*end;
}

char FoldCase(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

bool SameName(const char* begin, const char* end, const std::string& name) {
  if (size_t(end - begin) != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (FoldCase(begin[i]) != FoldCase(name[i])) return false;
  return true;
}

// The end of a section name: the first ']' that is not the second byte of a
// double-byte character, or the line end.
const char* SectionNameEnd(const char* p, const char* end) {
  while (p < end && *p != ']') {
    if (IsLeadByte(uint8_t(*p)) && end - p >= 2)
      p += 2;
    else
      ++p;
  }
  return p;
}

// The next line at *p, without its line end and the blanks around it; *p
// moves past the line end.
void NextLine(const char** p, const char* fileEnd, const char** line, const char** lineEnd) {
  *line = *p;
  while (*p < fileEnd && **p != '\n' && **p != '\r') ++*p;
  *lineEnd = *p;
  if (*p < fileEnd && **p == '\r') ++*p;
  if (*p < fileEnd && **p == '\n') ++*p;
  TrimBlanks(line, lineEnd);
}

}  // namespace

std::string TrimIniName(const char* name) {
  const char* begin = name;
  const char* end = name + std::strlen(name);
  while (begin < end && *begin == ' ') ++begin;
  while (end > begin && end[-1] == ' ') --end;
  return std::string(begin, end);
}

bool SameIniName(const std::string& a, const std::string& b) {
  return SameName(a.data(), a.data() + a.size(), b);
}

template <typename Visit>
void IniText::Walk(const char* section, int* sectionLine, Visit visit) const {
  const std::string wantSection = TrimIniName(section);
  enum { Before, Other, Wanted } state = Before;
  const char* p = content_.data();
  const char* const fileEnd = p + content_.size();
  int lineNumber = 0;
  while (p < fileEnd) {
    ++lineNumber;
    const char *line, *lineEnd;
    NextLine(&p, fileEnd, &line, &lineEnd);
    if (line == lineEnd || *line == ';') continue;
    if (*line == '[') {
      // Only the first section of a name is searched.
      if (state == Wanted) return;
      const char* nameBegin = line + 1;
      const char* nameEnd = SectionNameEnd(nameBegin, lineEnd);
      TrimBlanks(&nameBegin, &nameEnd);
      state = SameName(nameBegin, nameEnd, wantSection) ? Wanted : Other;
      if (state == Wanted && sectionLine) *sectionLine = lineNumber;
      continue;
    }
    if (state != Wanted) continue;
    const char* equals = static_cast<const char*>(std::memchr(line, '=', size_t(lineEnd - line)));
    if (!equals) continue;
    const char* keyBegin = line;
    const char* keyEnd = equals;
    TrimBlanks(&keyBegin, &keyEnd);

    const char* value = equals + 1;
    const char* valueEnd = lineEnd;
    if (const void* nul = std::memchr(value, '\0', size_t(valueEnd - value)))
      valueEnd = static_cast<const char*>(nul);
    TrimBlanks(&value, &valueEnd);
    if (valueEnd - value >= 2 && (*value == '"' || *value == '\'') && valueEnd[-1] == *value) {
      ++value;
      --valueEnd;
    }
    IniEntry entry;
    entry.key.assign(keyBegin, keyEnd);
    entry.value.assign(value, valueEnd);
    entry.line = lineNumber;
    if (!visit(entry)) return;
  }
}

std::vector<IniEntry> IniText::Sections() const {
  std::vector<IniEntry> sections;
  const char* p = content_.data();
  const char* const fileEnd = p + content_.size();
  int lineNumber = 0;
  while (p < fileEnd) {
    ++lineNumber;
    const char *line, *lineEnd;
    NextLine(&p, fileEnd, &line, &lineEnd);
    if (line == lineEnd || *line != '[') continue;
    const char* nameBegin = line + 1;
    const char* nameEnd = SectionNameEnd(nameBegin, lineEnd);
    TrimBlanks(&nameBegin, &nameEnd);
    IniEntry section;
    section.key.assign(nameBegin, nameEnd);
    section.line = lineNumber;
    sections.push_back(section);
  }
  return sections;
}

int IniText::SectionLine(const char* section) const {
  int line = 0;
  Walk(section, &line, [](const IniEntry&) { return false; });
  return line;
}

std::vector<IniEntry> IniText::Entries(const char* section) const {
  std::vector<IniEntry> entries;
  Walk(section, nullptr, [&](const IniEntry& e) {
    entries.push_back(e);
    return true;
  });
  return entries;
}

bool IniText::Find(const char* section, const char* key, IniEntry* entry) const {
  const std::string wantKey = TrimIniName(key);
  bool found = false;
  Walk(section, nullptr, [&](const IniEntry& e) {
    if (!SameIniName(e.key, wantKey)) return true;
    *entry = e;
    found = true;
    return false;
  });
  return found;
}

}  // namespace platform
