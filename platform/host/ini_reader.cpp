// The host's reading of INI files, with the observable behaviour of Windows'
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
// above; a missing or unreadable file, section or key gives the fallback.
// Result: the value (or the fallback without its trailing spaces) cut to
// size - 1 bytes and zero-terminated; the count of bytes copied without the
// zero (so size - 1 for a value that was cut). A size of 0 copies nothing.
//
// Not modelled, since update files never use them: UTF-16 files (Windows
// reads them when they carry a byte-order mark), the enumeration forms (a
// null section or key), and case folding beyond ASCII.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/host/host_platform.h"

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }

void TrimBlanks(const char** begin, const char** end) {
  while (*begin < *end && IsBlank(**begin)) ++*begin;
  while (*end > *begin && IsBlank((*end)[-1])) --*end;
}

// The caller's names lose spaces only.
std::string TrimSpaces(const char* name) {
  const char* begin = name;
  const char* end = name + std::strlen(name);
  while (begin < end && *begin == ' ') ++begin;
  while (end > begin && end[-1] == ' ') --end;
  return std::string(begin, end);
}

char FoldCase(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

bool SameName(const char* begin, const char* end, const std::string& name) {
  if (size_t(end - begin) != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (FoldCase(begin[i]) != FoldCase(name[i])) return false;
  return true;
}

uint32_t CopyOut(const char* text, size_t length, char* buffer, uint32_t size) {
  if (size == 0) return 0;
  if (length > size - 1) length = size - 1;
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return uint32_t(length);
}

uint32_t CopyFallback(const char* fallback, char* buffer, uint32_t size) {
  if (!fallback) fallback = "";
  size_t length = std::strlen(fallback);
  while (length > 0 && fallback[length - 1] == ' ') --length;
  return CopyOut(fallback, length, buffer, size);
}

bool ReadWholeFile(const std::string& path, std::string* content) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  char chunk[8192];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) content->append(chunk, n);
  bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
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

}  // namespace

uint32_t ReadIniString(const std::string& hostPath, const char* section, const char* key,
                       const char* fallback, char* buffer, uint32_t size) {
  std::string content;
  if (!section || !key || !ReadWholeFile(hostPath, &content))
    return CopyFallback(fallback, buffer, size);
  const std::string wantSection = TrimSpaces(section);
  const std::string wantKey = TrimSpaces(key);

  enum { Before, Other, Wanted } state = Before;
  const char* p = content.data();
  const char* const fileEnd = p + content.size();
  while (p < fileEnd) {
    const char* line = p;
    while (p < fileEnd && *p != '\n' && *p != '\r') ++p;
    const char* lineEnd = p;
    if (p < fileEnd && *p == '\r') ++p;
    if (p < fileEnd && *p == '\n') ++p;

    TrimBlanks(&line, &lineEnd);
    if (line == lineEnd || *line == ';') continue;
    if (*line == '[') {
      // Only the first section of a name is searched.
      if (state == Wanted) break;
      const char* nameBegin = line + 1;
      const char* nameEnd = SectionNameEnd(nameBegin, lineEnd);
      TrimBlanks(&nameBegin, &nameEnd);
      state = SameName(nameBegin, nameEnd, wantSection) ? Wanted : Other;
      continue;
    }
    if (state != Wanted) continue;
    const char* equals = static_cast<const char*>(std::memchr(line, '=', size_t(lineEnd - line)));
    if (!equals) continue;
    const char* keyBegin = line;
    const char* keyEnd = equals;
    TrimBlanks(&keyBegin, &keyEnd);
    if (!SameName(keyBegin, keyEnd, wantKey)) continue;

    const char* value = equals + 1;
    const char* valueEnd = lineEnd;
    if (const void* nul = std::memchr(value, '\0', size_t(valueEnd - value)))
      valueEnd = static_cast<const char*>(nul);
    TrimBlanks(&value, &valueEnd);
    if (valueEnd - value >= 2 && (*value == '"' || *value == '\'') && valueEnd[-1] == *value) {
      ++value;
      --valueEnd;
    }
    return CopyOut(value, size_t(valueEnd - value), buffer, size);
  }
  return CopyFallback(fallback, buffer, size);
}

}  // namespace platform
