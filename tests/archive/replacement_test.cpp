// Replacing a file on every platform: the longest destinations, hidden and
// system files, the times after the rename, a replacement never committed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/fileops.h"
#include "platform/platform.h"
#include "tests/support/archive_image.h"
#include "tests/support/temp_folder.h"

namespace {

constexpr uint64_t kTime = 0x01D0000012345678ULL;

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  platform::Os().FindFiles((folder + "\\*").c_str(), &names);
  std::sort(names.begin(), names.end());
  return names;
}

uint64_t LastWrite(const std::string& path) {
  auto file = platform::Os().OpenForRead(path.c_str());
  uint64_t t = 0;
  EXPECT_TRUE(file && file->LastWriteTime(&t)) << path;
  return t;
}

std::string Content(const std::string& path) {
  auto file = platform::Os().OpenForRead(path.c_str());
  uint64_t size = 0;
  if (!file || !file->Size(&size)) return "<unreadable>";
  std::string text(size_t(size), '\0');
  uint32_t got = 0;
  if (!file->Read(&text[0], uint32_t(size), &got) || got != size) return "<short>";
  return text;
}

class ReplacementTest : public testing::Test {
 protected:
  void SetUp() override {
    image_ = LayOutArchive({LiteralMember("M.DAT", "member content", kTime)}, true);
    archive_ = OpenUpdateArchive(ArchiveSource{image_.data(), uint32_t(image_.size())});
    ASSERT_NE(archive_, nullptr);
  }
  ExtractStatus Extract(const std::string& dest) {
    return ExtractMember(*archive_, image_.data(), image_.size(), dest.c_str(), "M.DAT", false)
        .status;
  }
  TempFolder dir_;
  std::vector<uint8_t> image_;
  std::unique_ptr<UpdateArchive> archive_;
};

TEST_F(ReplacementTest, DestinationsUpToTheLongestPathAreWrittenAndReplaced) {
  // A folder of 240 bytes (folders end at 247), files whose paths take 250
  // to 259 bytes: the names beside them pass MAX_PATH.
  platform::Platform& os = platform::Os();
  std::string folder = dir_.path() + "\\";
  ASSERT_LT(folder.size(), 200u);
  folder += std::string(240 - folder.size(), 'D');
  ASSERT_TRUE(os.CreateDirectory(folder.c_str()));
  std::vector<std::string> written;
  for (size_t length : {250u, 254u, 258u, 259u}) {
    std::string dest = folder + "\\" + std::string(length - folder.size() - 1, 'F');
    ASSERT_EQ(dest.size(), length);
    ASSERT_TRUE(os.WriteFileReplacing(dest.c_str(), "old", 3, nullptr)) << length;
    EXPECT_EQ(Extract(dest), ExtractStatus::Written) << length;
    EXPECT_EQ(Content(dest), "member content") << length;
    EXPECT_EQ(LastWrite(dest), kTime) << length;
    written.push_back(dest.substr(folder.size() + 1));
  }
  std::sort(written.begin(), written.end());
  EXPECT_EQ(Names(folder), written) << "nothing left beside the files";

  // A leftover of a gone process beside a 259-byte path is found and removed.
  const std::string& longest = folder + "\\" + written.back();
  {
    auto file = os.BeginReplacement(longest.c_str());
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->Write("x", 1));
    // The process's own leftover is never taken for a gone one's.
    RemoveStaleReplacements(longest.c_str());
    EXPECT_EQ(Names(folder).size(), written.size() + 1);
  }
  EXPECT_EQ(Names(folder), written) << "an uncommitted replacement removes its file";
}

TEST_F(ReplacementTest, HiddenAndSystemFilesAreReplacedAndKeepThoseAttributes) {
  platform::Platform& os = platform::Os();
  const std::string dest = dir_ / "HIDDEN.DAT";
  ASSERT_TRUE(os.WriteFileReplacing(dest.c_str(), "old", 3, nullptr));
  const uint32_t hiddenSystem = platform::kAttrHidden | platform::kAttrSystem;
  for (uint32_t before : {hiddenSystem, hiddenSystem | platform::kAttrReadOnly}) {
    ASSERT_TRUE(os.SetFileAttributes(dest.c_str(), before));
    if ((os.GetFileAttributes(dest.c_str()) & hiddenSystem) != hiddenSystem)
      GTEST_SKIP() << "this platform has no hidden or system files";
    EXPECT_EQ(Extract(dest), ExtractStatus::Written);
    EXPECT_EQ(Content(dest), "member content");
    const uint32_t after = os.GetFileAttributes(dest.c_str());
    EXPECT_EQ(after & hiddenSystem, hiddenSystem) << std::hex << before;
    EXPECT_EQ(after & platform::kAttrReadOnly, 0u) << std::hex << before;
    EXPECT_EQ(LastWrite(dest), kTime);
  }
  EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"HIDDEN.DAT"});
  // Read-only, it is not deleted; deleted, its attributes go with it.
  ASSERT_TRUE(os.SetFileAttributes(dest.c_str(), hiddenSystem | platform::kAttrReadOnly));
  EXPECT_FALSE(os.DeleteFile(dest.c_str()));
  ASSERT_TRUE(os.SetFileAttributes(dest.c_str(), hiddenSystem));
  ASSERT_TRUE(os.DeleteFile(dest.c_str()));
  ASSERT_TRUE(os.WriteFileReplacing(dest.c_str(), "new", 3, nullptr));
  EXPECT_EQ(os.GetFileAttributes(dest.c_str()) & hiddenSystem, 0u);
}

TEST_F(ReplacementTest, CorruptMemberFoundWhileWritingLeavesTheOldFile) {
  // The stream claims more than it holds: the fault shows only at its end,
  // after pieces have gone beside the destination.
  std::string content(3 * kFileChunk, 'z');
  TestMember member = LiteralMember("M.DAT", content, kTime);
  member.fileSize += 1;
  image_ = LayOutArchive({member}, true);
  archive_ = OpenUpdateArchive(ArchiveSource{image_.data(), uint32_t(image_.size())});
  ASSERT_NE(archive_, nullptr);
  const std::string dest = dir_ / "M.DAT";
  ASSERT_TRUE(platform::Os().WriteFileReplacing(dest.c_str(), "old", 3, nullptr));
  EXPECT_EQ(Extract(dest), ExtractStatus::CorruptMember);
  EXPECT_EQ(Content(dest), "old");
  EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"M.DAT"});
}

TEST_F(ReplacementTest, PiecesOfAnySizeArriveInOrderAndADroppedReplacementLeavesNothing) {
  // More pieces than the writer keeps in flight, some larger than one of
  // its buffers, some of a byte: the file holds them in order.
  platform::Platform& os = platform::Os();
  const std::string dest = dir_ / "BIG.DAT";
  ASSERT_TRUE(os.WriteFileReplacing(dest.c_str(), "old", 3, nullptr));
  std::string content(9 * kFileChunk + 12345, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = char((i * 7) ^ (i >> 13));
  const size_t sizes[] = {1, kFileChunk - 1, 3 * kFileChunk + 5, 7, 65536, 2 * kFileChunk};
  for (bool commit : {false, true}) {
    auto file = os.BeginReplacement(dest.c_str());
    ASSERT_NE(file, nullptr);
    size_t done = 0;
    for (size_t n = 0; done < content.size(); ++n) {
      const size_t size = std::min(sizes[n % 6], content.size() - done);
      ASSERT_TRUE(file->Write(content.data() + done, uint32_t(size)));
      done += size;
    }
    if (commit) {
      ASSERT_TRUE(file->Commit(&kTime));
    }
    file.reset();
    EXPECT_EQ(Content(dest), commit ? content : std::string("old"));
    EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"BIG.DAT"}) << commit;
  }
  EXPECT_EQ(LastWrite(dest), kTime);
}

}  // namespace
