// What a failure after the rename means: the content is in place, so a lost
// hidden or system attribute still counts as written; file times that
// cannot be set fail the write, as they always have.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/archive.h"
#include "platform/host/host_platform.h"
#include "tests/support/archive_image.h"
#include "tests/support/temp_folder.h"

namespace {

constexpr uint64_t kTime = 0x01D0000012345678ULL;
constexpr uint32_t kHiddenSystem = platform::kAttrHidden | platform::kAttrSystem;

class CommitFaultsTest : public testing::Test {
 protected:
  void SetUp() override {
    os_.MapDrive('X', dir_.path());
    platform::SetOs(&os_);
    image_ = LayOutArchive({LiteralMember("A.DAT", "member content", kTime)}, true);
    archive_ = OpenUpdateArchive(ArchiveSource{image_.data(), uint32_t(image_.size())});
    ASSERT_NE(archive_, nullptr);
  }
  void TearDown() override { platform::SetOs(nullptr); }
  // Extracts over a hidden system file, failing the operation of `kind` that
  // follows the rename; returns the status.
  ExtractStatus ExtractFailingAfterRename(const std::string& kind) {
    WriteTestFile(dir_ / "A.DAT", "old");
    EXPECT_TRUE(os_.SetFileAttributes("X:\\A.DAT", kHiddenSystem));
    // A dry run finds the operation's number.
    platform::HostPlatform probe;
    probe.MapDrive('X', dir_.path());
    probe.SetFileAttributes("X:\\A.DAT", kHiddenSystem);
    platform::SetOs(&probe);
    EXPECT_TRUE(Extract() == ExtractStatus::Written);
    platform::SetOs(&os_);
    const std::vector<std::string>& ops = probe.fileOperations();
    size_t rename = 0;
    while (rename < ops.size() && ops[rename] != "rename X:\\A.DAT") ++rename;
    size_t n = rename + 1;
    while (n < ops.size() && ops[n] != kind + " X:\\A.DAT") ++n;
    EXPECT_LT(n, ops.size()) << kind;
    WriteTestFile(dir_ / "A.DAT", "old");
    os_.FailFileOperationNumber(int(n - os_.fileOperations().size()) + 1);
    return Extract();
  }
  ExtractStatus Extract() {
    return ExtractMember(*archive_, image_.data(), image_.size(), "X:\\A.DAT", "A.DAT", false)
        .status;
  }
  TempFolder dir_;
  platform::HostPlatform os_;
  std::vector<uint8_t> image_;
  std::unique_ptr<UpdateArchive> archive_;
};

TEST_F(CommitFaultsTest, HiddenAndSystemAreKeptAcrossTheReplacement) {
  WriteTestFile(dir_ / "A.DAT", "old");
  ASSERT_TRUE(os_.SetFileAttributes("X:\\A.DAT", kHiddenSystem));
  EXPECT_EQ(Extract(), ExtractStatus::Written);
  EXPECT_EQ(os_.GetFileAttributes("X:\\A.DAT") & kHiddenSystem, kHiddenSystem);
  EXPECT_EQ(ReadTestFile(dir_ / "A.DAT"), "member content");
}

TEST_F(CommitFaultsTest, AttributesNotRestoredStillCountAsWritten) {
  EXPECT_EQ(ExtractFailingAfterRename("attributes"), ExtractStatus::Written);
  EXPECT_EQ(ReadTestFile(dir_ / "A.DAT"), "member content");
  EXPECT_EQ(os_.GetFileAttributes("X:\\A.DAT") & kHiddenSystem, 0u);
  EXPECT_EQ(os_.fileOperations().back(), "!attributes X:\\A.DAT");
}

TEST_F(CommitFaultsTest, TimesNotSetAfterTheRenameFailTheWrite) {
  EXPECT_EQ(ExtractFailingAfterRename("time"), ExtractStatus::WriteFailed);
  EXPECT_EQ(ReadTestFile(dir_ / "A.DAT"), "member content");  // in place all the same
}

}  // namespace
