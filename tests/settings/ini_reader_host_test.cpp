// The host INI reader where it follows Windows rather than Wine (so the
// differential run under Wine cannot check it), and its bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/host/host_platform.h"
#include "tests/support/temp_folder.h"

namespace {

struct Result {
  uint32_t count;
  std::string text;
};

Result Read(const std::string& content, const char* section, const char* key,
            uint32_t size = 260) {
  TempFolder folder;
  std::string path = folder / "T.INI";
  WriteTestFile(path, content);
  std::string buffer(size + 8, '#');
  uint32_t count = platform::ReadIniString(path, section, key, "", &buffer[0], size);
  EXPECT_EQ(buffer.substr(size), std::string(8, '#')) << "wrote past the size";
  if (size > 0) {
    EXPECT_EQ(buffer[count], '\0');
  }
  return Result{count, buffer.substr(0, count)};
}

TEST(HostIniReaderTest, WindowsOnlyRules) {
  struct Case {
    const char* content;
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"[SET]UP]\r\nKey=v\r\n", "SET", "Key", "v"},
      {"[SET]UP]\r\nKey=v\r\n", "SET]UP", "Key", ""},
      {"Key=global\r\n[SETUP]\r\n", "", "Key", ""},
      {"[SETUP\r\nKey=v\r\n", "SETUP", "Key", "v"},
      {"[SETUP]\r\nKey=v\r\n", "\tSETUP", "Key", ""},
      {"[SETUP]\r\nKey=v\r\n", " SETUP ", " Key ", "v"},
      {"[SETUP]\r\n;Key=x\r\n", "SETUP", ";Key", ""},
      {"\xEF\xBB\xBF[SETUP]\r\nKey=v\r\n", "SETUP", "Key", ""},
      // ゾ ends in 0x5D: it does not close the section name.
      {"[\x83\x5D]\r\nK=1\r\n", "\x83\x5D", "K", "1"},
  };
  for (const Case& c : cases) {
    Result r = Read(c.content, c.section, c.key);
    EXPECT_EQ(r.text, c.value) << c.content << " / " << c.section << " / " << c.key;
    EXPECT_EQ(r.count, std::strlen(c.value));
  }
}

TEST(HostIniReaderTest, QuotedValueIsUnquotedBeforeItIsCut) {
  EXPECT_EQ(Read("[S]\r\nQ=\"abcdef\"\r\n", "S", "Q", 7).text, "abcdef");
  EXPECT_EQ(Read("[S]\r\nQ=\"abcdef\"\r\n", "S", "Q", 6).text, "abcde");
}

TEST(HostIniReaderTest, CutValuesStayInsideTheBuffer) {
  std::string content = "[S]\r\nK=" + std::string(5000, 'v') + "\r\n";
  for (uint32_t size : {0u, 1u, 2u, 20u, 1024u}) {
    Result r = Read(content, "S", "K", size);
    EXPECT_EQ(r.count, size ? size - 1 : 0) << size;
  }
}

}  // namespace
