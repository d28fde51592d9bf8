// The conversions of tools/qa2/cp932.h through the system's (platform/
// tool_support.h): iconv on the host, the wide API on Windows.
#include <cstdio>

#include "platform/codepage.h"
#include "platform/tool_support.h"
#include "tools/qa2/cp932.h"

namespace qa2 {

bool Utf8ToCp932(const std::string& text, std::string* out) {
  return platform::Utf8ToCp932(text, out);
}

std::string Cp932ToShown(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    uint8_t c = uint8_t(text[i]);
    size_t length = platform::IsLeadByte(c) && i + 1 < text.size() ? 2 : 1;
    std::string character = text.substr(i, length), converted, back;
    if (c >= 0x20 && c < 0x80) {
      out.push_back(char(c));
    } else if (c >= 0x80 && !(converted = platform::Cp932ToUtf8(character)).empty() &&
               platform::Utf8ToCp932(converted, &back) && back == character) {
      out += converted;  // taken only when it converts back to the same bytes
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
