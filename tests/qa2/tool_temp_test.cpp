// qa2's scratch files beside an output: their names, their content, their
// end, and what a sweep may remove.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/tool_support.h"
#include "tests/support/temp_folder.h"

namespace {

std::vector<std::string> Names(const TempFolder& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Leaf(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }

TEST(ToolTempFileTest, WrittenAtOffsetsThenRenamedOverTheTarget) {
  TempFolder dir;
  const std::string out = dir / "OUT.EXE";
  WriteTestFile(out, "old");
  {
    platform::ToolTempFile file;
    std::string error;
    ASSERT_TRUE(file.Create(out, "exe", &error)) << error;
    uint32_t pid = 0;
    EXPECT_TRUE(platform::IsToolTempNameOf(Leaf(file.path()), "OUT.EXE", &pid)) << file.path();
    ASSERT_TRUE(file.WriteAt(0, "hello world", 11));
    ASSERT_TRUE(file.WriteAt(6, "WORLD", 5));
    char back[11];
    ASSERT_TRUE(file.ReadAt(0, back, 11));
    EXPECT_EQ(std::string(back, 11), "hello WORLD");
    EXPECT_FALSE(file.ReadAt(5, back, 11)) << "a read past the end";
    EXPECT_EQ(ReadTestFile(out), "old");
    ASSERT_TRUE(file.ReplaceTarget(out));
  }
  EXPECT_EQ(ReadTestFile(out), "hello WORLD");
  EXPECT_EQ(Names(dir), std::vector<std::string>{"OUT.EXE"});
}

TEST(ToolTempFileTest, DroppedUnfinishedLeavesTheTargetAndNoScratch) {
  TempFolder dir;
  const std::string out = dir / "OUT.EXE";
  WriteTestFile(out, "old");
  {
    platform::ToolTempFile a, b;
    std::string error;
    ASSERT_TRUE(a.Create(out, "spool", &error)) << error;
    ASSERT_TRUE(b.Create(out, "spool", &error)) << error;
    EXPECT_NE(a.path(), b.path()) << "two files of one process share a name";
    ASSERT_TRUE(a.WriteAt(0, "new", 3));
  }
  EXPECT_EQ(ReadTestFile(out), "old");
  EXPECT_EQ(Names(dir), std::vector<std::string>{"OUT.EXE"});
}

TEST(ToolTempFileTest, SweepRemovesOnlyWhatGoneRunsLeftForThisOutput) {
  TempFolder dir;
  // No system gives a process this id.
  const std::string gone = platform::ToolTempName(dir / "OUT.EXE", "spool", 0x7ffffff0, 0x0123456789abcdefULL);
  WriteTestFile(gone, "left by a killed run");
  const std::vector<std::string> kept = {
      "OTHER.EXE.~7ffffff0-0123456789abcdef.spool",   // another output's
      "OUT.EXE.~7ffffff0-0123456789abcde.spool",      // 60 random bits
      "OUT.EXE.~7ffffff0-0123456789abcdeg.spool",     // not hex
      "OUT.EXE.~7ffffff0-0123456789abcdef.spool.bak", // not our kind
      "OUT.EXE.~123456789-0123456789abcdef.tmp",      // no 32-bit id
      "OUT.EXE.~-0123456789abcdef.tmp",
      "OUT.EXE.~7ffffff0-0123456789abcdef.sp0ol",
  };
  for (const std::string& name : kept) WriteTestFile(dir / name, "someone's");
  platform::ToolTempFile live;
  std::string error;
  ASSERT_TRUE(live.Create(dir / "OUT.EXE", "tmp", &error)) << error;

  EXPECT_EQ(platform::SweepToolTempFiles(dir / "OUT.EXE"), 1);
  std::vector<std::string> expected = kept;
  expected.push_back(Leaf(live.path()));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(dir), expected);
}

}  // namespace
