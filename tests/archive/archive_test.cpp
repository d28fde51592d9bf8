#include "archive/archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <cstring>
#include <random>

#include "archive/fileops.h"
#include "archive/messages.h"
#include "tests/support/archive_image.h"
#include "tests/support/forwarding_platform.h"
#include "tests/support/temp_folder.h"
#include "updater/state.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Scripts the free space of every drive; everything else is real.
class ArchivePlatform : public ForwardingPlatform {
 public:
  std::optional<uint64_t> freeBytes;
  bool extendedQuery = true;
  platform::FreeSpaceQuery DiskFreeSpaceEx(const char* r, uint64_t* a, uint64_t* b,
                                           uint64_t* c) override {
    if (!extendedQuery) return platform::FreeSpaceQuery::Unavailable;
    if (!freeBytes) return ForwardingPlatform::DiskFreeSpaceEx(r, a, b, c);
    *a = *c = *freeBytes;
    *b = *freeBytes * 2;
    return platform::FreeSpaceQuery::Ok;
  }
  bool DiskFreeSpace(const char*, uint32_t* spc, uint32_t* bps, uint32_t* freeClusters,
                     uint32_t* total) override {
    *spc = 8;
    *bps = 4096;
    *freeClusters = 0x00100000;
    *total = 0x00200000;
    return true;
  }
};

class ArchiveTest : public testing::Test {
 protected:
  void Load(const std::vector<TestMember>& members, bool compressDirectory = true) {
    image_ = LayOutArchive(members, compressDirectory);
    Updater.Reset();
    Updater.ArchiveSource = ArchiveSource{image_.data(), uint32_t(image_.size())};
    Updater.Archive = OpenUpdateArchive(Updater.ArchiveSource);
    ASSERT_NE(Updater.Archive, nullptr);
  }
  void TearDown() override { Updater.Reset(); }

  static uint64_t LastWrite(const std::string& path) {
    auto file = platform::Os().OpenForRead(path.c_str());
    uint64_t t = 0;
    EXPECT_TRUE(file && file->LastWriteTime(&t));
    return t;
  }

  ArchivePlatform os_;
  TempFolder dir_;
  Bytes image_;
};

TEST_F(ArchiveTest, OneStoredMemberWithStoredDirectoryIsSixtyFourBytes) {
  Bytes image = LayOutArchive({StoredMember("A.TXT", "xyz")}, false);
  ASSERT_EQ(image.size(), 64u);
  EXPECT_EQ(LoadLE32(&image[4]), 0u);   // flags
  EXPECT_EQ(LoadLE32(&image[8]), 32u);  // directoryOffset
  EXPECT_EQ(LoadLE32(&image[12]), 1u);
  EXPECT_EQ(std::memcmp(&image[16], "xyz", 3), 0);
  for (int i = 19; i < 32; ++i) EXPECT_EQ(image[i], 0) << i;

  auto archive = OpenUpdateArchive({image.data(), uint32_t(image.size())});
  ASSERT_NE(archive, nullptr);
  ASSERT_EQ(archive->entryCount(), 1u);
  ArchiveEntry e = archive->entry(0);
  EXPECT_STREQ(e.name, "A.TXT");
  EXPECT_EQ(e.fileSize, 3u);
  EXPECT_EQ(e.storedSize, 3u);
}

TEST_F(ArchiveTest, MemberOffsetsAdvanceBySixteenByteAlignedStoredSizes) {
  Load({StoredMember("ONE", std::string(475, '1')), StoredMember("TWO", std::string(234, '2'))});
  uint64_t offset = 0;
  EXPECT_EQ(FindArchiveMember(*Updater.Archive, "two", &offset), 1);
  EXPECT_EQ(offset, 16u + 480u);
  EXPECT_EQ(image_[496], '2');
}

TEST_F(ArchiveTest, NamesMatchWithoutRegardToCaseFirstMatchWins) {
  Load({StoredMember("setup.ini", "first"), StoredMember("SETUP.INI", "second")});
  std::string dest = dir_ / "out";
  ASSERT_EQ(ExtractArchiveMember(dest.c_str(), "SETUP.INI", false), 1);
  EXPECT_EQ(ReadTestFile(dest), "first");
  EXPECT_TRUE(os_.boxes.empty());
}

// The second byte of a double-byte character is no ASCII letter: 0x83 0x61
// (ャ) and 0x83 0x41 (ア) are different names, while the ASCII around them
// still folds.
TEST_F(ArchiveTest, DoubleByteCharactersDifferingInTheirSecondByteAreDifferentMembers) {
  Load({StoredMember("\x83\x61.dat", "small ya"), StoredMember("\x83\x41.DAT", "a")});
  EXPECT_EQ(FindArchiveMember(*Updater.Archive, "\x83\x41.dat", nullptr), 1);
  EXPECT_EQ(FindArchiveMember(*Updater.Archive, "\x83\x61.DAT", nullptr), 0);
  EXPECT_FALSE(ArchiveNamesEqual("\x83\x61", "\x83\x41"));
  EXPECT_TRUE(ArchiveNamesEqual("a\x83\x61" "b", "A\x83\x61" "B"));
  std::string dest = dir_ / "out";
  ASSERT_EQ(ExtractArchiveMember(dest.c_str(), "\x83\x41.dat", false), 1);
  EXPECT_EQ(ReadTestFile(dest), "a");
}

TEST_F(ArchiveTest, CompressedAndStoredMembersExtractWithTheirTimeAndSize) {
  const uint64_t time = 0x01D5A1B2C3D4E5F6ULL;
  Load({LiteralMember("GAME.EXE", "compressed content", time), StoredMember("DATA.PAK", "raw", time)});
  std::string exe = dir_ / "GAME.EXE", pak = dir_ / "DATA.PAK";
  ASSERT_EQ(ExtractArchiveMember(exe.c_str(), "game.exe", false), 1);
  ASSERT_EQ(ExtractArchiveMember(pak.c_str(), "DATA.PAK", false), 1);
  EXPECT_EQ(ReadTestFile(exe), "compressed content");
  EXPECT_EQ(ReadTestFile(pak), "raw");
  EXPECT_EQ(LastWrite(exe), time);
  EXPECT_EQ(LastWrite(pak), time);
}

TEST_F(ArchiveTest, StoredAndCompressedDirectoriesOpenAlike) {
  for (bool compressed : {false, true}) {
    Bytes image = LayOutArchive({StoredMember("A", "1"), LiteralMember("B", "22")}, compressed);
    EXPECT_EQ(LoadLE32(&image[4]), compressed ? 1u : 0u);
    auto archive = OpenUpdateArchive({image.data(), uint32_t(image.size())});
    ASSERT_NE(archive, nullptr) << compressed;
    EXPECT_STREQ(archive->entry(1).name, "B");
    EXPECT_EQ(archive->entry(1).fileSize, 2u);
  }
}

TEST_F(ArchiveTest, EmptyArchiveOpensAndEveryExtractionReportsMemberNotFound) {
  Load({});
  EXPECT_EQ(Updater.Archive->block.size(), 16u);
  std::string dest = dir_ / "x";
  EXPECT_EQ(ExtractArchiveMember(dest.c_str(), "UPDATE.INI", false), 0);
  ASSERT_EQ(os_.boxes.size(), 1u);
  EXPECT_EQ(os_.boxes[0].text, kMsgMemberNotFound);
  EXPECT_EQ(os_.boxes[0].caption, "UPDATE");
  EXPECT_EQ(os_.boxes[0].style, platform::kBoxIconError);
  EXPECT_FALSE(TestFileExists(dest));

  Load({StoredMember("A", "1")});
  EXPECT_EQ(ExtractArchiveMember(dest.c_str(), "B", false), 0);
  EXPECT_EQ(os_.boxes.back().text, kMsgMemberNotFound);
}

// An archive of no members whose stored directory (no bytes) starts right at
// its end: the header alone, as written by hand.
TEST_F(ArchiveTest, EmptyStoredDirectoryAtTheVeryEndOpensInBothForms) {
  const Bytes header = {'Q', 'A', '2', 0, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0};
  OpenReport report;
  auto archive = OpenUpdateArchive({header.data(), uint32_t(header.size())}, &report);
  ASSERT_NE(archive, nullptr) << DescribeOpenReport(report);
  EXPECT_EQ(archive->entryCount(), 0u);

  const std::string path = dir_ / "empty.qa2";
  WriteTestFile(path, std::string(header.begin(), header.end()));
  archive = OpenUpdateArchive({reinterpret_cast<const uint8_t*>(path.c_str()), 0}, &report);
  ASSERT_NE(archive, nullptr) << DescribeOpenReport(report);
  EXPECT_EQ(archive->entryCount(), 0u);

  // One byte further is past the end.
  Bytes past = header;
  past[8] = 17;
  EXPECT_EQ(OpenUpdateArchive({past.data(), uint32_t(past.size())}, &report), nullptr);
  EXPECT_EQ(report.error, OpenError::DirectoryOutOfBounds);
  WriteTestFile(path, std::string(past.begin(), past.end()));
  EXPECT_EQ(OpenUpdateArchive({reinterpret_cast<const uint8_t*>(path.c_str()), 0}, &report), nullptr);
  EXPECT_EQ(report.error, OpenError::DirectoryOutOfBounds);
}

// Every ASCII letter folds, the first and the last included; the
// characters just outside a-z ('`' and '{') do not.
TEST_F(ArchiveTest, EveryLetterFromAToZFoldsAndItsNeighboursDoNot) {
  Load({StoredMember("SIZE.DAT", "s"), StoredMember("ABCDEFGHIJKLM", "1"), StoredMember("NOPQRSTUVWXYZ", "2"),
        StoredMember("@[`{", "3")});
  EXPECT_EQ(FindArchiveMember(*Updater.Archive, "size.dat", nullptr), 0);
  EXPECT_EQ(FindArchiveMember(*Updater.Archive, "abcdefghijklm", nullptr), 1);
  EXPECT_EQ(FindArchiveMember(*Updater.Archive, "nopqrstuvwxyz", nullptr), 2);
  EXPECT_EQ(FindArchiveMember(*Updater.Archive, "`@{[", nullptr), -1);
  EXPECT_TRUE(ArchiveNamesEqual("z", "Z"));
  EXPECT_TRUE(ArchiveNamesEqual("a", "A"));
  EXPECT_FALSE(ArchiveNamesEqual("`", "@"));
  EXPECT_FALSE(ArchiveNamesEqual("{", "["));
}

TEST_F(ArchiveTest, MagicIsCheckedInTheFileFormOnly) {
  Bytes image = LayOutArchive({StoredMember("A", "1")}, true);
  image[0] = 'Z';
  EXPECT_NE(OpenUpdateArchive({image.data(), uint32_t(image.size())}), nullptr);

  std::string path = dir_ / "bad.qa2";
  WriteTestFile(path, std::string(image.begin(), image.end()));
  OpenReport report;
  EXPECT_EQ(OpenUpdateArchive({reinterpret_cast<const uint8_t*>(path.c_str()), 0}, &report),
            nullptr);
  EXPECT_EQ(report.error, OpenError::BadMagic);

  image[0] = 'Q';
  WriteTestFile(path, std::string(image.begin(), image.end()));
  auto archive = OpenUpdateArchive({reinterpret_cast<const uint8_t*>(path.c_str()), 0});
  ASSERT_NE(archive, nullptr);
  EXPECT_STREQ(archive->entry(0).name, "A");

  std::string missing = dir_ / "none.qa2";
  EXPECT_EQ(OpenUpdateArchive({reinterpret_cast<const uint8_t*>(missing.c_str()), 0}, &report),
            nullptr);
  EXPECT_EQ(report.error, OpenError::CannotOpenFile);
}

TEST_F(ArchiveTest, FreeSpaceEqualToTheSizePassesOneByteLessReportsShortfall) {
  Load({StoredMember("F", std::string(1000, 'f'))});
  std::string dest = dir_ / "F";
  os_.freeBytes = 1000;
  EXPECT_EQ(ExtractArchiveMember(dest.c_str(), "F", false), 1);
  EXPECT_TRUE(os_.boxes.empty());

  os_.freeBytes = 999;
  EXPECT_EQ(ExtractArchiveMember(dest.c_str(), "F", false), 0);
  ASSERT_EQ(os_.boxes.size(), 1u);
  char expected[1024];
  std::snprintf(expected, sizeof expected, kMsgNoDiskSpaceFormat, dest.substr(0, 2).c_str(),
                uint64_t(1));
  EXPECT_EQ(os_.boxes[0].text, expected);
  // The text as the player reads it: ...%s ドライブに 1 バイト...
  EXPECT_NE(os_.boxes[0].text.find(" \x83h\x83\x89\x83" "C\x83u\x82\xC9 1 \x83o"), std::string::npos);
}

TEST_F(ArchiveTest, ShortfallBeyondTwoGigabytesIsPrintedInFull) {
  // A member claiming 3 GiB (never decoded: the space test comes first).
  TestMember big = StoredMember("BIG", "");
  big.fileSize = 3000000000u;
  big.flags = ENTRY_FLAG_COMPRESSED;
  big.data = Bytes(40000000, 0);  // enough stream to make the claim plausible
  Load({big});
  os_.freeBytes = 0;
  std::string dest = dir_ / "BIG";
  EXPECT_EQ(ExtractArchiveMember(dest.c_str(), "BIG", false), 0);
  ASSERT_EQ(os_.boxes.size(), 1u);
  EXPECT_NE(os_.boxes[0].text.find(" 3000000000 "), std::string::npos);
}

TEST_F(ArchiveTest, OnlyIfNewerComparesFullSixtyFourBitTimes) {
  const uint64_t member = 0x01D0000080000000ULL;
  Load({StoredMember("F", "new", member)});
  std::string dest = dir_ / "F";
  struct Case {
    uint64_t existing;
    bool written;
  } cases[] = {
      {member, true},                        // equal: not later, so written
      {member + 1, false},                   // later by 100 ns
      {0x01CFFFFFFFFFFFFFULL, true},         // high half smaller, low half larger
      {member - 1, true},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(platform::Os().WriteFileReplacing(dest.c_str(), "old", 3, &c.existing));
    EXPECT_EQ(ExtractArchiveMember(dest.c_str(), "F", true), 1);
    EXPECT_EQ(ReadTestFile(dest), c.written ? "new" : "old") << std::hex << c.existing;
  }
  // Without the mode a newer file is replaced.
  uint64_t later = member + 1000;
  ASSERT_TRUE(platform::Os().WriteFileReplacing(dest.c_str(), "old", 3, &later));
  EXPECT_EQ(ExtractArchiveMember(dest.c_str(), "F", false), 1);
  EXPECT_EQ(ReadTestFile(dest), "new");
  EXPECT_TRUE(os_.boxes.empty());
}

TEST_F(ArchiveTest, ReadOnlyDestinationLosesTheAttributeEvenWhenLeftAlone) {
  const uint64_t member = 0x01D0000000000000ULL;
  Load({StoredMember("F", "new", member)});
  std::string dest = dir_ / "F";
  platform::Platform& os = platform::Os();

  uint64_t later = member + 1;
  ASSERT_TRUE(os.WriteFileReplacing(dest.c_str(), "old", 3, &later));
  ASSERT_TRUE(os.SetFileAttributes(dest.c_str(), platform::kAttrReadOnly));
  EXPECT_EQ(ExtractArchiveMember(dest.c_str(), "F", true), 1);
  EXPECT_EQ(ReadTestFile(dest), "old");
  EXPECT_EQ(os.GetFileAttributes(dest.c_str()) & platform::kAttrReadOnly, 0u);

  ASSERT_TRUE(os.SetFileAttributes(dest.c_str(), platform::kAttrReadOnly));
  EXPECT_EQ(ExtractArchiveMember(dest.c_str(), "F", false), 1);
  EXPECT_EQ(ReadTestFile(dest), "new");
}

TEST_F(ArchiveTest, DestinationThatIsAFolderFailsWithoutMessage) {
  Load({StoredMember("F", "x")});
  std::string dest = dir_ / "sub";
  ASSERT_TRUE(platform::Os().CreateDirectory(dest.c_str()));
  EXPECT_EQ(ExtractArchiveMember(dest.c_str(), "F", false), 0);
  EXPECT_TRUE(os_.boxes.empty());
}

TEST_F(ArchiveTest, WriteIntoMissingFolderFailsAndLeavesNothing) {
  Load({StoredMember("F", "x")});
  std::string dest = dir_ / "missing" + "/F";
  EXPECT_EQ(ExtractArchiveMember(dest.c_str(), "F", false), 0);
  EXPECT_TRUE(os_.boxes.empty());
}

// A file that lends buffers of its own, as the Win32 writer does: three in
// turn, each spoiled before it is lent again; every third time none, so
// that the extraction goes back and forth between them and its own buffer.
class LendingFile : public platform::ReplacementFile {
 public:
  static constexpr uint32_t kHeadroom = 16 << 10, kRoom = 100 << 10;
  explicit LendingFile(std::unique_ptr<platform::ReplacementFile> inner, int* lentWrites,
                       int* plainWrites)
      : inner_(std::move(inner)), lentWrites_(lentWrites), plainWrites_(plainWrites) {
    for (auto& b : buffers_) b.resize(kHeadroom + kRoom);
  }
  uint8_t* Lend(uint32_t before, uint32_t* room) override {
    if (before > kHeadroom || (!held_ && ++asked_ % 3 == 0)) return nullptr;
    if (!held_) {
      next_ = (next_ + 1) % 3;
      std::fill(buffers_[next_].begin(), buffers_[next_].end(), uint8_t(0xA5));
      held_ = true;
    }
    *room = kRoom;
    return buffers_[next_].data() + kHeadroom;
  }
  bool WriteLent(uint32_t size) override {
    if (!held_ || size > kRoom) return false;
    held_ = false;
    ++*lentWrites_;
    return inner_->Write(buffers_[next_].data() + kHeadroom, size);
  }
  bool Write(const void* data, uint32_t size) override {
    held_ = false;
    ++*plainWrites_;
    return inner_->Write(data, size);
  }
  bool Commit(const uint64_t* time) override { return inner_->Commit(time); }

 private:
  std::unique_ptr<platform::ReplacementFile> inner_;
  int* lentWrites_;
  int* plainWrites_;
  std::vector<uint8_t> buffers_[3];
  int next_ = 0, asked_ = 0;
  bool held_ = false;
};

class LendingPlatform : public ArchivePlatform {
 public:
  int lentWrites = 0, plainWrites = 0;
  std::unique_ptr<platform::ReplacementFile> BeginReplacement(const char* p) override {
    auto inner = ArchivePlatform::BeginReplacement(p);
    if (!inner) return nullptr;
    return std::make_unique<LendingFile>(std::move(inner), &lentWrites, &plainWrites);
  }
};

TEST_F(ArchiveTest, MemberDecodedIntoLentBuffersIsWrittenWhole) {
  // Megabytes of copies that reach up to the whole history, across pieces
  // made in the file's buffers and in the extraction's own.
  std::mt19937 rng(3);
  StreamWriter w;
  std::string expected;
  while (expected.size() < 3u << 20) {
    if (expected.size() < 16 || rng() % 4 == 0) {
      expected.push_back(char(rng()));
      w.Literal(uint8_t(expected.back()));
    } else {
      const size_t most = std::min<size_t>(expected.size(), kDecodeHistory);
      const size_t d = rng() % 8 == 0 ? most : 1 + rng() % most, n = 3 + rng() % 280;
      w.LongCopy(d, n);
      for (size_t k = 0; k < n; ++k) expected.push_back(expected[expected.size() - d]);
    }
  }
  w.End();
  Load({TestMember{"BIG.PAK", w.Take(), uint32_t(expected.size()), ENTRY_FLAG_COMPRESSED}});
  {
    LendingPlatform lending;  // over os_, until it goes
    const std::string dest = dir_ / "BIG.PAK";
    ASSERT_EQ(ExtractArchiveMember(dest.c_str(), "BIG.PAK", false), 1);
    EXPECT_TRUE(ReadTestFile(dest) == expected);
    EXPECT_GT(lending.lentWrites, 3);
    EXPECT_GT(lending.plainWrites, 1);
  }
  platform::SetOs(&os_);
}

TEST_F(ArchiveTest, CorruptMemberStreamFailsWithoutTouchingTheOldFile) {
  TestMember bad = LiteralMember("F", "hello world");
  bad.fileSize = 50;  // decodes to fewer bytes than declared
  Load({bad});
  std::string dest = dir_ / "F";
  WriteTestFile(dest, "keep me");
  EXPECT_EQ(ExtractArchiveMember(dest.c_str(), "F", false), 0);
  EXPECT_EQ(ReadTestFile(dest), "keep me");

  ExtractOutcome outcome = ExtractMember(*Updater.Archive, image_.data(), image_.size(),
                                         dest.c_str(), "F", false);
  EXPECT_EQ(outcome.status, ExtractStatus::CorruptMember);
}

TEST_F(ArchiveTest, FreeSpaceFallsBackToClusterArithmetic) {
  os_.extendedQuery = false;
  uint64_t freeToCaller = 0, total = 0, totalFree = 0;
  ASSERT_NE(GetDiskFreeBytes("C:", &freeToCaller, &total, &totalFree), 0);
  EXPECT_EQ(freeToCaller, uint64_t(0x00100000) * 8 * 4096);
  EXPECT_EQ(total, uint64_t(0x00200000) * 8 * 4096);
  EXPECT_EQ(totalFree, freeToCaller);
}

TEST_F(ArchiveTest, WholeFileReadAndWriteRoundTrip) {
  std::string path = dir_ / "blob";
  std::string content(100000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = char(i * 7);
  uint64_t time = 0x01D1111111111110ULL;
  ASSERT_EQ(WriteWholeFile(path.c_str(), content.data(), uint32_t(content.size()), &time), 1);
  MemoryBlock block = ReadWholeFile(path.c_str());
  ASSERT_TRUE(block.ok());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data()), block.size()), content);
  EXPECT_EQ(LastWrite(path), time);
  EXPECT_FALSE(ReadWholeFile((dir_ / "absent").c_str()).ok());
}

// Malformed images: every error is a refusal, never a read out of bounds.
TEST_F(ArchiveTest, MalformedImagesAreRefusedWithTheirFault) {
  Bytes good = LayOutArchive({StoredMember("A", "abc"), LiteralMember("B", "hello")}, true);
  auto open = [](Bytes image, OpenError expected, const char* what) {
    OpenReport report;
    // Copy into an exactly sized buffer so that ASan sees any overread.
    EXPECT_EQ(OpenUpdateArchive({image.data(), uint32_t(image.size())}, &report), nullptr)
        << what;
    EXPECT_EQ(report.error, expected) << what << ": " << DescribeOpenReport(report);
  };
  open(Bytes(good.begin(), good.begin() + 15), OpenError::ShortHeader, "short header");
  Bytes b = good;
  StoreLE32(&b[8], uint32_t(b.size() + 1));
  open(b, OpenError::DirectoryOutOfBounds, "directory past the end");
  b = good;
  StoreLE32(&b[12], 0x08000000);
  open(b, OpenError::TooManyEntries, "entry count overflow");
  b = good;
  StoreLE32(&b[12], 3);
  open(b, OpenError::DirectoryWrongSize, "count larger than the directory");
  b = good;
  b.back() = 0x00;  // the end code's data byte
  open(b, OpenError::DirectoryCorrupt, "corrupt directory stream");

  Bytes stored = LayOutArchive({StoredMember("A", "abc")}, false);
  Bytes s = stored;
  std::memset(&s[32], 'N', 15);
  open(s, OpenError::NameUnterminated, "unterminated name");
  s = stored;
  StoreLE32(&s[32 + 28], 1000);
  StoreLE32(&s[32 + 24], 1000);
  open(s, OpenError::MemberOutOfBounds, "member past the end");
  s = stored;
  StoreLE32(&s[32 + 24], 4);
  open(s, OpenError::StoredSizeMismatch, "stored sizes differ");
  s = stored;
  StoreLE32(&s[12], 2);
  open(s, OpenError::DirectoryOutOfBounds, "stored directory cut short");
  // Each limit one beyond: a stored size one above the size, a member one
  // byte past the end.
  s = stored;
  StoreLE32(&s[32 + 28], 4);
  open(s, OpenError::StoredSizeMismatch, "stored size above the size");
  s = stored;
  StoreLE32(&s[32 + 24], uint32_t(s.size() - 16 + 1));
  StoreLE32(&s[32 + 28], uint32_t(s.size() - 16 + 1));
  open(s, OpenError::MemberOutOfBounds, "member one byte past the end");
  // A member whose aligned end passes the image's end: the next one starts
  // past it, where every size wraps around.
  Bytes two = LayOutArchive({StoredMember("A", "abc"), StoredMember("B", "x")}, false);
  two.push_back(0);
  const size_t first = two.size() - 1 - 2 * kArchiveEntrySize;
  StoreLE32(&two[first + 24], uint32_t(two.size() - 16));
  StoreLE32(&two[first + 28], uint32_t(two.size() - 16));
  open(two, OpenError::MemberOutOfBounds, "member starting past the end");
  // A claim exactly at the most a stream can decode to, and one beyond.
  EXPECT_TRUE(CompressedSizeClaimFits(91 * 100 + 64, 100));
  EXPECT_FALSE(CompressedSizeClaimFits(91 * 100 + 65, 100));

  // The file form: a header one byte short, a stored directory one byte short.
  const std::string path = dir_ / "cut.qa2";
  auto openFile = [&](const Bytes& image, OpenError expected, const char* what) {
    WriteTestFile(path, std::string(image.begin(), image.end()));
    OpenReport report;
    EXPECT_EQ(OpenUpdateArchive({reinterpret_cast<const uint8_t*>(path.c_str()), 0}, &report), nullptr) << what;
    EXPECT_EQ(report.error, expected) << what << ": " << DescribeOpenReport(report);
  };
  openFile(Bytes(stored.begin(), stored.begin() + 15), OpenError::ShortHeader, "file: short header");
  openFile(Bytes(stored.begin(), stored.end() - 1), OpenError::DirectoryOutOfBounds, "file: directory one byte short");
}

TEST_F(ArchiveTest, EveryTruncationAndByteFlipIsHandledSafely) {
  Bytes good = LayOutArchive(
      {LiteralMember("UPDATE.INI", "[SETUP]\r\nGameTitle=x\r\n"), StoredMember("B", "bytes")}, true);
  std::mt19937 rng(5);
  std::string dest = dir_ / "out";
  for (size_t cut = 0; cut <= good.size(); ++cut) {
    Bytes image(good.begin(), good.begin() + long(cut));
    auto archive = OpenUpdateArchive({image.data(), uint32_t(image.size())});
    if (!archive) continue;
    for (uint32_t i = 0; i < archive->entryCount(); ++i) {
      DecodeError why;
      ReadArchiveMember(*archive, image.data(), image.size(), i, &why);
    }
  }
  for (int round = 0; round < 2000; ++round) {
    Bytes image = good;
    image[rng() % image.size()] ^= uint8_t(1 + rng() % 255);
    auto archive = OpenUpdateArchive({image.data(), uint32_t(image.size())});
    if (!archive) continue;
    for (uint32_t i = 0; i < archive->entryCount(); ++i)
      ExtractMember(*archive, image.data(), image.size(), dest.c_str(), archive->entry(i).name,
                    false);
  }
}

}  // namespace
