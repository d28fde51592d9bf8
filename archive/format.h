// The update archive container ("QA2"). Shared by the reader and the builder.
//
// All integers little-endian; offsets from the archive's first byte.
//
//   offset 0   ArchiveHeader (16 bytes)
//                0  magic            "QA2\0"
//                4  flags            u32, bit 0 ARCHIVE_FLAG_COMPRESSED_DIRECTORY
//                8  directoryOffset  u32
//               12  entryCount       u32
//   offset 16  member data, in directory order, each member's storedSize
//              raised to a multiple of 16 and zero-filled; no offset fields:
//              member i starts at 16 + sum(align16(storedSize of members < i))
//   directoryOffset
//              entryCount x ArchiveEntry (32 bytes), or with the flag set one
//              compressed stream from directoryOffset to the archive's end that
//              decodes to exactly entryCount x 32 bytes
//
//   ArchiveEntry (32 bytes)
//                0  name        15 bytes, code page 932, zero-terminated
//                               inside the field (at most 14 bytes of name)
//               15  flags       u8, bit 1 ENTRY_FLAG_COMPRESSED
//               16  fileTime    u64 file time (low half first)
//               24  fileSize    u32, size when extracted
//               28  storedSize  u32, bytes in the data area before the fill
//
// Well formed: the directory and every member lie inside the archive;
// 16 + entryCount x 32 fits in 32 bits; names end inside their field; a stored
// member's storedSize equals its fileSize; a compressed member decodes to
// exactly fileSize bytes.
#pragma once

#include <cstdint>
#include <cstring>

#include "archive/memory_block.h"

constexpr uint32_t ARCHIVE_FLAG_COMPRESSED_DIRECTORY = 1;
constexpr uint8_t ENTRY_FLAG_COMPRESSED = 2;
// What an updater's archive stores in the flag byte of a member kept as is.
constexpr uint8_t ENTRY_FLAG_STORED = 1;

constexpr uint32_t kArchiveHeaderSize = 16;
constexpr uint32_t kArchiveEntrySize = 32;
constexpr uint32_t kArchiveNameField = 15;
constexpr uint32_t kArchiveNameMax = kArchiveNameField - 1;
constexpr char kArchiveMagic[4] = {'Q', 'A', '2', '\0'};

inline uint32_t LoadLE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
         (uint32_t(p[3]) << 24);
}
inline uint64_t LoadLE64(const uint8_t* p) {
  return uint64_t(LoadLE32(p)) | (uint64_t(LoadLE32(p + 4)) << 32);
}
inline void StoreLE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline void StoreLE64(uint8_t* p, uint64_t v) {
  StoreLE32(p, uint32_t(v));
  StoreLE32(p + 4, uint32_t(v >> 32));
}

// A member's room in the data area: storedSize raised to a multiple of 16.
// 64-bit so that a hostile size cannot wrap.
inline uint64_t AlignedStoredSize(uint32_t storedSize) {
  return (uint64_t(storedSize) + 15) & ~uint64_t(15);
}

struct ArchiveHeader {
  uint8_t magic[4];
  uint32_t flags;
  uint32_t directoryOffset;
  uint32_t entryCount;

  static ArchiveHeader Parse(const uint8_t* p) {
    ArchiveHeader h;
    std::memcpy(h.magic, p, 4);
    h.flags = LoadLE32(p + 4);
    h.directoryOffset = LoadLE32(p + 8);
    h.entryCount = LoadLE32(p + 12);
    return h;
  }
  void Store(uint8_t* p) const {
    std::memcpy(p, magic, 4);
    StoreLE32(p + 4, flags);
    StoreLE32(p + 8, directoryOffset);
    StoreLE32(p + 12, entryCount);
  }
  bool HasMagic() const { return std::memcmp(magic, kArchiveMagic, 4) == 0; }
};

struct ArchiveEntry {
  char name[kArchiveNameField];
  uint8_t flags;
  uint64_t fileTime;
  uint32_t fileSize;
  uint32_t storedSize;

  static ArchiveEntry Parse(const uint8_t* p) {
    ArchiveEntry e;
    std::memcpy(e.name, p, kArchiveNameField);
    e.flags = p[15];
    e.fileTime = LoadLE64(p + 16);
    e.fileSize = LoadLE32(p + 24);
    e.storedSize = LoadLE32(p + 28);
    return e;
  }
  void Store(uint8_t* p) const {
    std::memcpy(p, name, kArchiveNameField);
    p[15] = flags;
    StoreLE64(p + 16, fileTime);
    StoreLE32(p + 24, fileSize);
    StoreLE32(p + 28, storedSize);
  }
  bool IsCompressed() const { return (flags & ENTRY_FLAG_COMPRESSED) != 0; }
};

// How an archive is named: a memory image (size non-zero) or, with size 0, a
// zero-terminated path of an archive file at `address`.
struct ArchiveSource {
  const uint8_t* address = nullptr;
  uint32_t size = 0;
};

// An opened archive: one block holding a copy of the 16-byte header followed
// by the decoded directory (entryCount x 32 bytes). Opening has checked it
// against the bounds above, so its entries can be used without re-checking.
struct UpdateArchive {
  MemoryBlock block;

  ArchiveHeader header() const { return ArchiveHeader::Parse(block.data()); }
  uint32_t entryCount() const { return header().entryCount; }
  const uint8_t* firstEntry() const { return block.data() + kArchiveHeaderSize; }
  ArchiveEntry entry(uint32_t index) const {
    return ArchiveEntry::Parse(firstEntry() + size_t(index) * kArchiveEntrySize);
  }
};
