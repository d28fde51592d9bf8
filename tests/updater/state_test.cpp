#include "updater/state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/forwarding_platform.h"

namespace {

class RecordingDialog : public ForwardingPlatform {
 public:
  std::string lastText;
  int lastId = 0;
  void SetDlgItemText(platform::Window, int id, const char* text) override {
    lastId = id;
    lastText = text;
  }
};

TEST(AppendPathComponentTest, JoinsWithOneSeparatorAndLeavesASecondZero) {
  struct Case {
    const char* path;
    const char* component;
    const char* result;
  } cases[] = {
      {"C:\\Game", "SETUP.INI", "C:\\Game\\SETUP.INI"},
      {"C:\\Game\\", "SETUP.INI", "C:\\Game\\SETUP.INI"},
      {"C:/Game/", "SETUP.INI", "C:/Game/SETUP.INI"},
      {"", "UPDATE.INI", "UPDATE.INI"},
      {"C:\\Game", "\\LEAD", "C:\\Game\\\\LEAD"},
      // 表 is 0x95 0x5C: the last byte alone counts as a separator.
      {"C:\\\x95\x5C", "A", "C:\\\x95\x5C" "A"},
  };
  for (const Case& c : cases) {
    char buffer[kNameField];
    std::memset(buffer, 'x', sizeof buffer);
    std::strcpy(buffer, c.path);
    ASSERT_TRUE(AppendPathComponent(buffer, sizeof buffer, c.component)) << c.path;
    EXPECT_STREQ(buffer, c.result);
    EXPECT_EQ(buffer[std::strlen(c.result) + 1], '\0') << "second zero after " << c.result;
  }
}

TEST(AppendPathComponentTest, JoinThatWouldNotFitIsRefusedUntouched) {
  char buffer[kNameField];
  std::string base(250, 'a');
  std::strcpy(buffer, base.c_str());
  // 250 + '\' + 7 + two zeros = 260: fits exactly.
  ASSERT_TRUE(AppendPathComponent(buffer, sizeof buffer, "1234567"));
  EXPECT_EQ(std::strlen(buffer), 258u);
  std::strcpy(buffer, base.c_str());
  buffer[251] = '#';  // sentinel just past the text
  EXPECT_FALSE(AppendPathComponent(buffer, sizeof buffer, "12345678"));
  EXPECT_EQ(std::string(buffer), base);
  EXPECT_EQ(buffer[251], '#');
}

TEST(SetInfoTextTest, LongTextIsCutToTenTwentyThreeBytes) {
  RecordingDialog os;
  std::string longText(2000, 'k');
  SetInfoText(nullptr, "%s", longText.c_str());
  EXPECT_EQ(os.lastId, kInfoTextId);
  EXPECT_EQ(os.lastText, std::string(1023, 'k'));
  // A per-cent sign passed as an argument is shown as it is.
  SetInfoText(nullptr, "%s", "100%s");
  EXPECT_EQ(os.lastText, "100%s");
}

TEST(ShowUpdaterErrorTest, BoxIsOwnedByTheDialogOnlyWhileItIsOpen) {
  ForwardingPlatform os;
  Updater.Reset();
  ShowUpdaterError("before");
  platform::Window dialog = reinterpret_cast<platform::Window>(0x1234);
  Updater.OwnerWindow = dialog;
  std::strcpy(Updater.Caption, "Caption");
  ShowUpdaterError("during");
  ASSERT_EQ(os.boxes.size(), 2u);
  EXPECT_EQ(os.boxes[0].owner, nullptr);
  EXPECT_EQ(os.boxes[0].caption, "UPDATE");
  EXPECT_EQ(os.boxes[1].owner, dialog);
  EXPECT_EQ(os.boxes[1].caption, "Caption");
  EXPECT_EQ(os.boxes[1].style, platform::kBoxIconError | platform::kBoxOk);
  Updater.Reset();
}

}  // namespace
