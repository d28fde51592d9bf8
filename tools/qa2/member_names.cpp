#include "tools/qa2/member_names.h"

#include <cstring>

#include "archive/builder.h"
#include "platform/codepage.h"
#include "tools/qa2/cp932.h"

namespace qa2 {

std::string MemberNameBytes(const ArchiveEntry& entry) {
  return std::string(entry.name, strnlen(entry.name, kArchiveNameField));
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
    } else if (!Cp932CharacterToUtf8(cp932.substr(i, length), &converted)) {
      return "has no code page 932 form";
    }
    utf8 += converted;
    i += length;
  }
  *fileName = utf8;
  return {};
}

}  // namespace qa2
