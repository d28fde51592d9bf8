// The getters against real INI files (the host reader natively, the system's
// own under Wine) and the list scanner on values as the getters leave them.
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/forwarding_platform.h"
#include "tests/support/temp_folder.h"
#include "updater/state.h"

namespace {

// キーが存在しません, written out here rather than taken from the code.
const std::string kKeyMissing =
    "\x83L\x81[\x82\xAA\x91\xB6\x8D\xDD\x82\xB5\x82\xDC\x82\xB9\x82\xF1";

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSettingsState();
    Updater.Reset();
    std::string setup = folder_ / "SETUP.INI", update = folder_ / "UPDATE.INI";
    ASSERT_LT(setup.size(), sizeof SetupIniPath);
    std::strcpy(SetupIniPath, setup.c_str());
    std::strcpy(UpdateIniPath, update.c_str());
  }
  void TearDown() override { ResetSettingsState(); }

  void WriteSetup(const std::string& section) {
    WriteTestFile(SetupIniPath, "[SETUP]\r\n" + section);
  }

  TempFolder folder_;
  ForwardingPlatform os_;
};

struct Token {
  std::string text;
  int32_t disk;
  bool operator==(const Token& o) const { return text == o.text && disk == o.disk; }
};

std::ostream& operator<<(std::ostream& out, const Token& t) {
  return out << '"' << t.text << "\"@" << t.disk;
}

// Scans `value` from a buffer that is zero past it, as the getters leave it.
std::vector<Token> Scan(const std::string& value, int32_t startDisk = 0) {
  std::vector<char> buffer(value.begin(), value.end());
  buffer.resize(kMessageField, '\0');
  CurrentDisk = startDisk;
  std::vector<Token> tokens;
  const char* cursor = buffer.data();
  char field[kNameField];
  while (NextListToken(&cursor, field)) {
    tokens.push_back(Token{field, CurrentDisk});
    if (tokens.size() > 50) break;
  }
  // The end is sticky and leaves the field alone.
  std::memset(field, '#', sizeof field);
  EXPECT_EQ(NextListToken(&cursor, field), 0) << value;
  EXPECT_EQ(field[0], '#');
  return tokens;
}

TEST(ListSyntaxTest, TokensDisksAndEndOfList) {
  struct Case {
    const char* value;
    std::vector<Token> tokens;
  } cases[] = {
      {"a, b ,c", {{"a", 0}, {"b ", 0}, {"c", 0}}},
      {"a,,b", {{"a", 0}}},  // an empty token ends the list
      {",a", {}},
      {"a,", {{"a", 0}}},
      {"   ", {}},
      {"a,  ,b", {{"a", 0}}},  // spaces alone are an empty token too
      {"2:x,y,3:z", {{"x", 2}, {"y", 2}, {"z", 3}}},
      {"x:abc", {{"abc", 0}}},
      {"1: abc", {{" abc", 1}}},
      {"1:", {{"", 1}}},
      {"1:,a", {{"", 1}, {"a", 1}}},
      {"  9:a b,  ::c", {{"a b", 9}, {"c", 0}}},  // ':' itself as a prefix byte
      // A line end separates like a comma; two in a row end the list.
      {"a\nb", {{"a", 0}, {"b", 0}}},
      {"a\r\nb", {{"a", 0}}},
      {"1:2:x", {{"2:x", 1}}},  // only one prefix per token
      {"a\x95,b", {{"a\x95", 0}, {"b", 0}}},  // a lead byte never takes the separator
      // Double-byte names pass whole, even with a second byte of 0x5C.
      {"\x95\x5C.bmp,3:\x83\x5C", {{"\x95\x5C.bmp", 0}, {"\x83\x5C", 3}}},      // Only spaces are skipped before a token: a tab is part of it, and hides
      // a disk prefix behind it.
      {"\ta,b", {{"\ta", 0}, {"b", 0}}},
      {"a,\t,b", {{"a", 0}, {"\t", 0}, {"b", 0}}},
      {"\t1:x", {{"\t1:x", 0}}},
      {"1:\tx", {{"\tx", 1}}},
  };
  for (const Case& c : cases) EXPECT_EQ(Scan(c.value), c.tokens) << "value: " << c.value;
}

TEST(ListSyntaxTest, PrefixCarriesOverToLaterListsUntilReset) {
  EXPECT_EQ(Scan("a", 5), (std::vector<Token>{{"a", 5}}));
  EXPECT_EQ(Scan("7:a,b"), (std::vector<Token>{{"a", 7}, {"b", 7}}));
  EXPECT_EQ(CurrentDisk, 7);
}

// A scanner that steps one past the value's terminating zero reads outside a
// buffer that the value fills (AddressSanitizer catches the read).
TEST(ListSyntaxTest, ValueFillingItsBufferEndsWithoutReadingPastIt) {
  std::unique_ptr<char[]> buffer(new char[kMessageField]);
  std::string value;
  while (value.size() < kMessageField - 1) value += "abcdefg,";
  value.resize(kMessageField - 1);
  value.back() = 'z';  // no trailing comma: the terminating zero ends the last token
  std::memcpy(buffer.get(), value.c_str(), kMessageField);
  const char* cursor = buffer.get();
  char field[kNameField];
  int count = 0;
  while (NextListToken(&cursor, field)) ++count;
  EXPECT_EQ(count, 128);
  EXPECT_EQ(NextListToken(&cursor, field), 0);
  EXPECT_LE(cursor, buffer.get() + kMessageField - 1);
}

// A token longer than the 259 bytes of a field is cut and the rest of it
// skipped; the field's neighbours stay untouched.
TEST(ListSyntaxTest, OverlongTokenIsCutWithinItsField) {
  struct Case {
    std::string value;
    std::string first;  // what the field receives
    std::string second;
  } cases[] = {
      {std::string(600, 'A') + ",b", std::string(259, 'A'), "b"},
      {std::string(259, 'A') + ",b", std::string(259, 'A'), "b"},
      {"4:" + std::string(300, 'C') + ",d", std::string(259, 'C'), "d"},
      // 258 bytes and a double-byte character: the character is not split.
      {std::string(258, 'a') + "\x95\x5C" "zz,q", std::string(258, 'a'), "q"},
      {std::string(257, 'a') + "\x95\x5C" "zz,q", std::string(257, 'a') + "\x95\x5C", "q"},
      {std::string(1000, 'E'), std::string(259, 'E'), ""},
  };
  for (const Case& c : cases) {
    std::vector<char> buffer(c.value.begin(), c.value.end());
    buffer.resize(kMessageField, '\0');
    struct {
      char before[8];
      char field[kNameField];
      char after[8];
    } guarded;
    std::memset(&guarded, '#', sizeof guarded);
    const char* cursor = buffer.data();
    ASSERT_EQ(NextListToken(&cursor, guarded.field), 1);
    EXPECT_EQ(std::string(guarded.field), c.first);
    EXPECT_EQ(std::string(guarded.before, 8), std::string(8, '#'));
    EXPECT_EQ(std::string(guarded.after, 8), std::string(8, '#'));
    char next[kNameField];
    if (c.second.empty()) {
      EXPECT_EQ(NextListToken(&cursor, next), 0);
    } else {
      ASSERT_EQ(NextListToken(&cursor, next), 1);
      EXPECT_EQ(std::string(next), c.second);
    }
  }
}

TEST(ConversionTest, Int32IsAtoiClampedToThirtyTwoBits) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"12abc", 12},       {"abc", 0},           {"", 0},
      {"  \t-7", -7},      {"+3", 3},            {"- 3", 0},
      {"--3", 0},          {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},                 {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},                {"99999999999999999999999", INT32_MAX},
      {"0x10", 0},         {"007", 7},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseInt32(c.text), c.value) << c.text;
}

TEST(ConversionTest, UInt64NegatesModuloAndClampsOnOverflow) {
  struct Case {
    const char* text;
    uint64_t value;
  } cases[] = {
      {"123", 123},
      {"  +5x", 5},
      {"-1", UINT64_MAX},
      {"-2", UINT64_MAX - 1},
      {"abc", 0},
      {"18446744073709551615", UINT64_MAX},
      {"18446744073709551616", UINT64_MAX},
      {"4294967296", 4294967296ull},
      {"9999999999999999999", 9999999999999999999ull},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseUInt64(c.text), c.value) << c.text;
}

TEST_F(SettingsTest, EmptyValueIsMissingAndNamesTheKey) {
  WriteSetup("GameExe=\r\nGameTitle=Title\r\n");
  char buffer[kNameField];
  EXPECT_EQ(GetSetupString("GameExe", buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(GetSetupString("UninstExe", buffer, sizeof buffer), 0);
  ASSERT_EQ(os_.boxes.size(), 2u);
  EXPECT_EQ(os_.boxes[0].text, "SETUP.INI : GameExe " + kKeyMissing);
  EXPECT_EQ(os_.boxes[1].text, "SETUP.INI : UninstExe " + kKeyMissing);
  for (const auto& box : os_.boxes) {
    EXPECT_EQ(box.caption, "INSTCMMN");
    EXPECT_EQ(box.style, platform::kBoxIconError | platform::kBoxOk);
    EXPECT_EQ(box.owner, nullptr);
  }
}

TEST_F(SettingsTest, KeysMatchWithoutRegardToCase) {
  WriteTestFile(SetupIniPath, "[setup]\r\nsetupbmp=a.bmp\r\n");
  char buffer[kMessageField];
  EXPECT_EQ(GetSetupString("SetupBmp", buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "a.bmp");
}

TEST_F(SettingsTest, QuietModeSuppressesEveryMissingKeyBox) {
  WriteSetup("A=1\r\n");
  WriteTestFile(UpdateIniPath, "[UPDATE]\r\n");
  QuietMissingKeys = 1;
  char buffer[kNameField];
  int32_t value = 77;
  EXPECT_EQ(GetSetupString("Missing", buffer, sizeof buffer), 0);
  EXPECT_EQ(GetUpdateIniString("UPDATE", "Missing", buffer, sizeof buffer), 0);
  EXPECT_EQ(GetSetupInt("Missing", &value), 0);
  EXPECT_EQ(value, 77);
  EXPECT_TRUE(os_.boxes.empty());
}

TEST_F(SettingsTest, UpdateIniBoxNamesSectionAndKey) {
  WriteTestFile(UpdateIniPath, "[SETUP]\r\nGameDir=Dir\r\n");
  char buffer[kNameField];
  EXPECT_EQ(GetUpdateIniString("SETUP", "GameDir", buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "Dir");
  EXPECT_EQ(GetUpdateIniString("UPDATE", "UpdateFile00", buffer, sizeof buffer), 0);
  ASSERT_EQ(os_.boxes.size(), 1u);
  EXPECT_EQ(os_.boxes[0].text, "UPDATE : UpdateFile00 " + kKeyMissing);
  EXPECT_EQ(os_.boxes[0].caption, "INSTCMMN");
}

TEST_F(SettingsTest, BoxIsOwnedByTheDialogWhileItIsOpen) {
  platform::Window dialog = reinterpret_cast<platform::Window>(0x4321);
  Updater.OwnerWindow = dialog;
  ShowSettingsError("x");
  ASSERT_EQ(os_.boxes.size(), 1u);
  EXPECT_EQ(os_.boxes[0].owner, dialog);
  EXPECT_EQ(os_.boxes[0].caption, "INSTCMMN");
}

TEST_F(SettingsTest, ValueIsCutToSizeLessOneAndZeroFilledToTheEnd) {
  WriteSetup("Long=abcdefghij\r\nShort=ab\r\n");
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetSetupString("Long", buffer, 5), 1);
  EXPECT_EQ(std::string(buffer, 5), std::string("abcd\0", 5));
  EXPECT_EQ(std::string(buffer + 5, 3), "###");  // nothing past the given size
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetSetupString("Short", buffer, sizeof buffer), 1);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("ab\0\0\0\0\0\0", 8));
}

TEST_F(SettingsTest, MissingSetupIniFailsEveryGetter) {
  char buffer[kNameField];
  int32_t value = 5;
  EXPECT_EQ(GetSetupString("CompanyName", buffer, sizeof buffer), 0);
  EXPECT_EQ(GetSetupInt("InstallSelects", &value), 0);
  EXPECT_EQ(value, 5);
  ASSERT_EQ(os_.boxes.size(), 2u);
  EXPECT_EQ(os_.boxes[1].text, "SETUP.INI : InstallSelects " + kKeyMissing);
}

TEST_F(SettingsTest, IntegerGetterConvertsOnlyTheFirstNineteenBytes) {
  WriteSetup(
      "Digits=12abc\r\n"
      "Letters=abc\r\n"
      "Wide=0000000000000000001234\r\n"  // 22 bytes: "...0001" counts, "234" not
      "Big=99999999999\r\n"
      "Empty=\r\n");
  struct Case {
    const char* key;
    int result;
    int32_t value;
  } cases[] = {
      {"Digits", 1, 12}, {"Letters", 1, 0}, {"Wide", 1, 1},
      {"Big", 1, INT32_MAX}, {"Empty", 0, -5}, {"Absent", 0, -5},
  };
  for (const Case& c : cases) {
    int32_t value = -5;
    EXPECT_EQ(GetSetupInt(c.key, &value), c.result) << c.key;
    EXPECT_EQ(value, c.value) << c.key;
  }
}

}  // namespace
