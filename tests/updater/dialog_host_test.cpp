#include "updater/dialog.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/updater/updater_world.h"
#include "updater/messages.h"

namespace {

std::string Formatted(const char* format, const char* argument) {
  char text[1024];
  std::snprintf(text, sizeof text, format, argument);
  return text;
}

// One observation of the dialog after an action.
struct Page {
  int32_t step;
  std::string info;
  bool back, next, abort;
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world.SetArchive({StoredMember("A.DAT", "new A")});
    world.SetUpdateIni("[UPDATE]\r\nRequiredDiskSpace=100\r\nUpdateFile00=A.DAT\r\n");
    std::strcpy(Updater.Caption, "CAPTION");
  }
  // Runs the dialog with `steps`: each is called with the live dialog and
  // returns false to stop. Records the page after each step.
  intptr_t Run(std::vector<std::function<bool(platform::HostDialog&)>> steps) {
    size_t next = 0;
    pages.clear();
    world.os.dialogScript = [&, steps](platform::HostDialog& d) {
      Record(d);
      if (next >= steps.size()) return false;
      return steps[next++](d);
    };
    UpdateDialog handler;
    intptr_t code = world.os.RunDialog(kUpdateDialogTemplate, handler);
    Record(world.os.lastDialog());
    return code;
  }
  static std::function<bool(platform::HostDialog&)> Press(int id) {
    return [id](platform::HostDialog& d) {
      d.Press(id);
      return true;
    };
  }
  void Record(const platform::HostDialog& d) {
    pages.push_back(Page{DialogStep, d.Text(kInfoTextId), d.Enabled(kButtonBack),
                         d.Enabled(kButtonNext), d.Enabled(kButtonAbort)});
  }

  UpdaterWorld world;
  std::vector<Page> pages;
};

TEST_F(DialogTest, NextWalksThePagesAndDoneEndsWithZero) {
  intptr_t code = Run({Press(kButtonNext), Press(kButtonNext), Press(kButtonNext)});
  EXPECT_EQ(code, 0);
  ASSERT_GE(pages.size(), 4u);
  const std::string start = Formatted(kMsgStartFormat, "GAME");
  EXPECT_EQ(pages[0].step, 0);
  EXPECT_EQ(pages[0].info, start);
  EXPECT_FALSE(pages[0].back);
  EXPECT_TRUE(pages[0].next && pages[0].abort);
  EXPECT_EQ(pages[1].step, 1);
  EXPECT_EQ(pages[1].info, kMsgConfirm);
  EXPECT_FALSE(pages[1].back);
  EXPECT_TRUE(pages[1].next && pages[1].abort);
  EXPECT_EQ(pages[2].step, 2);
  EXPECT_EQ(pages[2].info, kMsgCompleted);
  EXPECT_EQ(pages.back().step, 3);
  EXPECT_EQ(world.os.lastDialog().title, "CAPTION");
  EXPECT_EQ(Updater.OwnerWindow, world.os.lastDialog().window);
  EXPECT_EQ(world.Get("GAME/A.DAT"), "new A");
}

TEST_F(DialogTest, BackFromTheDiskSpacePageConfirmsAgainAndNextRechecks) {
  world.os.SetFreeSpace('C', 99);
  auto makeRoom = [&](platform::HostDialog& d) {
    world.os.SetFreeSpace('C', 100);
    d.Press(kButtonNext);
    return true;
  };
  intptr_t code = Run({Press(kButtonNext), Press(kButtonNext), Press(kButtonBack), makeRoom,
                       Press(kButtonNext)});
  EXPECT_EQ(code, 0);
  ASSERT_GE(pages.size(), 6u);
  // Disk-space page.
  EXPECT_EQ(pages[2].step, 2);
  EXPECT_TRUE(pages[2].back && pages[2].abort);
  EXPECT_FALSE(pages[2].next);
  // Back: the confirmation page again.
  EXPECT_EQ(pages[3].step, 1);
  EXPECT_EQ(pages[3].info, kMsgConfirm);
  EXPECT_FALSE(pages[3].back);
  EXPECT_TRUE(pages[3].next && pages[3].abort);
  // Next: the update from its start, free-space check included.
  EXPECT_EQ(pages[4].step, 2);
  EXPECT_EQ(pages[4].info, kMsgCompleted);
}

TEST_F(DialogTest, AbortEndsWithMinusOneExceptOnTheCompletionPage) {
  world.os.SetFreeSpace('C', 99);
  EXPECT_EQ(Run({Press(kButtonAbort)}), -1);
  EXPECT_EQ(Run({Press(kButtonNext), Press(kButtonAbort)}), -1);
  EXPECT_EQ(Run({Press(kButtonNext), Press(kButtonNext), Press(kButtonAbort)}), -1)
      << "disk-space page";
  world.os.SetFreeSpace('C', 100);
  // Command 2 is also the close box: after a completed update it completes,
  // unless Back has left the completion page.
  EXPECT_EQ(Run({Press(kButtonNext), Press(kButtonNext), Press(kButtonAbort)}), 0);
  EXPECT_EQ(Run({Press(kButtonNext), Press(kButtonNext), Press(kButtonBack), Press(kButtonAbort)}), -1);
}

TEST_F(DialogTest, CommandsDuringTheUpdateAreIgnoredAndTheCursorWaits) {
  world.SetUpdateIni("[UPDATE]\r\nUpdateFile00=9,A.DAT\r\n");  // nothing applies: one box
  bool cursorAnswered = false;
  platform::Cursor cursor = platform::Cursor::Arrow;
  int32_t stepMeanwhile = -99;
  world.os.boxResponder = [&](const platform::BoxRecord&) {
    platform::HostDialog* d = world.os.dialog();
    for (int id : {kButtonNext, kButtonBack, kButtonAbort}) d->Press(id);
    cursorAnswered = d->handler->OnSetCursor(d->window);
    cursor = world.os.cursor();
    stepMeanwhile = DialogStep;
    return platform::kAnswerOk;
  };
  intptr_t code = Run({Press(kButtonNext), Press(kButtonNext), Press(kButtonNext)});
  EXPECT_TRUE(cursorAnswered);
  EXPECT_EQ(cursor, platform::Cursor::Wait);
  EXPECT_EQ(stepMeanwhile, 1);
  EXPECT_EQ(code, 0) << "the Abort meanwhile did not end the dialog";
  EXPECT_EQ(pages[2].info, kMsgCompleted);
  EXPECT_EQ(world.os.cursor(), platform::Cursor::Arrow);
}

TEST_F(DialogTest, CursorIsLeftToTheSystemWhenNotBusy) {
  bool answered = true;
  Run({[&](platform::HostDialog& d) {
    answered = d.handler->OnSetCursor(d.window);
    return false;
  }});
  EXPECT_FALSE(answered);
}

TEST_F(DialogTest, BackSentAtStepOneRunsNothingAndLeavesTheTextEmpty) {
  Run({Press(kButtonNext), Press(kButtonBack), Press(kButtonNext)});
  ASSERT_GE(pages.size(), 4u);
  EXPECT_EQ(pages[2].step, 0);
  EXPECT_EQ(pages[2].info, "");
  EXPECT_EQ(pages[3].step, 1);
  EXPECT_EQ(pages[3].info, kMsgConfirm);
}

TEST_F(DialogTest, OnlyThePlainCommandWordCounts) {
  intptr_t code = Run({Press(0x10000 | kButtonNext), Press(0x10000 | kButtonAbort), Press(3),
                       Press(kButtonAbort)});
  EXPECT_EQ(code, -1);
  EXPECT_EQ(pages[3].step, 0);
  EXPECT_EQ(pages[3].info, Formatted(kMsgStartFormat, "GAME"));
}

TEST_F(DialogTest, PerCentSignsInTheTitleAreShownAsWritten) {
  std::strcpy(Updater.GameTitle, "100%s %% %d");
  Run({});
  EXPECT_EQ(pages[0].info, Formatted(kMsgStartFormat, "100%s %% %d"));
  EXPECT_NE(pages[0].info.find("100%s %% %d"), std::string::npos);
}

}  // namespace
