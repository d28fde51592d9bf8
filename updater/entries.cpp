#include "updater/entries.h"

#include <cstdio>

#include "platform/codepage.h"
#include "settings/list_syntax.h"

namespace {

bool IsLetter(const char* token, char lower) {
  return (token[0] == lower || token[0] == lower - 32) && token[1] == '\0';
}

// Bounded copy for texts that the readers have already limited to the field;
// never writes past it.
void CopyCut(char* field, size_t capacity, const char* text) {
  std::snprintf(field, capacity, "%s", text);
}

}  // namespace

int32_t MemberNameOffset(const char* path) {
  int32_t offset = 0;
  for (int32_t i = 0; path[i] != '\0'; ++i) {
    if (platform::IsLeadByte(uint8_t(path[i]))) {
      if (path[i + 1] == '\0') break;
      ++i;
    } else if (path[i] == '\\') {
      offset = i + 1;
    }
  }
  return offset;
}

bool ParseUpdateEntry(const char* value, int32_t instMode, UpdateItem* item) {
  // The token that ends the list leaves its buffer empty.
  char tokens[3][kNameField] = {};
  const char* cursor = value;
  for (auto& token : tokens)
    if (!NextListToken(&cursor, token)) break;

  int examined = 0;
  if (tokens[0][0] >= '0' && tokens[0][0] <= '9' && tokens[0][1] == '\0') {
    if (tokens[0][0] - '0' != instMode) return false;
    examined = 1;
  }
  const char* token = tokens[examined];
  item->kind = Replace;
  const char* path = token;
  if (IsLetter(token, 'd')) item->kind = Data;
  else if (IsLetter(token, 'u')) item->kind = Update;
  else if (IsLetter(token, 'o')) item->kind = Overwrite;
  if (item->kind != Replace) path = tokens[examined + 1];
  CopyCut(item->path, sizeof item->path, path);
  item->nameOffset = MemberNameOffset(item->path);
  return true;
}

bool ParseCopyEntry(const char* value, int32_t instMode, CopyItem* item) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(value);
  if (p[0] != '\0' && p[1] == ',') {
    if (int32_t(p[0]) - '0' != instMode) return false;
    p += 2;
  }
  item->disk = 0;
  if (p[0] != '\0' && p[1] == ':') {
    item->disk = int32_t(p[0]) - '0';
    p += 2;
  }
  CopyCut(item->path, sizeof item->path, reinterpret_cast<const char*>(p));
  return true;
}
