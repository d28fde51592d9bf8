#include "archive/patch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "archive/patch_coder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (uint8_t& x : b) x = uint8_t(rng());
  return b;
}

Bytes Make(const Bytes& oldData, const Bytes& newData, PatchStats* stats = nullptr) {
  Bytes patch;
  EXPECT_TRUE(MakePatch(oldData.data(), oldData.size(), newData.data(), newData.size(),
                        [&](const uint8_t* p, size_t n) {
                          patch.insert(patch.end(), p, p + n);
                          return true;
                        },
                        stats));
  return patch;
}

Bytes Pack(const Bytes& raw) {
  Bytes packed;
  size_t at = 0;
  EXPECT_TRUE(PackPatch(
      [&](uint8_t* buffer, size_t capacity, size_t* got) {
        *got = std::min(capacity, raw.size() - at);
        std::memcpy(buffer, raw.data() + at, *got);
        at += *got;
        return true;
      },
      raw.size(), [&](const uint8_t* p, size_t n) {
        packed.insert(packed.end(), p, p + n);
        return true;
      }));
  return packed;
}

// Applies `patch` handed out in pieces of `piece` bytes.
PatchError Apply(const Bytes& patch, const Bytes& oldData, uint64_t newSize, Bytes* out, size_t piece = 7,
                 const uint8_t* hash = nullptr) {
  size_t at = 0;
  PatchSource source = [&](const uint8_t** p, size_t* n) {
    *n = std::min(piece, patch.size() - at);
    *p = patch.data() + at;
    at += *n;
    return true;
  };
  PatchOldReader old = [&](uint64_t offset, uint8_t* buffer, size_t size) {
    if (offset > oldData.size() || size > oldData.size() - offset) return false;
    std::memcpy(buffer, oldData.data() + offset, size);
    return true;
  };
  out->clear();
  return ApplyPatch(source, oldData.size(), newSize, old,
                    [&](const uint8_t* p, size_t n) {
                      out->insert(out->end(), p, p + n);
                      return true;
                    },
                    hash);
}

Bytes Sha(const Bytes& b) {
  Sha256 sha;
  sha.Update(b.data(), b.size());
  Bytes d(kSha256Size);
  sha.Digest(d.data());
  return d;
}

TEST(PatchTest, MakesEveryNewContentFromItsOldOne) {
  const Bytes base = Noise(300000, 1);
  // Code whose addresses moved: every 16th byte of each 4-byte word changes.
  Bytes moved = base;
  for (size_t i = 0; i + 4 <= moved.size(); i += 16) moved[i] = uint8_t(moved[i] + 3);
  Bytes edited = base;
  edited.insert(edited.begin() + 1000, 5000, 'x');         // grown
  edited.erase(edited.begin() + 200000, edited.begin() + 210000);  // shrunk
  for (size_t i = 50000; i < 50100; ++i) edited[i] ^= 0x55;  // edited in place
  Bytes swapped(base.begin() + 150000, base.end());
  swapped.insert(swapped.end(), base.begin(), base.begin() + 150000);
  struct Case {
    const char* name;
    Bytes oldData, newData;
    size_t largestPatch;
  } cases[] = {
      {"both empty", {}, {}, 64},
      {"old empty", {}, Noise(1000, 2), 1100},
      {"new empty", base, {}, 64},
      {"old shorter than a key", {1, 2, 3}, {1, 2, 3, 4}, 64},
      {"identical", base, base, 64},
      {"addresses moved", base, moved, 300000 / 16 * 17},
      {"edited, grown and shrunk", base, edited, 6000},
      {"halves swapped", base, swapped, 100},
      {"unrelated", Noise(5000, 3), Noise(6000, 4), 6100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PatchStats stats;
    const Bytes patch = Make(c.oldData, c.newData, &stats);
    EXPECT_LE(patch.size(), c.largestPatch);
    EXPECT_EQ(stats.copied + stats.diffed + stats.added, c.newData.size());
    Bytes out;
    const Bytes hash = Sha(c.newData);
    ASSERT_EQ(Apply(patch, c.oldData, c.newData.size(), &out, 7, hash.data()), PatchError::None);
    EXPECT_EQ(out, c.newData);
    ASSERT_EQ(Apply(patch, c.oldData, c.newData.size(), &out, 1 << 20), PatchError::None);
    EXPECT_EQ(out, c.newData);
    // The LZMA form, and the tuning for code, give the same bytes.
    ASSERT_EQ(Apply(Pack(patch), c.oldData, c.newData.size(), &out, 5, hash.data()), PatchError::None);
    EXPECT_EQ(out, c.newData);
    Bytes forCode;
    MakePatch(c.oldData.data(), c.oldData.size(), c.newData.data(), c.newData.size(),
              [&](const uint8_t* p, size_t n) {
                forCode.insert(forCode.end(), p, p + n);
                return true;
              },
              nullptr, kPatchForCode);
    ASSERT_EQ(Apply(forCode, c.oldData, c.newData.size(), &out, 7, hash.data()), PatchError::None);
  }
}

TEST(PatchTest, RefusesEveryMalformedStream) {
  const Bytes oldData = Noise(4000, 5);
  Bytes newData = oldData;
  newData.insert(newData.begin() + 100, 50, 'n');
  newData[3000] ^= 1;
  const Bytes patch = Make(oldData, newData);
  Bytes out;
  // Every truncation is refused.
  for (size_t cut = 0; cut < patch.size(); ++cut) {
    Bytes shorter(patch.begin(), patch.begin() + cut);
    EXPECT_NE(Apply(shorter, oldData, newData.size(), &out), PatchError::None) << cut;
  }
  auto with = [&](std::initializer_list<uint8_t> ops) {
    Bytes p(patch.begin(), patch.begin() + kPatchHeaderSize);
    p.insert(p.end(), ops);
    return p;
  };
  const uint64_t n = 4;  // a new content of 4 bytes
  auto header = [&](Bytes p) {
    StoreLE64(p.data() + 12, n);
    return p;
  };
  struct Case {
    const char* name;
    Bytes patch;
    PatchError error;
  } cases[] = {
      {"wrong old size", [&] { Bytes p = patch; p[4] ^= 1; return p; }(), PatchError::BadHeader},
      {"wrong magic", [&] { Bytes p = patch; p[0] = 'X'; return p; }(), PatchError::BadHeader},
      {"unknown op", header(with({3, 4})), PatchError::BadOperation},
      {"number past 64 bits", header(with({2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02})),
       PatchError::BadOperation},
      {"more than the new size", header(with({2, 5, 1, 2, 3, 4, 5})), PatchError::OutOfRange},
      {"move below the old file", header(with({0, 4, 1})), PatchError::OutOfRange},
      {"copy past the old file's end",
       header(with({0, 4, 0xBC, 0x3E})), PatchError::OutOfRange},  // move to 3998, 4 bytes
      {"bytes after the end", header(with({2, 4, 1, 2, 3, 4, 0})), PatchError::TrailingBytes},
  };
  for (const Case& c : cases) {
    const uint64_t size = c.error == PatchError::BadHeader ? newData.size() : n;
    EXPECT_EQ(Apply(c.patch, oldData, size, &out), c.error) << c.name;
  }
  // One byte past the old file's end, and a move to one past it, are refused.
  EXPECT_EQ(Apply(header(with({0, 4, 0xBA, 0x3E})), oldData, n, &out), PatchError::OutOfRange);  // 3997 + 4
  EXPECT_EQ(Apply(header(with({0, 0, 0xC2, 0x3E, 2, 4, 1, 2, 3, 4})), oldData, n, &out),
            PatchError::OutOfRange);  // to 4001
  // Exactly at the old file's end is fine.
  EXPECT_EQ(Apply(header(with({0, 4, 0xB8, 0x3E})), oldData, n, &out), PatchError::None);  // move to 3996
  // The LZMA form: cut anywhere, followed by a byte, or asking for a
  // dictionary beyond the limit, it is refused.
  const Bytes packed = Pack(patch);
  for (size_t cut = 0; cut < packed.size(); ++cut)
    EXPECT_NE(Apply(Bytes(packed.begin(), packed.begin() + cut), oldData, newData.size(), &out), PatchError::None)
        << cut;
  Bytes longer = packed;
  longer.push_back(0);
  EXPECT_NE(Apply(longer, oldData, newData.size(), &out), PatchError::None);
  Bytes greedy = packed;
  StoreLE32(greedy.data() + 5, kPatchLzmaDictMax + 1);
  EXPECT_NE(Apply(greedy, oldData, newData.size(), &out), PatchError::None);
  StoreLE32(greedy.data() + 5, kPatchLzmaDictMax);
  EXPECT_EQ(Apply(greedy, oldData, newData.size(), &out), PatchError::None);
  // A result whose hash is not the expected one.
  const Bytes wrong(kSha256Size, 0);
  EXPECT_EQ(Apply(patch, oldData, newData.size(), &out, 7, wrong.data()), PatchError::WrongResult);
}

TEST(PatchTableTest, StoresAndRefusesWhatDoesNotParse) {
  std::vector<PatchTarget> targets(2);
  std::strcpy(targets[0].name, "GAME.EXE");
  targets[0].flags = kPatchGated;
  targets[0].newSize = 1234;
  targets[0].newHash[0] = 9;
  targets[0].fileTime = 0x0123456789ABCDEFull;
  targets[0].bases.resize(2);
  targets[0].bases[0].size = 1000;
  std::strcpy(targets[0].bases[0].patch, "QA2$P00001");
  std::strcpy(targets[1].name, "B.DAT");
  const Bytes table = StorePatchTable(targets);
  std::vector<PatchTarget> read;
  ASSERT_TRUE(ParsePatchTable(table.data(), table.size(), &read));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].fileTime, targets[0].fileTime);
  EXPECT_STREQ(read[0].bases[0].patch, "QA2$P00001");
  EXPECT_EQ(FindPatchTarget(read, "game.exe"), &read[0]);
  EXPECT_EQ(FindPatchTarget(read, "C.DAT"), nullptr);
  // Each prefix in a block of its own size: a read past it is caught.
  for (size_t cut = 0; cut < table.size(); ++cut) {
    const Bytes prefix(table.begin(), table.begin() + cut);
    EXPECT_FALSE(ParsePatchTable(prefix.data(), prefix.size(), &read)) << cut;
  }
  Bytes longer = table;
  longer.push_back(0);
  EXPECT_FALSE(ParsePatchTable(longer.data(), longer.size(), &read));
  Bytes huge = table;
  StoreLE32(huge.data() + 4, 0xFFFFFFFFu);
  EXPECT_FALSE(ParsePatchTable(huge.data(), huge.size(), &read));
  Bytes moreBases = table;  // the last record claims a base the bytes lack
  StoreLE32(moreBases.data() + moreBases.size() - 4, 1);
  EXPECT_FALSE(ParsePatchTable(moreBases.data(), moreBases.size(), &read));
  Bytes unterminated = table;
  std::memset(unterminated.data() + 8, 'A', kArchiveNameField);
  EXPECT_FALSE(ParsePatchTable(unterminated.data(), unterminated.size(), &read));
  EXPECT_TRUE(IsReservedMemberName("qa2$anything"));
  EXPECT_TRUE(IsReservedMemberName("QA2$"));
  EXPECT_FALSE(IsReservedMemberName("QA2"));
}

}  // namespace
