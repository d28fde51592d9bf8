// The host's GetPrivateProfileStringA: the file's bytes read whole, then
// looked up by the portable INI reading (platform/ini_text.cpp), which holds
// the grammar.
//
// Result: the value (or the fallback without its trailing spaces) cut to
// size - 1 bytes and zero-terminated; the count of bytes copied without the
// zero (so size - 1 for a value that was cut). A size of 0 copies nothing. A
// missing or unreadable file gives the fallback.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/host/host_platform.h"
#include "platform/ini_text.h"

namespace platform {
namespace {

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

}  // namespace

uint32_t ReadIniString(const std::string& hostPath, const char* section, const char* key,
                       const char* fallback, char* buffer, uint32_t size) {
  std::string content;
  if (!section || !key || !ReadWholeFile(hostPath, &content))
    return CopyFallback(fallback, buffer, size);
  IniEntry entry;
  if (!IniText(std::move(content)).Find(section, key, &entry))
    return CopyFallback(fallback, buffer, size);
  return CopyOut(entry.value.data(), entry.value.size(), buffer, size);
}

}  // namespace platform
