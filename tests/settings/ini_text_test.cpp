// What the INI reading adds for qa2's check: the line of each entry, the
// entries of the first section of a name, and the section's line.
#include "platform/ini_text.h"

#include <gtest/gtest.h>

namespace {

TEST(IniTextTest, LinesCountEveryKindOfLineEnd) {
  platform::IniText ini("; c\r\n[S]\rA=1\n\nB = \"two\" \r\n[T]\r\nA=3\r\n");
  EXPECT_EQ(ini.SectionLine("s"), 2);
  EXPECT_EQ(ini.SectionLine("T"), 6);
  EXPECT_EQ(ini.SectionLine("U"), 0);
  platform::IniEntry e;
  ASSERT_TRUE(ini.Find("S", "b", &e));
  EXPECT_EQ(e.line, 5);
  EXPECT_EQ(e.key, "B");
  EXPECT_EQ(e.value, "two");
  ASSERT_TRUE(ini.Find("T", "A", &e));
  EXPECT_EQ(e.line, 7);
  EXPECT_EQ(e.value, "3");
}

// A lead byte ending a section's line, and a zero inside a value, end the
// name and the value where the line and the zero do.
TEST(IniTextTest, ALoneLeadByteOrAZeroEndsWhereTheLineOrTheZeroDoes) {
  platform::IniEntry e;
  ASSERT_TRUE(platform::IniText("[S\x83\r\nK=1\r\n").Find("S\x83", "K", &e));
  EXPECT_EQ(e.value, "1");
  ASSERT_TRUE(platform::IniText(std::string("[S]\r\nK=ab\0cd\r\n", 14)).Find("S", "K", &e));
  EXPECT_EQ(e.value, "ab");
}

TEST(IniTextTest, OnlyTheFirstSectionOfANameIsRead) {
  platform::IniText ini("[S]\nA=1\nA=2\n[s]\nB=3\n");
  std::vector<platform::IniEntry> entries = ini.Entries("S");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].line, 2);
  EXPECT_EQ(entries[1].value, "2");
  platform::IniEntry e;
  ASSERT_TRUE(ini.Find("S", "A", &e));
  EXPECT_EQ(e.value, "1");
  EXPECT_FALSE(ini.Find("S", "B", &e));
}

// Windows' GetPrivateProfileString takes one pair of matching quotes off a
// value of at least two bytes: "" and '' are empty, a lone quote stays.
TEST(IniTextTest, QuotesComeOffAsOneMatchingPair) {
  struct Case {
    const char* line;
    const char* value;
  } cases[] = {
      {"K=\"\"", ""},          {"K=''", ""},           {"K=\"", "\""},
      {"K=\"\"\"", "\""},      {"K=\"x'", "\"x'"},     {"K= \" a \" ", " a "},
      {"K='\"q\"'", "\"q\""},
  };
  for (const Case& c : cases) {
    platform::IniText ini(std::string("[S]\r\n") + c.line + "\r\n");
    platform::IniEntry e;
    ASSERT_TRUE(ini.Find("S", "K", &e)) << c.line;
    EXPECT_EQ(e.value, c.value) << c.line;
  }
}

// Section and key names fold every ASCII letter, z included.
TEST(IniTextTest, NamesMatchWithoutRegardToCaseFromAToZ) {
  platform::IniText ini("[Zone]\r\nsize=1\r\nabcdefghijklmnopqrstuvwxyz=2\r\n");
  platform::IniEntry e;
  ASSERT_TRUE(ini.Find("ZONE", "SIZE", &e));
  EXPECT_EQ(e.value, "1");
  ASSERT_TRUE(ini.Find("zONE", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", &e));
  EXPECT_EQ(e.value, "2");
  EXPECT_FALSE(ini.Find("ZONE", "SIZ", &e));
}

}  // namespace
