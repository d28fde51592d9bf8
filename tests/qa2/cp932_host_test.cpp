// The code page 932 validity table against the system's own converter, and
// the UTF-8 guess on the texts an author's editor produces.
#include "tools/qa2/cp932.h"

#include <gtest/gtest.h>
#include <iconv.h>

namespace {

// Whether glibc's CP932 converts `bytes` whole.
bool IconvAccepts(const std::string& bytes) {
  iconv_t cd = iconv_open("UTF-16LE", "CP932");
  if (cd == iconv_t(-1)) return false;
  char out[16];
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* o = out;
  size_t oLeft = sizeof out;
  size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
  iconv_close(cd);
  return r != size_t(-1) && inLeft == 0;
}

TEST(Cp932Test, TableAgreesWithTheSystemOnEveryDoubleByteCode) {
  int checked = 0;
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead >= 0xA0 && lead <= 0xDF) continue;
    for (int trail = 0x00; trail <= 0xFF; ++trail) {
      std::string pair{char(lead), char(trail)};
      ASSERT_EQ(qa2::IsCp932Text(pair), IconvAccepts(pair)) << std::hex << lead << " " << trail;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 60 * 256);
}

TEST(Cp932Test, SingleBytes) {
  EXPECT_TRUE(qa2::IsCp932Text("ASCII ~\x7F"));
  EXPECT_TRUE(qa2::IsCp932Text("\xB1\xDF"));  // half-width katakana
  for (char bad : {'\x80', '\xA0', '\xFD', '\xFE', '\xFF'})
    EXPECT_FALSE(qa2::IsCp932Text(std::string("A") + bad)) << int(uint8_t(bad));
  EXPECT_FALSE(qa2::IsCp932Text("\x82"));  // a lead byte at the end
}

TEST(Cp932Test, Utf8JapaneseIsTold) {
  EXPECT_TRUE(qa2::LooksLikeUtf8("\xE6\x98\x9F\xE3\x81\xAE"));          // 星の
  EXPECT_TRUE(qa2::LooksLikeUtf8("Ver \xE6\x97\xA5\xE6\x9C\xAC"));      // 日本, valid CP932 bytes too
  EXPECT_FALSE(qa2::LooksLikeUtf8("\x90\xAF\x82\xCC\x8B\x4C\x89\xAF"));  // 星の記憶 in CP932
  EXPECT_FALSE(qa2::LooksLikeUtf8("plain ASCII"));
  EXPECT_FALSE(qa2::LooksLikeUtf8("\xC3\xB1"));  // two bytes only: ﾃｱ in CP932
}

}  // namespace
