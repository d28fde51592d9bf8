// Replacements written on the host's writer thread: pieces of any size land
// in order, a dropped replacement leaves nothing, a write refused on the
// thread shows at the next Write or at Commit, and scripted failures still
// hit the same call.
#include <cerrno>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/host/host_platform.h"
#include "platform/host/write_behind.h"
#include "tests/support/temp_folder.h"

namespace {

constexpr uint32_t kSlot = platform::WriteBehind::kSlotSize;
constexpr uint64_t kTime = 0x01D0000012345678ULL;

// Bytes that tell their offset, so a piece out of order shows.
std::string Pattern(size_t offset, size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    uint64_t x = (offset + i) * 0x9E3779B97F4A7C15ULL;
    s[i] = char(x >> 56);
  }
  return s;
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  return names;
}

// The size limit of files this process writes, for a while: writes past it
// fail with EFBIG, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    old_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, old_);
  }

 private:
  rlimit saved_;
  void (*old_)(int);
};

class WriteBehindTest : public testing::Test {
 protected:
  void SetUp() override {
    os_.MapDrive('X', dir_.path());
    os_.writeBehind = true;
    WriteTestFile(dir_ / "OUT.BIN", "old content");
  }
  TempFolder dir_;
  platform::HostPlatform os_;
};

TEST_F(WriteBehindTest, PiecesOfAnySizeArriveInOrder) {
  const std::vector<uint32_t> sizes = {1, kSlot - 1, 3 * kSlot + 7, 0, 17, 2 * kSlot, 5,
                                       kSlot, 12345, 6 * kSlot + 1};
  auto file = os_.BeginReplacement("X:\\OUT.BIN");
  ASSERT_NE(file, nullptr);
  size_t offset = 0;
  for (uint32_t size : sizes) {
    std::string piece = Pattern(offset, size);
    ASSERT_TRUE(file->Write(piece.data(), size)) << offset;
    offset += size;
  }
  EXPECT_EQ(ReadTestFile(dir_ / "OUT.BIN"), "old content");
  ASSERT_TRUE(file->Commit(&kTime));
  file.reset();
  EXPECT_TRUE(ReadTestFile(dir_ / "OUT.BIN") == Pattern(0, offset));
  EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"OUT.BIN"});
  // One file operation per call, counted as handed over.
  size_t writes = 0;
  for (const std::string& op : os_.fileOperations()) writes += op.rfind("write ", 0) == 0;
  EXPECT_EQ(writes, sizes.size());
}

TEST_F(WriteBehindTest, LentPiecesArriveInOrderAmongWrittenOnes) {
  // Written pieces of odd sizes leave a buffer part filled when the next is
  // lent; each lent one's headroom is spoiled, as a decoder may.
  auto file = os_.BeginReplacement("X:\\OUT.BIN");
  ASSERT_NE(file, nullptr);
  uint32_t room = 0;
  EXPECT_EQ(file->Lend(0, &room), nullptr) << "the first piece is the caller's thread's";
  size_t offset = 0, calls = 0;
  auto write = [&](uint32_t size) {
    const std::string piece = Pattern(offset, size);
    ASSERT_TRUE(file->Write(piece.data(), size));
    offset += size;
    ++calls;
  };
  write(17);
  EXPECT_EQ(file->Lend(platform::WriteBehind::kHeadroom + 1, &room), nullptr);
  for (uint32_t size : {kSlot, 1000u, 0u, kSlot - 3, 5u}) {
    uint8_t* lent = file->Lend(platform::WriteBehind::kHeadroom, &room);
    ASSERT_NE(lent, nullptr);
    ASSERT_EQ(room, kSlot);
    EXPECT_EQ(file->Lend(0, &room), lent);
    std::memset(lent - platform::WriteBehind::kHeadroom, 0x5A, platform::WriteBehind::kHeadroom);
    const std::string piece = Pattern(offset, size);
    std::memcpy(lent, piece.data(), size);
    ASSERT_TRUE(file->WriteLent(size));
    offset += size;
    ++calls;
    write(size % 3 == 0 ? 4099 : 1);
  }
  EXPECT_FALSE(file->WriteLent(1)) << "nothing is lent";
  ++calls;
  ASSERT_TRUE(file->Commit(&kTime));
  file.reset();
  EXPECT_TRUE(ReadTestFile(dir_ / "OUT.BIN") == Pattern(0, offset));
  size_t writes = 0;
  for (const std::string& op : os_.fileOperations()) writes += op.rfind("write ", 0) == 0;
  EXPECT_EQ(writes, calls);
}

TEST_F(WriteBehindTest, DroppedReplacementLeavesNothing) {
  for (int pieces : {1, 2, 9}) {
    SCOPED_TRACE(pieces);
    auto file = os_.BeginReplacement("X:\\OUT.BIN");
    ASSERT_NE(file, nullptr);
    for (int i = 0; i < pieces; ++i) {
      std::string piece = Pattern(size_t(i) * kSlot, kSlot);
      ASSERT_TRUE(file->Write(piece.data(), kSlot));
    }
    file.reset();
    EXPECT_EQ(ReadTestFile(dir_ / "OUT.BIN"), "old content");
    EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"OUT.BIN"});
  }
}

TEST_F(WriteBehindTest, RefusedWriteOnTheThreadShowsAtTheNextWriteOrAtCommit) {
  std::string piece = Pattern(0, kSlot);
  {
    // Few pieces: they all fit in the buffers, the refusal shows at Commit.
    FileSizeLimit limit(kSlot * 5 / 2);
    auto file = os_.BeginReplacement("X:\\OUT.BIN");
    ASSERT_NE(file, nullptr);
    for (int i = 0; i < 3; ++i) file->Write(piece.data(), kSlot);
    errno = 0;
    EXPECT_FALSE(file->Commit(&kTime));
    // The thread's error reaches the caller, who names it ("File too large").
    EXPECT_EQ(errno, EFBIG);
  }
  EXPECT_EQ(ReadTestFile(dir_ / "OUT.BIN"), "old content");
  EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"OUT.BIN"});
  {
    // Many more pieces than buffers: a later Write says so, and the caller
    // is never left waiting.
    FileSizeLimit limit(kSlot * 3);
    auto file = os_.BeginReplacement("X:\\OUT.BIN");
    ASSERT_NE(file, nullptr);
    int refusedAt = 0;
    errno = 0;
    for (int i = 1; i <= 64 && !refusedAt; ++i)
      if (!file->Write(piece.data(), kSlot)) refusedAt = i;
    EXPECT_EQ(errno, EFBIG);
    EXPECT_GT(refusedAt, 3);
    EXPECT_LE(refusedAt, 3 + 2 * platform::WriteBehind::kSlots);
    EXPECT_FALSE(file->Commit(&kTime));
  }
  EXPECT_EQ(ReadTestFile(dir_ / "OUT.BIN"), "old content");
  EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"OUT.BIN"});
}

TEST_F(WriteBehindTest, ScriptedFailuresHitTheSameCall) {
  std::string piece = Pattern(0, kSlot);
  // create, write, write, write: the third piece, already on the thread's side.
  os_.FailFileOperationNumber(4);
  auto file = os_.BeginReplacement("X:\\OUT.BIN");
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->Write(piece.data(), kSlot));
  EXPECT_TRUE(file->Write(piece.data(), kSlot));
  EXPECT_FALSE(file->Write(piece.data(), kSlot));
  file.reset();
  EXPECT_EQ(os_.fileOperations().back(), "!write X:\\OUT.BIN");
  EXPECT_EQ(ReadTestFile(dir_ / "OUT.BIN"), "old content");
  EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"OUT.BIN"});
}

}  // namespace
