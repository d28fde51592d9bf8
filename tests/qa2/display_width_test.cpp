// Column widths of qa2's listings: full-width characters take two columns,
// half-width katakana one, as a terminal shows them.
#include "tools/qa2/display_width.h"

#include <gtest/gtest.h>

namespace {

TEST(DisplayWidthTest, FullWidthTakesTwoColumnsHalfWidthOne) {
  struct Case {
    const char* text;
    size_t width;
  } cases[] = {
      {"GAME.EXE", 8},
      {"\xE6\x98\x9F\xE3\x81\xAE\xE8\xA8\x98\xE6\x86\xB6.DAT", 12},  // 星の記憶.DAT
      {"\xEF\xBD\xB1\xEF\xBD\xB2\xEF\xBD\xB3.DAT", 7},                 // ｱｲｳ.DAT (half-width)
      {"\xEF\xBC\xA1\xEF\xBC\xA2", 4},                                 // ＡＢ (full-width)
      {"\xE2\x91\xA0", 1},                                             // ① ambiguous: narrow
      {"\\x87\\\\", 6},                                               // escapes as qa2 shows them
      {"", 0},
      {"\xE6\x98", 2},  // a cut sequence: one column a byte, never read past the end
  };
  for (const Case& c : cases) EXPECT_EQ(qa2::DisplayWidth(c.text), c.width) << c.text;
}

TEST(DisplayWidthTest, PaddingFillsToTheColumnAndNeverCuts) {
  EXPECT_EQ(qa2::PadToWidth("\xE6\x98\x9F.DAT", 10), "\xE6\x98\x9F.DAT    ");  // 星.DAT: 6 wide
  EXPECT_EQ(qa2::PadToWidth("LONGER_THAN_10", 10), "LONGER_THAN_10");
}

}  // namespace
