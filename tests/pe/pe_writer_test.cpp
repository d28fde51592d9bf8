// The PE reader and resource writer against a small image laid out as the
// MinGW linker lays out UPDATE.EXE: .text, .rsrc, then .reloc.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tools/pe/pe_image.h"
#include "tools/pe/pe_resources.h"
#include "tools/pe/pe_writer.h"

namespace {

using pe::Load16;
using pe::Load32;
using pe::Store16;
using pe::Store32;

constexpr uint32_t kNt = 0x80;
constexpr uint32_t kOpt = kNt + 24;
constexpr uint32_t kDirs = kOpt + 96;
constexpr uint32_t kTable = kOpt + 224;

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

pe::ResourceNode Leaf(const std::string& text, uint32_t codePage = 0) {
  pe::ResourceNode n;
  n.leaf = true;
  n.data = Bytes(text);
  n.codePage = codePage;
  return n;
}

// The stub's resources: dialog 101, the manifest, an empty archive; and a
// few more named types to see the order.
pe::ResourceNode StubResources() {
  pe::ResourceNode root;
  root.ids[24].ids[1].ids[1033] = Leaf("<assembly/>", 1252);
  root.ids[5].ids[101].ids[1041] = Leaf("dialog template bytes");
  root.named[u"UPDATE"].ids[102].ids[1041] = Leaf(std::string("QA2\0\0\0\0\0\x10\0\0\0\0\0\0\0", 16));
  root.named[u"zeta"].ids[1].ids[0] = Leaf("z");
  root.named[u"ALPHA"].ids[7].ids[0] = Leaf("a");
  return root;
}

struct Layout {
  uint32_t rsrcRaw, relocRaw, relocVa;
};

// An image with .text (0x1000), .rsrc (0x2000, these bytes at file offset
// 0x600) and .reloc after it.
std::vector<uint8_t> MakeImageWithSection(const std::vector<uint8_t>& rsrc, Layout* layout = nullptr) {
  const uint32_t rsrcRaw = (uint32_t(rsrc.size()) + 0x1FF) & ~0x1FFu;
  const uint32_t relocVa = 0x2000 + ((uint32_t(rsrc.size()) + 0xFFF) & ~0xFFFu);
  std::vector<uint8_t> image(0x400 + 0x200 + rsrcRaw + 0x200, 0);
  uint8_t* p = image.data();
  p[0] = 'M';
  p[1] = 'Z';
  Store32(p + 0x3C, kNt);
  std::memcpy(p + kNt, "PE\0\0", 4);
  Store16(p + kNt + 4, 0x14C);
  Store16(p + kNt + 6, 3);
  Store16(p + kNt + 20, 224);
  Store16(p + kOpt, 0x10B);
  Store32(p + kOpt + 8, 0x200 + rsrcRaw + 0x200);  // initialized data
  Store32(p + kOpt + 32, 0x1000);
  Store32(p + kOpt + 36, 0x200);
  Store32(p + kOpt + 56, relocVa + 0x1000);
  Store32(p + kOpt + 60, 0x400);
  Store32(p + kOpt + 92, 16);
  Store32(p + kDirs + 8 * 2, 0x2000);
  Store32(p + kDirs + 8 * 2 + 4, uint32_t(rsrc.size()));
  Store32(p + kDirs + 8 * 5, relocVa);
  Store32(p + kDirs + 8 * 5 + 4, 12);
  struct Sec {
    const char* name;
    uint32_t vsize, va, raw, rawAt, flags;
  } sections[] = {
      {".text", 0x10, 0x1000, 0x200, 0x400, 0x60000020},
      {".rsrc", uint32_t(rsrc.size()), 0x2000, rsrcRaw, 0x600, 0xC0000040},
      {".reloc", 12, relocVa, 0x200, 0x600 + rsrcRaw, 0x42000040},
  };
  for (int i = 0; i < 3; ++i) {
    uint8_t* h = p + kTable + 40 * i;
    std::memcpy(h, sections[i].name, std::strlen(sections[i].name));
    Store32(h + 8, sections[i].vsize);
    Store32(h + 12, sections[i].va);
    Store32(h + 16, sections[i].raw);
    Store32(h + 20, sections[i].rawAt);
    Store32(h + 36, sections[i].flags);
  }
  std::memset(p + 0x400, 0xC3, 0x10);
  std::copy(rsrc.begin(), rsrc.end(), image.begin() + 0x600);
  // One relocation block: page 0x1000, two entries.
  uint8_t* reloc = p + 0x600 + rsrcRaw;
  Store32(reloc, 0x1000);
  Store32(reloc + 4, 12);
  Store16(reloc + 8, 0x3004);
  Store16(reloc + 10, 0x3008);
  Store32(p + kOpt + 64, pe::ComputeChecksum(image.data(), image.size(), kOpt + 64));
  if (layout) *layout = {rsrcRaw, 0x600 + rsrcRaw, relocVa};
  return image;
}

std::vector<uint8_t> MakeImage(const pe::ResourceNode& resources, Layout* layout = nullptr) {
  return MakeImageWithSection(pe::WriteResourceSection(resources, 0x2000), layout);
}

std::vector<uint8_t> Resource(const std::vector<uint8_t>& image, const std::u16string& type, uint16_t id) {
  pe::PeImage pe;
  std::string why;
  EXPECT_TRUE(pe::ParsePe(image.data(), image.size(), &pe, &why)) << why;
  pe::FileSpan span;
  if (!pe::FindNamedTypeResource(image.data(), image.size(), pe, type, id, &span, &why)) return {};
  return std::vector<uint8_t>(image.begin() + span.offset, image.begin() + span.offset + span.size);
}

std::vector<uint8_t> SetArchive(const std::vector<uint8_t>& image, const std::vector<uint8_t>& archive,
                                pe::WriteNotes* notes = nullptr) {
  std::vector<uint8_t> out;
  pe::WriteNotes ignored;
  std::string why;
  EXPECT_TRUE(pe::SetNamedTypeResource(image, u"UPDATE", 102, 1041, archive, &out, notes ? notes : &ignored, &why))
      << why;
  return out;
}

std::vector<uint8_t> Payload(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + 3);
  return v;
}

TEST(PeWriter, ArchiveGoesInAndEveryOtherResourceStaysByteForByte) {
  const std::vector<uint8_t> stub = MakeImage(StubResources());
  const std::vector<uint8_t> archive = Payload(10000);
  const std::vector<uint8_t> out = SetArchive(stub, archive);
  EXPECT_EQ(Resource(out, u"UPDATE", 102), archive);
  pe::PeImage pe;
  std::string why;
  ASSERT_TRUE(pe::ParsePe(out.data(), out.size(), &pe, &why));
  pe::ResourceNode before, after;
  pe::PeImage stubPe;
  ASSERT_TRUE(pe::ParsePe(stub.data(), stub.size(), &stubPe, &why));
  ASSERT_TRUE(pe::ReadResourceTree(stub.data(), stub.size(), stubPe, &before, &why)) << why;
  ASSERT_TRUE(pe::ReadResourceTree(out.data(), out.size(), pe, &after, &why)) << why;
  EXPECT_EQ(after.ids[5].ids[101].ids[1041].data, before.ids[5].ids[101].ids[1041].data);
  EXPECT_EQ(after.ids[24].ids[1].ids[1033].data, before.ids[24].ids[1].ids[1033].data);
  EXPECT_EQ(after.ids[24].ids[1].ids[1033].codePage, 1252u);
  EXPECT_EQ(after.named.size(), 3u);
  EXPECT_EQ(after.named[u"UPDATE"].ids[102].ids.size(), 1u);
}

TEST(PeWriter, HeadersFollowTheGrownSectionAndRelocationsMove) {
  Layout layout;
  const std::vector<uint8_t> stub = MakeImage(StubResources(), &layout);
  const std::vector<uint8_t> out = SetArchive(stub, Payload(3 * 4096 + 5));
  pe::PeImage pe;
  std::string why;
  ASSERT_TRUE(pe::ParsePe(out.data(), out.size(), &pe, &why)) << why;
  ASSERT_EQ(pe.sections.size(), 3u);
  const pe::Section& rsrc = pe.sections[1];
  const pe::Section& reloc = pe.sections[2];
  EXPECT_EQ(rsrc.virtualAddress, 0x2000u);
  EXPECT_EQ(rsrc.virtualSize, pe.directory(pe::kDirResources).size);
  EXPECT_EQ(rsrc.rawSize % 0x200, 0u);
  EXPECT_GE(rsrc.rawSize, rsrc.virtualSize);
  EXPECT_EQ(reloc.virtualAddress % 0x1000, 0u);
  EXPECT_GE(reloc.virtualAddress, rsrc.virtualAddress + rsrc.virtualSize);
  EXPECT_EQ(reloc.rawOffset, rsrc.rawOffset + rsrc.rawSize);
  EXPECT_EQ(pe.directory(pe::kDirBaseRelocations).rva, reloc.virtualAddress);
  EXPECT_EQ(0, std::memcmp(out.data() + reloc.rawOffset, stub.data() + layout.relocRaw, 12));
  EXPECT_EQ(out.size(), size_t(reloc.rawOffset) + reloc.rawSize);
  EXPECT_EQ(Load32(out.data() + kOpt + 56), reloc.virtualAddress + 0x1000);
  EXPECT_EQ(Load32(out.data() + kOpt + 8), 0x200 + rsrc.rawSize + 0x200);
  EXPECT_EQ(Load32(out.data() + kOpt + 64), pe::ComputeChecksum(out.data(), out.size(), kOpt + 64));
}

TEST(PeWriter, WritingAgainGivesTheSameBytesAsWritingIntoTheStub) {
  const std::vector<uint8_t> stub = MakeImage(StubResources());
  const std::vector<uint8_t> big = SetArchive(stub, Payload(50000));
  EXPECT_EQ(SetArchive(big, Payload(100)), SetArchive(stub, Payload(100)));
  EXPECT_EQ(SetArchive(stub, Payload(100)), SetArchive(stub, Payload(100)));
}

// The archive streamed into the hole, the checksum fed in odd pieces, gives
// the bytes of the archive written in memory; so do sizes around the file
// alignment and an odd size.
TEST(PeWriter, ResourceWrittenAroundItsBytesMatchesTheWholeWrite) {
  const std::vector<uint8_t> stub = MakeImage(StubResources());
  for (size_t size : {size_t(0), size_t(1), size_t(511), size_t(512), size_t(3 * 4096 + 5), size_t(70001)}) {
    const std::vector<uint8_t> archive = Payload(size);
    std::vector<uint8_t> around;
    pe::ResourceHole hole;
    pe::WriteNotes notes;
    std::string why;
    ASSERT_TRUE(pe::SetNamedTypeResourceAround(stub, u"UPDATE", 102, 1041, size, &around, &hole, &notes, &why))
        << why;
    ASSERT_LE(hole.offset, around.size());
    EXPECT_EQ(hole.size, size);
    std::vector<uint8_t> file(around.begin(), around.begin() + ptrdiff_t(hole.offset));
    file.insert(file.end(), archive.begin(), archive.end());
    file.insert(file.end(), around.begin() + ptrdiff_t(hole.offset), around.end());
    pe::PeChecksum sum;
    for (size_t at = 0; at < file.size(); at += 333) sum.Update(file.data() + at, std::min<size_t>(333, file.size() - at));
    Store32(file.data() + hole.checksumOffset, sum.Finish());
    EXPECT_EQ(file, SetArchive(stub, archive)) << size << " bytes";
  }
}

// The order the system's binary search needs, read from the raw tables.
TEST(PeWriter, DirectoriesListNamesFirstCaseInsensitivelyThenIdsAscending) {
  const std::vector<uint8_t> section = pe::WriteResourceSection(StubResources(), 0x2000);
  const uint8_t* root = section.data();
  ASSERT_EQ(Load16(root + 12), 3);  // named
  ASSERT_EQ(Load16(root + 14), 2);  // ids
  std::vector<std::string> names;
  for (int i = 0; i < 3; ++i) {
    uint32_t nameField = Load32(root + 16 + 8 * i);
    ASSERT_TRUE(nameField & 0x80000000u);
    const uint8_t* s = section.data() + (nameField & 0x7FFFFFFFu);
    std::string name;
    for (int k = 0; k < Load16(s); ++k) name.push_back(char(Load16(s + 2 + 2 * k)));
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"ALPHA", "UPDATE", "zeta"}));
  EXPECT_EQ(Load32(root + 16 + 8 * 3), 5u);
  EXPECT_EQ(Load32(root + 16 + 8 * 4), 24u);
  pe::ResourceNameLess less;
  EXPECT_TRUE(less(u"update", u"UPDATEX"));
  EXPECT_FALSE(less(u"update", u"UPDATE"));
  EXPECT_FALSE(less(u"UPDATE", u"update"));
}

TEST(PeWriter, SignatureAndSymbolsAreDropped) {
  std::vector<uint8_t> stub = MakeImage(StubResources());
  const uint32_t certAt = uint32_t(stub.size());
  stub.resize(stub.size() + 0x100, 0x5A);
  Store32(stub.data() + kDirs + 8 * 4, certAt);
  Store32(stub.data() + kDirs + 8 * 4 + 4, 0x100);
  pe::WriteNotes notes;
  const std::vector<uint8_t> out = SetArchive(stub, Payload(10), &notes);
  EXPECT_TRUE(notes.droppedCertificate);
  EXPECT_EQ(Load32(out.data() + kDirs + 8 * 4), 0u);
  EXPECT_EQ(Load32(out.data() + kDirs + 8 * 4 + 4), 0u);
  EXPECT_EQ(out, SetArchive(MakeImage(StubResources()), Payload(10)));

  std::vector<uint8_t> withSymbols = MakeImage(StubResources());
  Store32(withSymbols.data() + kNt + 12, uint32_t(withSymbols.size()));
  Store32(withSymbols.data() + kNt + 16, 3);
  withSymbols.resize(withSymbols.size() + 54, 0x77);
  const std::vector<uint8_t> stripped = SetArchive(withSymbols, Payload(10), &notes);
  EXPECT_TRUE(notes.droppedSymbols);
  EXPECT_EQ(Load32(stripped.data() + kNt + 12), 0u);
  EXPECT_EQ(stripped, SetArchive(MakeImage(StubResources()), Payload(10)));
}

TEST(PeWriter, LayoutsItCannotHandleAreRefusedByName) {
  struct Case {
    const char* what;
    void (*spoil)(std::vector<uint8_t>&);
    const char* expected;
  } cases[] = {
      {"a section other than .reloc after the resources",
       [](std::vector<uint8_t>& i) { std::memcpy(i.data() + kTable + 80, ".data\0\0\0", 8); }, ".data follows"},
      {"no resource directory", [](std::vector<uint8_t>& i) { Store32(i.data() + kDirs + 16, 0); },
       "no resource section"},
      {"data past the last section",
       [](std::vector<uint8_t>& i) { i.push_back(0x99); }, "neither a certificate"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> image = MakeImage(StubResources());
    c.spoil(image);
    std::vector<uint8_t> out;
    pe::WriteNotes notes;
    std::string why;
    EXPECT_FALSE(pe::SetNamedTypeResource(image, u"UPDATE", 102, 1041, Payload(4), &out, &notes, &why)) << c.what;
    EXPECT_NE(why.find(c.expected), std::string::npos) << c.what << ": " << why;
    EXPECT_TRUE(out.empty()) << c.what;
  }
}

// Hostile images: every reader and the writer answer false or succeed, but
// never read outside the buffer (the sanitizer build checks that).
void TryAll(const std::vector<uint8_t>& image) {
  pe::PeImage pe;
  std::string why;
  if (pe::ParsePe(image.data(), image.size(), &pe, &why)) {
    pe::FileSpan span;
    pe::FindNamedTypeResource(image.data(), image.size(), pe, u"UPDATE", 102, &span, &why);
    if (span.size) {
      ASSERT_LE(span.offset, image.size());
      ASSERT_LE(span.size, image.size() - span.offset);
    }
    pe::ResourceNode root;
    pe::ReadResourceTree(image.data(), image.size(), pe, &root, &why);
  }
  std::vector<uint8_t> out;
  pe::WriteNotes notes;
  pe::SetNamedTypeResource(image, u"UPDATE", 102, 1041, Payload(4), &out, &notes, &why);
}

TEST(PeReader, MalformedImagesAreRefusedWithoutStrayReads) {
  const std::vector<uint8_t> good = MakeImage(StubResources());
  for (size_t n = 0; n < good.size(); n += (n < 0x700 ? 1 : 61)) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + n);
    TryAll(cut);
  }
  struct Case {
    const char* what;
    uint32_t at;
    uint32_t value;
  } cases[] = {
      {"NT headers past the end", 0x3C, 0xFFFFFFF0u},
      {"section count beyond the file", kNt + 6, 0xFFFF},
      {"optional header size beyond the file", kNt + 20, 0xFFFF},
      {"directory count beyond the optional header", kOpt + 92, 0x10000000},
      {"resource directory far outside", kDirs + 16, 0x7FFFF000},
      {"section raw data beyond the file", kTable + 40 + 20, 0xFFFFFE00u},
      {"root entry counts beyond the section", 0x600 + 12, 0xFFFFFFFFu},
      {"root's first entry names a subdirectory at itself", 0x600 + 16 + 4, 0x80000000u},
      {"root's first name far outside", 0x600 + 16, 0xFFFFFFF0u},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> image = good;
    Store32(image.data() + c.at, c.value);
    TryAll(image);
    pe::PeImage pe;
    std::string why;
    pe::FileSpan span;
    bool found = pe::ParsePe(image.data(), image.size(), &pe, &why) &&
                 pe::FindNamedTypeResource(image.data(), image.size(), pe, u"UPDATE", 102, &span, &why);
    if (std::string(c.what) != "root's first entry names a subdirectory at itself") {
      EXPECT_FALSE(found) << c.what;
    }
  }
  // Flipped bytes all over the resource section and the headers.
  uint32_t seed = 12345;
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> image = good;
    for (int k = 0; k < 4; ++k) {
      seed = seed * 1103515245u + 12345u;
      size_t at = (seed >> 8) % 0x900;
      if (at >= 0x300 && at < 0x600) at = kNt + (at % 0x200);
      seed = seed * 1103515245u + 12345u;
      image[at] = uint8_t(seed >> 16);
    }
    TryAll(image);
  }
}

TEST(PeReader, ASelfReferencingDirectoryEndsAtThreeLevels) {
  std::vector<uint8_t> image = MakeImage(StubResources());
  // The "ALPHA" type directory's only entry points back at the root.
  pe::PeImage pe;
  std::string why;
  ASSERT_TRUE(pe::ParsePe(image.data(), image.size(), &pe, &why));
  uint32_t alpha = Load32(image.data() + 0x600 + 16 + 4) & 0x7FFFFFFFu;
  Store32(image.data() + 0x600 + alpha + 16 + 4, 0x80000000u);
  pe::ResourceNode root;
  EXPECT_FALSE(pe::ReadResourceTree(image.data(), image.size(), pe, &root, &why));
  EXPECT_NE(why.find("three levels"), std::string::npos) << why;
}

bool Refused(const std::vector<uint8_t>& image, const char* expected, std::string* why) {
  std::vector<uint8_t> out;
  pe::WriteNotes notes;
  const bool written = pe::SetNamedTypeResource(image, u"UPDATE", 102, 1041, Payload(4), &out, &notes, why);
  EXPECT_TRUE(out.empty());
  EXPECT_NE(why->find(expected), std::string::npos) << *why;
  return !written;
}

// A stub whose e_lfanew points into its own resource data: the writer keeps
// only the bytes before .rsrc and used to write the section table's fields
// at their old offsets, past the end of its copy (heap-buffer-overflow
// WRITE under ASan). The old archive is large and the new one small, and
// the .rsrc entry's first field lands at 0xC00, just past the 0xC00 bytes
// the copy has reserved by then.
TEST(PeWriter, NtHeadersInsideTheResourceDataAreRefusedBeforeAnyWrite) {
  pe::ResourceNode resources = StubResources();
  resources.named[u"UPDATE"].ids[102].ids[1041] = Leaf(std::string(0x800, 'f'));
  std::vector<uint8_t> image = MakeImage(resources);
  const size_t moved = 0xC00 - (24 + 224 + 40 + 8);
  const size_t headers = 24 + 224 + 3 * 40;
  const size_t fill = size_t(std::search_n(image.begin(), image.end(), 0x800, uint8_t('f')) - image.begin());
  ASSERT_TRUE(fill <= moved && moved + headers <= fill + 0x800);
  std::copy(image.begin() + kNt, image.begin() + kNt + headers, image.begin() + moved);
  Store32(image.data() + 0x3C, uint32_t(moved));
  std::string why;
  EXPECT_TRUE(Refused(image, "SizeOfHeaders", &why));
  pe::PeImage pe;
  EXPECT_FALSE(pe::ParsePe(image.data(), image.size(), &pe, &why));
}

TEST(PeReader, SizeOfHeadersOutsideTheFileOrOverASectionIsRefused) {
  struct Case {
    const char* what;
    uint32_t sizeOfHeaders;
    const char* expected;
  } cases[] = {
      {"section table past SizeOfHeaders", kTable + 2 * 40, "section table run past SizeOfHeaders"},
      {"SizeOfHeaders past the end of the file", 0x10000, "past the end of the file"},
      {"SizeOfHeaders over .text's raw data", 0x401, "section .text starts inside the headers"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> image = MakeImage(StubResources());
    Store32(image.data() + kOpt + 60, c.sizeOfHeaders);
    pe::PeImage pe;
    std::string why;
    EXPECT_FALSE(pe::ParsePe(image.data(), image.size(), &pe, &why)) << c.what;
    EXPECT_NE(why.find(c.expected), std::string::npos) << c.what << ": " << why;
    EXPECT_TRUE(Refused(image, c.expected, &why)) << c.what;
  }
  std::vector<uint8_t> exact = MakeImage(StubResources());
  Store32(exact.data() + kOpt + 60, kTable + 3 * 40);
  pe::PeImage pe;
  std::string why;
  EXPECT_TRUE(pe::ParsePe(exact.data(), exact.size(), &pe, &why)) << why;
}

// Found by the stub fuzzer: .reloc at .rsrc's own address. The writer moved
// both and wrote a file whose resource the readers then looked for in the
// wrong section.
TEST(PeReader, SectionsOverlappingOrOutOfOrderAreRefused) {
  struct Case {
    const char* what;
    uint32_t relocVa;
  } cases[] = {{"at .rsrc's address", 0x2000}, {"inside .text", 0x1008}, {"before .text", 0x800}};
  for (const Case& c : cases) {
    std::vector<uint8_t> image = MakeImage(StubResources());
    Store32(image.data() + kTable + 2 * 40 + 12, c.relocVa);
    pe::PeImage pe;
    std::string why;
    EXPECT_FALSE(pe::ParsePe(image.data(), image.size(), &pe, &why)) << c.what;
    EXPECT_TRUE(Refused(image, "lies over the section before it", &why)) << c.what;
  }
}

// Every root entry names another long name in one ramp of UTF-16 units: a
// 45 KB section that describes some 35 MB of names. Copying them, and the
// writer's 32-bit offsets after them, would grow with the square of the
// section; they count against the file's size like data.
TEST(PeReader, ManyLongNamesSharingOneSectionAreBoundedByTheFileSize) {
  constexpr uint32_t kNames = 1024;
  constexpr uint32_t kDataEntry = 16 + 8 * kNames;
  constexpr uint32_t kRamp = kDataEntry + 16;
  constexpr uint32_t kUnits = 0x4000 + 2 * kNames + 8;
  std::vector<uint8_t> rsrc(kRamp + 2 * kUnits, 0);
  Store16(rsrc.data() + 12, uint16_t(kNames));
  for (uint32_t i = 0; i < kNames; ++i) {
    Store32(rsrc.data() + 16 + 8 * i, 0x80000000u | (kRamp + 2 * i));
    Store32(rsrc.data() + 16 + 8 * i + 4, kDataEntry);
  }
  // Name i is 0x4000 + i units long: every name differs.
  for (uint32_t j = 0; j < kUnits; ++j) Store16(rsrc.data() + kRamp + 2 * j, uint16_t(0x4000 + j));
  const std::vector<uint8_t> image = MakeImageWithSection(rsrc);
  pe::PeImage pe;
  std::string why;
  ASSERT_TRUE(pe::ParsePe(image.data(), image.size(), &pe, &why)) << why;
  pe::ResourceNode root;
  EXPECT_FALSE(pe::ReadResourceTree(image.data(), image.size(), pe, &root, &why));
  EXPECT_TRUE(Refused(image, "more than the file holds", &why));

  // One of them is a legitimate tree.
  Store16(rsrc.data() + 12, 1);
  const std::vector<uint8_t> two = MakeImageWithSection(rsrc);
  ASSERT_TRUE(pe::ParsePe(two.data(), two.size(), &pe, &why)) << why;
  EXPECT_TRUE(pe::ReadResourceTree(two.data(), two.size(), pe, &root, &why)) << why;
  EXPECT_EQ(root.named.size(), 1u);
}

// The 16-bit entry counts: a type directory with every id already taken
// gains one more with the archive's id and would wrap to 0.
TEST(PeWriter, TreesTheFormatsCountsCannotHoldAreMeasuredAsRefused) {
  uint64_t size = 0;
  std::string why;
  ASSERT_TRUE(pe::MeasureResourceSection(StubResources(), &size, &why)) << why;
  EXPECT_EQ(size, pe::WriteResourceSection(StubResources(), 0x2000).size());

  pe::ResourceNode full;
  for (uint32_t id = 0; id <= 0xFFFF; ++id) full.ids[uint16_t(id)].leaf = true;
  EXPECT_FALSE(pe::MeasureResourceSection(full, &size, &why));
  EXPECT_TRUE(pe::WriteResourceSection(full, 0x2000).empty());
  full.ids.erase(7);
  EXPECT_TRUE(pe::MeasureResourceSection(full, &size, &why)) << why;

  pe::ResourceNode longName;
  longName.named[std::u16string(0x10000, u'n')].leaf = true;
  EXPECT_FALSE(pe::MeasureResourceSection(longName, &size, &why));
}

// Checksums from an independent reader: python3-pefile's
// PE.generate_checksum() on these two images, computed once. The images
// depend only on MakeImageWithSection's layout and this noise; the old
// CheckSum field, which the sum leaves out, holds another value.
TEST(PeChecksum, MatchesPefileOnAnEvenAndAnOddLengthImage) {
  std::vector<uint8_t> noise(0x2F00);
  uint32_t s = 0x2545F491u;
  for (uint8_t& b : noise) {
    s = s * 1664525u + 1013904223u;
    b = uint8_t(s >> 24);
  }
  std::vector<uint8_t> image = MakeImageWithSection(noise);
  ASSERT_EQ(image.size(), 14336u);
  Store32(image.data() + kOpt + 64, 0x12345678u);
  EXPECT_EQ(pe::ComputeChecksum(image.data(), image.size(), kOpt + 64), 0xEFBAu);
  image.push_back(0xAB);
  EXPECT_EQ(pe::ComputeChecksum(image.data(), image.size(), kOpt + 64), 0xF066u);
}

// A subdirectory whose 16-byte header would end past the resource section:
// the bytes after it (.reloc's, zeroed here so that they read as a
// directory without entries) are not the section's.
TEST(PeReader, DirectoryHeaderPastTheSectionsEndIsRefused) {
  for (uint32_t fromEnd : {16u, 8u}) {
    std::vector<uint8_t> rsrc(0x200, 0);
    Store16(rsrc.data() + 14, 1);  // one id entry: type 5
    Store32(rsrc.data() + 16, 5);
    Store32(rsrc.data() + 20, 0x80000000u | uint32_t(rsrc.size() - fromEnd));
    Layout layout;
    std::vector<uint8_t> image = MakeImageWithSection(rsrc, &layout);
    std::fill(image.begin() + layout.relocRaw, image.begin() + layout.relocRaw + 16, 0);
    pe::PeImage pe;
    std::string why;
    ASSERT_TRUE(pe::ParsePe(image.data(), image.size(), &pe, &why)) << why;
    pe::ResourceNode root;
    const bool read = pe::ReadResourceTree(image.data(), image.size(), pe, &root, &why);
    if (fromEnd == 16) {
      EXPECT_TRUE(read) << why;
      EXPECT_EQ(root.ids.count(5), 1u);
    } else {
      EXPECT_FALSE(read);
      EXPECT_NE(why.find("outside the resource section"), std::string::npos) << why;
    }
  }
}

}  // namespace

namespace header_limits {

// Why ParsePe refuses an image, or "ok".
std::string Verdict(const std::vector<uint8_t>& image) {
  pe::PeImage pe;
  std::string why;
  return pe::ParsePe(image.data(), image.size(), &pe, &why) ? "ok" : why;
}

// Each header limit exactly met, then passed by one: the first is not
// refused for that limit (a later check may refuse it for another), the
// second is, with that limit's words.
TEST(PeReader, EachHeaderLimitHoldsExactlyAndFailsOneBeyond) {
  const std::vector<uint8_t> good = MakeImage(StubResources());
  const uint32_t size = uint32_t(good.size());
  struct Case {
    const char* refusal;
    std::function<void(std::vector<uint8_t>&, uint32_t beyond)> set;
  } cases[] = {
      {"no NT headers",  // the signature and the file header, then 2 bytes of optional header
       [&](std::vector<uint8_t>& i, uint32_t b) {
         const uint32_t nt = size - 26 + b;
         Store32(i.data() + 0x3C, nt);
         std::memcpy(i.data() + nt, "PE\0\0", 4);
         Store16(i.data() + nt + 20, 0);
       }},
      {"optional header runs past the end of the file",
       [&](std::vector<uint8_t>& i, uint32_t b) { Store16(i.data() + kNt + 20, uint16_t(size - kOpt + b)); }},
      {"optional header too short",
       [&](std::vector<uint8_t>& i, uint32_t b) { Store16(i.data() + kNt + 20, uint16_t(96 - b)); }},
      {"data directories run past the optional header",
       [&](std::vector<uint8_t>& i, uint32_t b) { Store32(i.data() + kOpt + 92, 16 + b); }},
      {"section table runs past the end of the file",
       [&](std::vector<uint8_t>& i, uint32_t b) { Store16(i.data() + kNt + 6, uint16_t((size - kTable) / 40 + b)); }},
      {"section table runs past the end of the file",  // the file ends with the table
       [&](std::vector<uint8_t>& i, uint32_t b) { i.resize(kTable + 3 * 40 - b); }},
      {"section .rsrc lies over the section before it",  // .text ending where .rsrc starts
       [&](std::vector<uint8_t>& i, uint32_t b) { Store32(i.data() + kTable + 8, 0x1000 + b); }},
      {"section .reloc runs past the end of the file",
       [&](std::vector<uint8_t>& i, uint32_t b) {
         const uint32_t rawAt = pe::Load32(i.data() + kTable + 80 + 20);
         Store32(i.data() + kTable + 80 + 16, size - rawAt + b);
       }},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> exact = good, beyond = good;
    c.set(exact, 0);
    c.set(beyond, 1);
    EXPECT_EQ(Verdict(exact).find(c.refusal), std::string::npos) << c.refusal << ": " << Verdict(exact);
    EXPECT_NE(Verdict(beyond).find(c.refusal), std::string::npos) << c.refusal << ": " << Verdict(beyond);
  }
}

// A read of the file through an address: the last bytes a section holds
// are readable, one more is not.
TEST(PeReader, AddressesReachTheLastRawByteAndNoFurther) {
  std::vector<uint8_t> image = MakeImage(StubResources());
  Store32(image.data() + kTable + 8, 0x400);  // .text: 0x400 in memory, 0x200 of them in the file
  pe::PeImage pe;
  std::string why;
  ASSERT_TRUE(pe::ParsePe(image.data(), image.size(), &pe, &why)) << why;
  const pe::Section& text = pe.sections[0];  // 0x200 raw bytes at 0x400
  size_t at = 0;
  EXPECT_TRUE(pe.RvaToOffset(text.virtualAddress + text.rawSize - 4, 4, image.size(), &at));
  EXPECT_EQ(at, size_t(text.rawOffset + text.rawSize - 4));
  EXPECT_FALSE(pe.RvaToOffset(text.virtualAddress + text.rawSize - 4, 5, image.size(), &at));
  EXPECT_FALSE(pe.RvaToOffset(text.virtualAddress + text.rawSize - 3, 4, image.size(), &at));
  EXPECT_EQ(pe.SectionOfRva(text.virtualAddress + 0x3FF), &text);
  EXPECT_EQ(pe.SectionOfRva(text.virtualAddress + 0x400), nullptr);
  // A file cut inside the section's raw data: its end bounds the read.
  const size_t cut = text.rawOffset + 0x100;
  EXPECT_TRUE(pe.RvaToOffset(text.virtualAddress + 0xFC, 4, cut, &at));
  EXPECT_FALSE(pe.RvaToOffset(text.virtualAddress + 0xFD, 4, cut, &at));
}

}  // namespace header_limits

namespace resource_limits {

// Why ReadResourceTree refuses a section of these bytes, or "ok".
std::string TreeVerdict(const std::vector<uint8_t>& rsrc) {
  const std::vector<uint8_t> image = MakeImageWithSection(rsrc);
  pe::PeImage pe;
  std::string why;
  if (!pe::ParsePe(image.data(), image.size(), &pe, &why)) return "image: " + why;
  pe::ResourceNode root;
  return pe::ReadResourceTree(image.data(), image.size(), pe, &root, &why) ? "ok" : why;
}

// A 0x200-byte section (then .reloc's bytes) whose root holds `count` id
// entries, each with `target`.
std::vector<uint8_t> Root(uint16_t count, uint32_t target) {
  std::vector<uint8_t> rsrc(0x200, 0);
  Store16(rsrc.data() + 14, count);
  for (uint32_t i = 0; i < count && 24 + 8 * i <= rsrc.size(); ++i) {
    Store32(rsrc.data() + 16 + 8 * i, i);
    Store32(rsrc.data() + 20 + 8 * i, target);
  }
  return rsrc;
}

void DataEntry(std::vector<uint8_t>& rsrc, uint32_t at, uint32_t rva, uint32_t size) {
  Store32(rsrc.data() + at, rva);
  Store32(rsrc.data() + at + 4, size);
}

// Each limit of the resource tree met exactly, then passed by one: the
// first is not refused for that limit, the second is, in its words.
TEST(PeReader, EachResourceLimitHoldsExactlyAndFailsOneBeyond) {
  constexpr uint32_t kDir = 0x80000000u;
  struct Case {
    const char* refusal;
    std::function<std::vector<uint8_t>(uint32_t beyond)> make;
  } cases[] = {
      {"malformed: directory lies",  // a subdirectory's header ending at the section's end
       [](uint32_t b) { return Root(1, kDir | (0x200 - 16 + b)); }},
      {"directory's entries",  // 62 entries fill the 0x200 bytes; the data entry is the root's zeros
       [](uint32_t b) { return Root(uint16_t(62 + b), 0); }},
      {"resource name",  // a name whose last unit is the section's last two bytes
       [](uint32_t b) {
         std::vector<uint8_t> rsrc = Root(0, 0);
         Store16(rsrc.data() + 12, 1);
         Store32(rsrc.data() + 16, kDir | 0x100);
         Store16(rsrc.data() + 0x100, uint16_t(127 + b));
         return rsrc;
       }},
      {"data entry lies",
       [](uint32_t b) { return Root(1, 0x200 - 16 + b); }},
      {"data entry lies",  // far past the section: no wrap-around
       [](uint32_t b) { return Root(1, b ? 0x7FFFFFF0u : 0); }},
      {"resource's data",  // data ending at the section's last byte
       [](uint32_t b) {
         std::vector<uint8_t> rsrc = Root(1, 0x100);
         DataEntry(rsrc, 0x100, 0x2000 + 0x1F0, 16 + b);
         return rsrc;
       }},
      {"more than the file holds",  // ten entries sharing 256 bytes: the 0xA00-byte file
       [](uint32_t b) {
         std::vector<uint8_t> rsrc = Root(10, 0x100);
         DataEntry(rsrc, 0x100, 0x2000, 256 + b);
         return rsrc;
       }},
      {"more than three levels",  // root, type, name, then a fourth directory
       [](uint32_t b) {
         std::vector<uint8_t> rsrc = Root(1, kDir | 0x40);
         for (uint32_t at : {0x40u, 0x60u, 0x80u}) Store16(rsrc.data() + at + 14, 1);
         Store32(rsrc.data() + 0x40 + 20, kDir | 0x60);
         Store32(rsrc.data() + 0x60 + 20, b ? (kDir | 0x80) : 0x100);
         Store32(rsrc.data() + 0x80 + 20, 0x100);
         return rsrc;
       }},
  };
  for (const Case& c : cases) {
    const std::string exact = TreeVerdict(c.make(0)), beyond = TreeVerdict(c.make(1));
    EXPECT_EQ(exact.find(c.refusal), std::string::npos) << c.refusal << ": " << exact;
    EXPECT_NE(beyond.find(c.refusal), std::string::npos) << c.refusal << ": " << beyond;
  }
}

// The writer's own limits: .text may end where .rsrc starts, and the
// resource may fill the image up to its bound but not one byte past it.
TEST(PeWriter, SectionsAndResourceAtTheWritersLimitsAreTaken) {
  std::vector<uint8_t> stub = MakeImage(StubResources());
  Store32(stub.data() + kTable + 8, 0x1000);
  SetArchive(stub, Payload(10));
  for (uint64_t b : {0u, 1u}) {
    std::vector<uint8_t> out;
    pe::ResourceHole hole;
    pe::WriteNotes notes;
    std::string why;
    pe::SetNamedTypeResourceAround(stub, u"UPDATE", 102, 1041, 0x7FFF0000u - stub.size() + b, &out, &hole, &notes,
                                   &why);
    EXPECT_EQ(why.find("too large for an image") != std::string::npos, b == 1) << why;
  }
  uint64_t size = 0;
  std::string why;
  pe::ResourceNode longName;
  longName.named[std::u16string(0xFFFF, u'n')].leaf = true;
  EXPECT_TRUE(pe::MeasureResourceSection(longName, &size, &why)) << why;
}

}  // namespace resource_limits
