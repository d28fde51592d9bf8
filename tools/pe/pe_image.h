// Reading the headers of a PE image (32- or 64-bit), with every field that
// leads somewhere checked against the file before it is followed.
//
//   0x00  DOS header "MZ"; u32 at 0x3C: offset of the NT headers
//   NT    "PE\0\0"; file header (20 bytes): machine u16, number of sections
//         u16, time stamp, symbol table offset u32 (+12), symbol count u32
//         (+16), optional header size u16 (+20), characteristics u16
//   +24   optional header: magic 0x10B (PE32) or 0x20B (PE32+); size of
//         initialized data (+8), section alignment (+32), file alignment
//         (+36), SizeOfImage (+56), SizeOfHeaders (+60), CheckSum (+64),
//         number of data directories (+92 / +108), the directories (+96 /
//         +112, 8 bytes each: RVA, size; 2 resources, 4 certificates as a
//         file offset, 5 base relocations)
//   then  the section table, 40 bytes a section: name[8], VirtualSize,
//         VirtualAddress, SizeOfRawData, PointerToRawData, ..., flags (+36)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pe {

constexpr uint32_t kDirResources = 2;
constexpr uint32_t kDirCertificates = 4;
constexpr uint32_t kDirBaseRelocations = 5;
constexpr uint32_t kSectionInitializedData = 0x40;

struct Section {
  std::string name;  // up to 8 bytes, trailing zeros dropped
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t rawSize = 0;
  uint32_t rawOffset = 0;
  uint32_t characteristics = 0;
  size_t headerOffset = 0;  // where its 40-byte entry lies in the file
};

struct DataDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;
};

struct PeImage {
  size_t ntOffset = 0;
  size_t optionalOffset = 0;
  bool pe32Plus = false;
  uint32_t symbolTableOffset = 0;
  uint32_t sectionAlignment = 0;
  uint32_t fileAlignment = 0;
  uint32_t sizeOfHeaders = 0;
  size_t checksumOffset = 0;
  size_t directoriesOffset = 0;
  std::vector<DataDirectory> directories;
  std::vector<Section> sections;

  DataDirectory directory(uint32_t index) const {
    return index < directories.size() ? directories[index] : DataDirectory{};
  }
  // The section whose virtual range holds `rva`; nullptr when none does.
  const Section* SectionOfRva(uint32_t rva) const;
  // The file offset of [rva, rva + size), which must lie inside one section's
  // raw data; false when it does not.
  bool RvaToOffset(uint32_t rva, uint32_t size, size_t fileSize, size_t* offset) const;
};

// Whether the bytes start like a PE file ("MZ"): the tools then read them as
// one and do not fall back to another format.
bool LooksLikePe(const uint8_t* data, size_t size);

// Parses the headers and the section table. On failure returns false and
// says why in *why. Sections are checked to lie inside the file.
bool ParsePe(const uint8_t* data, size_t size, PeImage* image, std::string* why);

// The image checksum: 16-bit one's-complement sum of the file without its
// CheckSum field, plus the file's length.
uint32_t ComputeChecksum(const uint8_t* data, size_t size, size_t checksumOffset);

inline uint16_t Load16(const uint8_t* p) { return uint16_t(uint16_t(p[0]) | (uint16_t(p[1]) << 8)); }
inline uint32_t Load32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void Store16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void Store32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace pe
