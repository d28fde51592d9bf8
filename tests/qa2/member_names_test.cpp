// The names qa2 extract refuses to write and the file names it gives the
// others: a name is only bytes from someone else's archive.
#include "tools/qa2/member_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string FileName(const std::string& cp932, std::string* reason = nullptr) {
  std::string name;
  std::string why = qa2::UnsafeMemberNameReason(cp932, &name);
  if (reason) *reason = why;
  return why.empty() ? name : std::string();
}

TEST(MemberNamesTest, NamesThatAreNoPlainFileNameAreRefused) {
  const char* refused[] = {
      "",         ".",         "..",       "A/B",      "A\\B",     "..\\X",  "C:X",      "/ETC",
      "CON",      "con.txt",   "COM1",     "lpt9.dat", "NUL .X",   "A\x01",  "A\x1F",    "A\x7F",
      "A<B",      "A>B",       "A\"B",     "A|B",      "A?B",      "A*B",    "NAME.",    "NAME ",
      "\x81",     "AB\x95",    "ABCDEFGHIJKLMNO",
  };
  for (const char* name : refused) {
    std::string reason;
    EXPECT_EQ(FileName(name, &reason), "") << name;
    EXPECT_FALSE(reason.empty()) << name;
  }
}

// UTF-8 forms from the Unicode names of the characters. A second byte of
// 0x5C (表) or a trailing byte that is a dot or a space after a lead byte
// belongs to its character.
TEST(MemberNamesTest, PlainNamesBecomeTheirUtf8Form) {
  struct Case {
    const char* cp932;
    const char* utf8;
  } cases[] = {
      {"README.TXT", "README.TXT"},
      {"A~B!#$%&'()", "A~B!#$%&'()"},
      {"COM0", "COM0"},
      {"CONX", "CONX"},
      {"\x95\x5C.DAT", "\xE8\xA1\xA8.DAT"},                    // 表
      {"\x83\x5C", "\xE3\x82\xBD"},                             // ソ
      {"\x83\x66\x81\x5B\x83\x5E.DAT", "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.DAT"},  // データ
      {"\xB1\xDF", "\xEF\xBD\xB1\xEF\xBE\x9F"},                 // ｱﾟ half-width
      {"ABCDEFGHIJKLMN", "ABCDEFGHIJKLMN"},
  };
  for (const Case& c : cases) EXPECT_EQ(FileName(c.cp932), c.utf8) << c.cp932;
}

// Bytes below 0x80 are ASCII and taken as they are; from 0x80 on a byte is
// converted or the name refused, and never reaches a file name as itself
// (it would be no UTF-8).
TEST(MemberNamesTest, BytesFromEightyOnAreConvertedNeverCopied) {
  EXPECT_EQ(FileName("A\x7E"), "A~");
  for (int b = 0x80; b <= 0xFF; ++b) {
    const std::string name = std::string("A") + char(b) + "Z";
    std::string reason;
    const std::string file = FileName(name, &reason);
    if (!reason.empty()) continue;
    for (size_t i = 0; i < file.size(); ++i) {
      const uint8_t c = uint8_t(file[i]);
      if (c < 0x80) continue;
      // A UTF-8 sequence: a lead byte, then continuation bytes only.
      ASSERT_TRUE(c >= 0xC2 && c <= 0xEF) << std::hex << b;
      const size_t n = c >= 0xE0 ? 2 : 1;
      for (size_t k = 1; k <= n; ++k) ASSERT_EQ(uint8_t(file[i + k]) & 0xC0, 0x80) << std::hex << b;
      i += n;
    }
  }
  std::string reason;
  FileName("A\x80", &reason);
  if (reason.empty()) {
    EXPECT_EQ(FileName("A\x80"), "A\xC2\x80");  // U+0080, as Windows converts it
  }
}

}  // namespace
