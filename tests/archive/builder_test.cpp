#include "archive/builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <algorithm>
#include <memory>
#include <thread>

#include "archive/archive.h"
#include "archive/decoder.h"
#include "archive/encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (uint8_t& b : out) b = uint8_t(rng());
  return out;
}

BuildMember Member(const std::string& name, Bytes data, uint64_t time = 0x01D9000000000001ULL,
                   bool store = false) {
  BuildMember m;
  m.name = name;
  m.data = std::move(data);
  m.fileTime = time;
  m.store = store;
  return m;
}

Bytes Build(const std::vector<BuildMember>& members) {
  Bytes image;
  BuildReport report;
  EXPECT_TRUE(BuildArchive(members, BuildOptions(), &image, &report))
      << DescribeBuildError(report.error);
  return image;
}

TEST(BuilderTest, LayoutHasAlignedZeroFilledDataThenCompressedDirectory) {
  const Bytes text(1000, 'x');
  std::vector<BuildMember> members = {
      Member("UPDATE.INI", text, 0x01D2AABBCCDDEEFFULL),   // compresses
      Member("NOISE.BIN", RandomBytes(475, 1), 0x0000000100000002ULL),  // does not
      Member("DATA.PAK", text, 7, true),                   // stored on request
      Member("EMPTY", {}, 8),
      Member("ABCDEFGHIJ.KLM", RandomBytes(3, 2), 9),      // 14 bytes: fills the field
  };
  const Bytes image = Build(members);
  ASSERT_GE(image.size(), 16u);
  EXPECT_EQ(std::memcmp(image.data(), "QA2\0", 4), 0);
  ArchiveHeader h = ArchiveHeader::Parse(image.data());
  EXPECT_EQ(h.flags, ARCHIVE_FLAG_COMPRESSED_DIRECTORY);
  EXPECT_EQ(h.entryCount, members.size());

  // The directory stream runs from directoryOffset to the last byte.
  Bytes directory(members.size() * kArchiveEntrySize);
  DecodeResult r = DecodeArchiveStream(directory.data(), directory.size(),
                                       image.data() + h.directoryOffset,
                                       image.size() - h.directoryOffset);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.written, directory.size());
  EXPECT_EQ(r.consumed, image.size() - h.directoryOffset);

  const uint8_t expectedFlags[] = {ENTRY_FLAG_COMPRESSED, ENTRY_FLAG_STORED, ENTRY_FLAG_STORED,
                                   ENTRY_FLAG_STORED, ENTRY_FLAG_STORED};
  uint64_t offset = kArchiveHeaderSize;
  for (size_t i = 0; i < members.size(); ++i) {
    const uint8_t* raw = directory.data() + i * kArchiveEntrySize;
    ArchiveEntry e = ArchiveEntry::Parse(raw);
    SCOPED_TRACE(members[i].name);
    EXPECT_EQ(std::string(e.name), members[i].name);
    for (size_t k = members[i].name.size(); k < kArchiveNameField; ++k) EXPECT_EQ(raw[k], 0) << k;
    EXPECT_EQ(e.flags, expectedFlags[i]);
    EXPECT_EQ(e.fileTime, members[i].fileTime);
    EXPECT_EQ(e.fileSize, members[i].data.size());
    if (!e.IsCompressed()) {
      EXPECT_EQ(e.storedSize, e.fileSize);
      EXPECT_EQ(Bytes(image.begin() + long(offset), image.begin() + long(offset + e.storedSize)),
                members[i].data);
    } else {
      EXPECT_LT(e.storedSize, e.fileSize);
    }
    for (uint64_t k = offset + e.storedSize; k < offset + AlignedStoredSize(e.storedSize); ++k)
      ASSERT_EQ(image[k], 0) << "fill byte " << k;
    offset += AlignedStoredSize(e.storedSize);
    EXPECT_EQ(offset % 16, 0u);
  }
  EXPECT_EQ(h.directoryOffset, offset);
}

// Random bytes and then a run of zeros: the stream grows by a few bits for
// every 282 zeros, the member by one byte a zero, so the two meet. A stream
// as long as the member saves nothing: stored, as the format says of a
// member that compression does not make smaller.
TEST(BuilderTest, MemberThatCompressionDoesNotShrinkIsStored) {
  for (CompressionMode mode : {CompressionMode::Optimal, CompressionMode::Fast}) {
    Bytes even, smaller;
    for (uint32_t seed = 1; seed < 20 && (even.empty() || smaller.empty()); ++seed) {
      Bytes data = RandomBytes(300, seed);
      for (;;) {
        CompressedStream stream;
        ASSERT_TRUE(CompressArchiveStream(data.data(), data.size(), mode, &stream));
        if (stream.bytes.size() == data.size() && even.empty()) even = data;
        if (stream.bytes.size() < data.size()) {
          smaller = data;
          break;
        }
        data.push_back(0);
      }
    }
    ASSERT_FALSE(even.empty()) << "no member whose stream is exactly as long";
    BuildOptions options;
    options.mode = mode;
    for (const Bytes* data : {&even, &smaller}) {
      Bytes image;
      ASSERT_TRUE(BuildArchive({Member("EVEN.BIN", *data)}, options, &image, nullptr));
      auto archive = OpenUpdateArchive({image.data(), uint32_t(image.size())});
      ASSERT_NE(archive, nullptr);
      const ArchiveEntry e = archive->entry(0);
      EXPECT_EQ(e.flags, data == &even ? ENTRY_FLAG_STORED : ENTRY_FLAG_COMPRESSED) << data->size();
      EXPECT_EQ(e.storedSize == data->size(), data == &even) << data->size();
    }
  }
}

TEST(BuilderTest, ReaderOpensWhatTheBuilderWritesAndGetsEveryMemberBack) {
  std::vector<BuildMember> members;
  for (size_t i = 0; i < 12; ++i) {
    Bytes data = RandomBytes(i * 37, uint32_t(i));
    for (size_t k = 0; k < data.size(); ++k) data[k] = uint8_t(data[k] % (1 + i % 4));  // varied redundancy
    members.push_back(Member("M" + std::to_string(i) + ".DAT", data, 1000 + i, i % 5 == 4));
  }
  for (CompressionMode mode : {CompressionMode::Fast, CompressionMode::Optimal}) {
    BuildOptions options;
    options.mode = mode;
    Bytes image;
    ASSERT_TRUE(BuildArchive(members, options, &image, nullptr));
    OpenReport report;
    auto archive = OpenUpdateArchive({image.data(), uint32_t(image.size())}, &report);
    ASSERT_NE(archive, nullptr) << DescribeOpenReport(report);
    ASSERT_EQ(archive->entryCount(), members.size());
    for (uint32_t i = 0; i < members.size(); ++i) {
      MemoryBlock block = ReadArchiveMember(*archive, image.data(), image.size(), i, nullptr);
      ASSERT_TRUE(block.ok() || members[i].data.empty()) << i;
      EXPECT_EQ(Bytes(block.data(), block.data() + members[i].data.size()), members[i].data) << i;
      EXPECT_EQ(archive->entry(i).fileTime, 1000 + i);
    }
  }
}

TEST(BuilderTest, EmptyMemberListGivesHeaderAndEmptyDirectoryStream) {
  Bytes image = Build({});
  ArchiveHeader h = ArchiveHeader::Parse(image.data());
  EXPECT_EQ(h.entryCount, 0u);
  EXPECT_EQ(h.directoryOffset, 16u);
  EXPECT_NE(OpenUpdateArchive({image.data(), uint32_t(image.size())}), nullptr);
}

TEST(BuilderTest, NamesThatCannotNameAMemberAreRefused) {
  struct NameCase {
    std::string name;
    BuildError error;
  };
  const NameCase cases[] = {
      {"ABCDEFGHIJ.KLM", BuildError::None},
      {"ABCDEFGHIJK.LMN", BuildError::NameTooLong},
      {"\x95\x5C\x8E\xA6.TXT", BuildError::None},  // 表示: trail byte 0x5C is no separator
      {"\x95\x5C\x8E\xA6\x95\x5C\x8E\xA6\x95\x5C\x8E\xA6.T", BuildError::None},
      {"\x95\x5C\x8E\xA6\x95\x5C\x8E\xA6\x95\x5C\x8E\xA6.TX", BuildError::NameTooLong},
      {"", BuildError::EmptyName},
      {"DATA\\A.PAK", BuildError::NameHasFolder},
      {"DATA/A.PAK", BuildError::NameHasFolder},
      {"C:A.PAK", BuildError::NameHasFolder},
      {"..", BuildError::BadName},
      {"A?.TXT", BuildError::BadName},
      {"README.", BuildError::BadName},
      {"README ", BuildError::BadName},
      {"TAB\tNAME", BuildError::BadName},
      {"\x95", BuildError::BadName},  // a lead byte without its trail
      {std::string("A\0B", 3), BuildError::BadName},
      {"DEL\x7F", BuildError::BadName},
      {".", BuildError::BadName},
      {"..\\EVIL.TXT", BuildError::NameHasFolder},
      {"CON", BuildError::ReservedName},
      {"nul.txt", BuildError::ReservedName},
      {"Com1.Dat", BuildError::ReservedName},
      {"LPT9", BuildError::ReservedName},
      {"AUX .A", BuildError::ReservedName},
      {"CONFIG.SYS", BuildError::None},
      {"COM0", BuildError::None},
      {"COM10", BuildError::None},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(CheckMemberName(c.name), c.error) << c.name;
    Bytes image;
    BuildReport report;
    bool built = BuildArchive({Member("FIRST", {1}), Member(c.name, {2})}, BuildOptions(), &image, &report);
    EXPECT_EQ(built, c.error == BuildError::None) << c.name;
    if (!built) {
      EXPECT_EQ(report.error, c.error) << c.name;
      EXPECT_EQ(report.member, 1u);
      EXPECT_TRUE(image.empty());
    }
  }
}

TEST(BuilderTest, DuplicatesAreFoundAsLstrcmpiAFindsThem) {
  struct Pair {
    std::string a, b;
    bool same;
  };
  const Pair pairs[] = {
      {"readme.txt", "README.TXT", true},
      {"size.dat", "SIZE.DAT", true},
      {"abcdefghijklm", "ABCDEFGHIJKLM", true},
      {"nopqrstuvwxyz", "NOPQRSTUVWXYZ", true},
      {"`{", "@[", false},
      {"\x95\x5C" "a", "\x95\x5C" "A", true},    // 表a, 表A
      {"\x83\x41", "\x83\x61", false},        // trail bytes 'A' and 'a' are not letters
      {"\x82\x81", "\x82\x60", true},         // full-width a and A
      {"\xEE\xEF", "\xFA\x40", true},         // one Roman numeral, spelled twice
      {"\x82\x60", "A", false},              // widths stay apart
      {"A.TXT", "A.TX", false},
  };
  for (const Pair& p : pairs) {
    EXPECT_EQ(SameMemberName(p.a, p.b), p.same) << p.a << " / " << p.b;
    Bytes image;
    BuildReport report;
    bool built = BuildArchive({Member(p.a, {1}), Member("OTHER", {2}), Member(p.b, {3})},
                              BuildOptions(), &image, &report);
    EXPECT_EQ(built, !p.same);
    if (p.same) {
      EXPECT_EQ(report.error, BuildError::DuplicateName);
      EXPECT_EQ(report.member, 2u);
      EXPECT_EQ(report.other, 0u);
    }
  }
}

TEST(BuilderTest, ArchivePastTheSizeLimitIsRefusedAndExactFitIsNot) {
  std::vector<BuildMember> members = {Member("NOISE", RandomBytes(1000, 5))};
  Bytes image = Build(members);
  BuildOptions options;
  options.sizeLimit = image.size();
  Bytes again;
  EXPECT_TRUE(BuildArchive(members, options, &again, nullptr));
  EXPECT_EQ(again, image);

  options.sizeLimit = image.size() - 1;
  BuildReport report;
  EXPECT_FALSE(BuildArchive(members, options, &again, &report));
  EXPECT_EQ(report.error, BuildError::ArchiveTooLarge);
  EXPECT_EQ(report.size, image.size());
  EXPECT_TRUE(again.empty());
}

// Text-like data: words from a small vocabulary, so that members compress and
// their parses differ.
Bytes Words(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"UPDATE ", "file ", "\x83" "A\x83" "b\x83v ", "data ", "0123 ", "\r\n"};
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < n) {
    const char* w = kWords[rng() % 6];
    out.insert(out.end(), w, w + std::strlen(w));
  }
  out.resize(n);
  return out;
}

TEST(BuilderTest, ParallelBuildIsByteIdenticalAndReportsProgressFromTheCaller) {
  std::vector<BuildMember> members = {
      Member("UPDATE.INI", Words(900, 1)),
      Member("BIG.PAK", Words(120000, 2)),
      Member("NOISE.BIN", RandomBytes(5000, 3)),  // stays stored: does not shrink
      Member("KEEP.DAT", Words(20000, 4), 5, true),
      Member("EMPTY", {}),
      Member("MID.DAT", Words(30000, 5)),
      Member("SMALL.TXT", Words(40, 6)),
      Member("LAST.DAT", Words(50000, 7)),
  };
  uint64_t total = 0;
  for (const BuildMember& m : members) total += m.data.size();

  for (CompressionMode mode : {CompressionMode::Fast, CompressionMode::Optimal}) {
    BuildOptions one;
    one.mode = mode;
    one.jobs = 1;
    Bytes sequential;
    ASSERT_TRUE(BuildArchive(members, one, &sequential, nullptr));
    for (unsigned jobs : {4u, 0u, 64u}) {
      BuildOptions options;
      options.mode = mode;
      options.jobs = jobs;
      const std::thread::id caller = std::this_thread::get_id();
      uint64_t last = 0;
      bool ordered = true, onCaller = true;
      options.progress = [&](uint64_t done, uint64_t all) {
        ordered = ordered && done >= last && done <= all && all == total;
        onCaller = onCaller && std::this_thread::get_id() == caller;
        last = done;
      };
      Bytes parallel;
      ASSERT_TRUE(BuildArchive(members, options, &parallel, nullptr));
      EXPECT_EQ(parallel, sequential) << "jobs " << jobs;
      EXPECT_TRUE(ordered);
      EXPECT_TRUE(onCaller);
      EXPECT_EQ(last, total);
    }
  }
}

}  // namespace

namespace {

// Hands out a member's bytes in uneven pieces, failing or growing on request.
class PieceReader : public MemberReader {
 public:
  PieceReader(const Bytes& data, size_t failAt, long extra) : data_(data), failAt_(failAt), extra_(extra) {}
  bool Read(uint8_t* buffer, size_t capacity, size_t* got, std::string* error) override {
    if (at_ >= failAt_) {
      *error = "disk went away";
      return false;
    }
    const size_t total = size_t(long(data_.size()) + extra_);
    *got = std::min({capacity, total - at_, size_t(777777)});
    for (size_t i = 0; i < *got; ++i) buffer[i] = at_ + i < data_.size() ? data_[at_ + i] : 0;
    at_ += *got;
    return true;
  }

 private:
  const Bytes& data_;
  size_t failAt_;
  long extra_;
  size_t at_ = 0;
};

class TestSpool : public BuildSpool {
 public:
  explicit TestSpool(size_t room) : room_(room) {}
  bool Append(const uint8_t* data, size_t size, std::string* error) override {
    if (bytes_.size() + size > room_) {
      *error = "spool full";
      return false;
    }
    bytes_.insert(bytes_.end(), data, data + size);
    return true;
  }
  uint64_t end() const override { return bytes_.size(); }
  void Truncate(uint64_t end) override { bytes_.resize(size_t(end)); }
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t size, std::string*) override {
    std::memcpy(buffer, bytes_.data() + offset, size);
    return true;
  }
  size_t room_;
  Bytes bytes_;
};

struct StreamedBuild {
  std::vector<Bytes> data;
  std::vector<MemberSpec> specs;
  size_t failMember = SIZE_MAX, failAt = 0;
  size_t changeMember = SIZE_MAX;  // read `changeBy` bytes more (or fewer) than announced
  long changeBy = 0;
  BuildReport report;
  bool Run(BuildSpool* spool, const BuildOptions& options, Bytes* image) {
    ArchiveBuilder builder;
    OpenMember open = [&](size_t i, std::string*) {
      return std::unique_ptr<MemberReader>(
          new PieceReader(data[i], i == failMember ? failAt : SIZE_MAX, i == changeMember ? changeBy : 0));
    };
    if (!builder.Prepare(specs, open, spool, options, &report)) return false;
    image->clear();
    return builder.Write(
        [&](const uint8_t* bytes, size_t size) {
          image->insert(image->end(), bytes, bytes + size);
          return true;
        },
        &report);
  }
};

}  // namespace

// Members above the side-by-side size go through the block compressor one at
// a time and straight to the spool; one that does not shrink is cut from the
// spool again. The archive equals the in-memory build for any -j.
TEST(BuilderTest, StreamedBuildOfLargeMembersMatchesTheInMemoryBuild) {
  StreamedBuild b;
  b.data = {Words(5 << 20, 11), RandomBytes(4500000, 12), Words(3000, 13), Bytes(6 << 20, 0)};
  const char* names[] = {"BIG.PAK", "NOISE.BIN", "SMALL.TXT", "ZERO.DAT"};
  std::vector<BuildMember> members;
  for (size_t i = 0; i < b.data.size(); ++i) {
    b.specs.push_back(MemberSpec{names[i], b.data[i].size(), 100 + i, false});
    members.push_back(Member(names[i], b.data[i], 100 + i));
  }
  BuildOptions options;
  options.mode = CompressionMode::Fast;
  options.jobs = 1;
  Bytes reference;
  ASSERT_TRUE(BuildArchive(members, options, &reference, nullptr));
  for (unsigned jobs : {1u, 2u, 3u}) {
    options.jobs = jobs;
    TestSpool spool(SIZE_MAX);
    Bytes image;
    ASSERT_TRUE(b.Run(&spool, options, &image)) << DescribeBuildError(b.report.error);
    EXPECT_EQ(image, reference) << "jobs " << jobs;
    EXPECT_LT(spool.bytes_.size(), size_t(2) << 20) << "the noise stays out of the spool";
  }
  std::unique_ptr<UpdateArchive> archive = OpenUpdateArchive(ArchiveSource{reference.data(), uint32_t(reference.size())}, nullptr);
  ASSERT_TRUE(archive);
  EXPECT_FALSE(archive->entry(1).IsCompressed());
  EXPECT_TRUE(archive->entry(0).IsCompressed());
  EXPECT_TRUE(archive->entry(3).IsCompressed());
}

// A reader that fails, a member that grows while read and a full spool each
// end the build with their own error, the member named and the cause kept.
TEST(BuilderTest, ReadSizeAndSpoolFailuresAreReported) {
  StreamedBuild b;
  b.data = {Words(6 << 20, 21), Words(5000, 22)};
  b.specs = {MemberSpec{"LARGE.DAT", b.data[0].size(), 1, false}, MemberSpec{"SMALL.DAT", b.data[1].size(), 2, false}};
  BuildOptions options;
  options.mode = CompressionMode::Fast;
  Bytes image;
  for (size_t member : {size_t(0), size_t(1)}) {
    StreamedBuild failing = b;
    failing.failMember = member;
    failing.failAt = 1000;
    TestSpool spool(SIZE_MAX);
    EXPECT_FALSE(failing.Run(&spool, options, &image));
    EXPECT_EQ(failing.report.error, BuildError::ReadFailed);
    EXPECT_EQ(failing.report.member, member);
    EXPECT_EQ(failing.report.detail, "disk went away");

    for (long by : {5L, -5L}) {
      StreamedBuild changing = b;
      changing.changeMember = member;
      changing.changeBy = by;
      EXPECT_FALSE(changing.Run(&spool, options, &image));
      EXPECT_EQ(changing.report.error, BuildError::MemberChanged) << by;
      EXPECT_EQ(changing.report.member, member);
    }
  }
  TestSpool small(1000);
  StreamedBuild full = b;
  EXPECT_FALSE(full.Run(&small, options, &image));
  EXPECT_EQ(full.report.error, BuildError::SpoolFailed);
  EXPECT_EQ(full.report.detail, "spool full");

  // A member kept stored is read again when written; failing then is
  // reported just the same.
  StreamedBuild stored = b;
  stored.specs[1].store = true;
  stored.failMember = 1;
  stored.failAt = 0;
  TestSpool spool(SIZE_MAX);
  EXPECT_FALSE(stored.Run(&spool, options, &image));
  EXPECT_EQ(stored.report.error, BuildError::ReadFailed);
  EXPECT_EQ(stored.report.member, 1u);
  StreamedBuild shrunk = b;
  shrunk.specs[1].store = true;
  shrunk.changeMember = 1;
  shrunk.changeBy = -5;
  EXPECT_FALSE(shrunk.Run(&spool, options, &image));
  EXPECT_EQ(shrunk.report.error, BuildError::MemberChanged);
  EXPECT_EQ(shrunk.report.member, 1u);

  // A member of 4 GiB less one byte may be a member; the archive around it
  // cannot be (the member is stored, so it is never read here).
  StreamedBuild huge;
  huge.data = {Bytes()};
  huge.specs = {MemberSpec{"HUGE.DAT", 0xFFFFFFFFu, 1, true}};
  EXPECT_FALSE(huge.Run(&spool, options, &image));
  EXPECT_EQ(huge.report.error, BuildError::ArchiveTooLarge);
}
