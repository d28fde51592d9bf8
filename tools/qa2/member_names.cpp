#include "tools/qa2/member_names.h"

#include <cstdio>
#include <cstring>

#include "archive/builder.h"
#include "platform/codepage.h"
#include "platform/tool_support.h"

namespace qa2 {
namespace {

std::string Hex(uint8_t byte) {
  char text[5];
  std::snprintf(text, sizeof text, "\\x%02X", byte);
  return text;
}

// One character's UTF-8 form, or nothing when code page 932 has none: a
// character is taken only when its UTF-8 form converts back to its bytes.
bool ConvertCharacter(const std::string& character, std::string* out) {
  std::string converted = platform::Cp932ToUtf8(character), back;
  if (converted.empty() || !platform::Utf8ToCp932(converted, &back) || back != character)
    return false;
  *out = converted;
  return true;
}

}  // namespace

std::string MemberNameBytes(const ArchiveEntry& entry) {
  return std::string(entry.name, strnlen(entry.name, kArchiveNameField));
}

std::string EscapedMemberName(const std::string& cp932) {
  std::string out;
  for (size_t i = 0; i < cp932.size();) {
    uint8_t c = uint8_t(cp932[i]);
    size_t length = platform::IsLeadByte(c) && i + 1 < cp932.size() ? 2 : 1;
    std::string character = cp932.substr(i, length), converted;
    if (length == 1 && c == '\\') {
      out += "\\\\";
    } else if (length == 1 && c >= 0x20 && c < 0x7F) {
      out.push_back(char(c));
    } else if (c >= 0x80 && ConvertCharacter(character, &converted)) {
      out += converted;
    } else {
      out += Hex(c);  // one byte: the next may begin a character of its own
      length = 1;
    }
    i += length;
  }
  return out;
}

std::string UnsafeMemberNameReason(const std::string& cp932, std::string* fileName) {
  BuildError error = CheckMemberName(cp932);
  if (error != BuildError::None) return DescribeBuildError(error);
  std::string utf8;
  for (size_t i = 0; i < cp932.size();) {
    size_t length = platform::IsLeadByte(uint8_t(cp932[i])) ? 2 : 1;
    std::string converted;
    if (uint8_t(cp932[i]) < 0x80) {
      converted = cp932.substr(i, 1);
    } else if (!ConvertCharacter(cp932.substr(i, length), &converted)) {
      return "has no code page 932 form";
    }
    utf8 += converted;
    i += length;
  }
  *fileName = utf8;
  return {};
}

}  // namespace qa2
