// The files written beside a destination are created new and never through
// a link, and a link at the destination is replaced itself: what a link
// points to is never written. Two writers of one destination never share a
// file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "archive/archive.h"
#include "archive/fileops.h"
#include "platform/host/host_platform.h"
#include "tests/support/archive_image.h"
#include "tests/support/temp_folder.h"

namespace {

constexpr uint64_t kTime = 0x01D0000012345678ULL;

class TemporaryNamesTest : public testing::Test {
 protected:
  void SetUp() override {
    os_.MapDrive('X', dir_.path());
    platform::SetOs(&os_);
    image_ = LayOutArchive({LiteralMember("A.DAT", "member content", kTime)}, true);
    archive_ = OpenUpdateArchive(ArchiveSource{image_.data(), uint32_t(image_.size())});
    ASSERT_NE(archive_, nullptr);
    WriteTestFile(dir_ / "victim.txt", "victim");
  }
  void TearDown() override { platform::SetOs(nullptr); }
  ExtractStatus Extract() {
    return ExtractMember(*archive_, image_.data(), image_.size(), "X:\\out\\A.DAT", "A.DAT",
                         false)
        .status;
  }
  static bool IsLink(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  }
  TempFolder dir_;
  platform::HostPlatform os_;  // process id 4242: "A.DAT.~1092.tmp"
  std::vector<uint8_t> image_;
  std::unique_ptr<UpdateArchive> archive_;
};

TEST_F(TemporaryNamesTest, LinkPlantedAtTheTemporaryNameFailsTheWriteAndIsNotFollowed) {
  ASSERT_EQ(::mkdir((dir_ / "out").c_str(), 0777), 0);
  for (const char* target : {"../victim.txt", "../absent.txt"}) {
    SCOPED_TRACE(target);
    ASSERT_EQ(::symlink(target, (dir_ / "out/A.DAT.~1092.tmp").c_str()), 0);
    EXPECT_EQ(Extract(), ExtractStatus::WriteFailed);
    EXPECT_EQ(ReadTestFile(dir_ / "victim.txt"), "victim");
    EXPECT_FALSE(TestFileExists(dir_ / "absent.txt"));
    EXPECT_FALSE(TestFileExists(dir_ / "out/A.DAT"));
    EXPECT_TRUE(IsLink(dir_ / "out/A.DAT.~1092.tmp"));  // not ours to remove
    ASSERT_EQ(::unlink((dir_ / "out/A.DAT.~1092.tmp").c_str()), 0);
  }
  // A plain file there, left by whoever, is not overwritten either.
  WriteTestFile(dir_ / "out/A.DAT.~1092.tmp", "someone's");
  EXPECT_EQ(Extract(), ExtractStatus::WriteFailed);
  EXPECT_EQ(ReadTestFile(dir_ / "out/A.DAT.~1092.tmp"), "someone's");
}

TEST_F(TemporaryNamesTest, LinkAtTheDestinationIsReplacedItselfAndItsTargetKept) {
  ASSERT_EQ(::mkdir((dir_ / "out").c_str(), 0777), 0);
  // A read-only target: clearing read-only must not reach it through the link.
  ASSERT_EQ(::chmod((dir_ / "victim.txt").c_str(), 0444), 0);
  ASSERT_EQ(::symlink("../victim.txt", (dir_ / "out/A.DAT").c_str()), 0);
  EXPECT_EQ(Extract(), ExtractStatus::Written);
  EXPECT_FALSE(IsLink(dir_ / "out/A.DAT"));
  EXPECT_EQ(ReadTestFile(dir_ / "out/A.DAT"), "member content");
  EXPECT_EQ(ReadTestFile(dir_ / "victim.txt"), "victim");
  struct stat st;
  ASSERT_EQ(::stat((dir_ / "victim.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
}

TEST_F(TemporaryNamesTest, TwoWritersOfOneDestinationEachWriteTheirOwnFile) {
  // Two processes' platforms (their ids differ), writing at once in pieces.
  platform::HostPlatform first, second;
  first.SetProcessId(0x100);
  second.SetProcessId(0x200);
  first.MapDrive('X', dir_.path());
  second.MapDrive('X', dir_.path());
  const std::string a(1 << 20, 'a'), b(1 << 20, 'b');
  for (int round = 0; round < 20; ++round) {
    auto fileA = first.BeginReplacement("X:\\T.DAT");
    auto fileB = second.BeginReplacement("X:\\T.DAT");
    ASSERT_TRUE(fileA && fileB);
    bool okA = true, okB = true;
    std::thread ta([&] {
      for (int i = 0; i < 4; ++i) okA = okA && fileA->Write(a.data(), uint32_t(a.size()));
      okA = okA && fileA->Commit(&kTime);
    });
    std::thread tb([&] {
      for (int i = 0; i < 4; ++i) okB = okB && fileB->Write(b.data(), uint32_t(b.size()));
      okB = okB && fileB->Commit(&kTime);
    });
    ta.join();
    tb.join();
    EXPECT_TRUE(okA && okB);
    const std::string result = ReadTestFile(dir_ / "T.DAT");
    ASSERT_EQ(result.size(), 4u << 20);
    EXPECT_TRUE(result == std::string(4 << 20, 'a') || result == std::string(4 << 20, 'b'));
  }
  EXPECT_FALSE(TestFileExists(dir_ / "T.DAT.~100.tmp"));
  EXPECT_FALSE(TestFileExists(dir_ / "T.DAT.~200.tmp"));
}

TEST_F(TemporaryNamesTest, ToolsNameTheirFilesAfterTheirRealProcess) {
  platform::SetOs(nullptr);
  const std::string target = dir_ / "T.DAT";
  auto file = platform::Os().BeginReplacement(target.c_str());
  ASSERT_TRUE(file);
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".~%x.tmp", unsigned(::getpid()));
  EXPECT_TRUE(TestFileExists(target + suffix));
}

TEST_F(TemporaryNamesTest, LeftoversBesideDoubleByteNamesEndingInABackslashByteAreFound) {
  // 表, ソ and 能 end in 0x5C, the byte of the separator: the folder part ends
  // at the last separator that is no such second byte.
  os_.processAlive = [](uint32_t pid) { return pid == 0x64; };
  const std::string folder = "\x95\x5C\x83\x5C";  // 表ソ
  ASSERT_EQ(::mkdir((dir_ / folder).c_str(), 0777), 0);
  for (const std::string name : {"\x94\x5C.DAT", "\x83\x5C", "A\x95\x5C"}) {
    SCOPED_TRACE(name);
    WriteTestFile(dir_ / folder + "/" + name + ".~63.tmp", "stale");
    WriteTestFile(dir_ / folder + "/" + name + ".~64.tmp", "live");
    RemoveStaleReplacements(("X:\\" + folder + "\\" + name).c_str());
    EXPECT_FALSE(TestFileExists(dir_ / folder + "/" + name + ".~63.tmp"));
    EXPECT_TRUE(TestFileExists(dir_ / folder + "/" + name + ".~64.tmp"));
  }
}

}  // namespace
