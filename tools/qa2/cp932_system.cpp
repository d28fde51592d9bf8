// The parts of tools/qa2/cp932.h that use the system's conversion
// (platform/tool_support.h): iconv on the host, the wide API on Windows.
#include <cstdio>

#include "platform/codepage.h"
#include "platform/tool_support.h"
#include "tools/qa2/cp932.h"

namespace qa2 {

bool Cp932CharacterToUtf8(const std::string& character, std::string* utf8) {
  std::string converted = platform::Cp932ToUtf8(character), back;
  if (converted.empty() || !platform::Utf8ToCp932(converted, &back) || back != character)
    return false;
  *utf8 = converted;
  return true;
}

std::string Cp932ToShown(const std::string& text, Shown as) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    uint8_t c = uint8_t(text[i]);
    size_t length = platform::IsLeadByte(c) && i + 1 < text.size() ? 2 : 1;
    std::string converted;
    if (as == Shown::Name && c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && (c < 0x7F || (c == 0x7F && as == Shown::Text))) {
      out.push_back(char(c));
    } else if (c >= 0x80 && Cp932CharacterToUtf8(text.substr(i, length), &converted)) {
      out += converted;
    } else {
      // One byte at a time: the next may begin a character of its own.
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned(c));
      out += escaped;
      length = 1;
    }
    i += length;
  }
  return out;
}

}  // namespace qa2
