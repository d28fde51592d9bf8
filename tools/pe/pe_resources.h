// A PE image's resources: finding one, reading the whole tree, writing it
// back as a new resource section.
//
// Resource section (offsets relative to its start, little-endian):
//   directory table  16 bytes: characteristics u32, time stamp u32, major
//                    u16, minor u16, named entry count u16, id entry count
//                    u16; then that many 8-byte entries, named ones first
//   entry            name u32: high bit set = offset of a name (u16 length in
//                    UTF-16 units, then the units), else an id in the low 16
//                    bits; data u32: high bit set = offset of a subdirectory,
//                    else offset of a data entry
//   data entry       16 bytes: RVA of the bytes, size, code page, reserved
// Three levels: type, name, language. The system finds entries by binary
// search, so named entries come first, ordered by name compared without
// regard to case, then ids in ascending order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/pe/pe_image.h"

namespace pe {

// Names compare as upper-cased UTF-16 code units.
struct ResourceNameLess {
  bool operator()(const std::u16string& a, const std::u16string& b) const;
};

struct ResourceNode {
  // A directory: its header fields and its entries, kept in the order the
  // format prescribes by the containers themselves.
  uint32_t characteristics = 0;
  uint32_t timeDateStamp = 0;
  uint16_t majorVersion = 0;
  uint16_t minorVersion = 0;
  std::map<std::u16string, ResourceNode, ResourceNameLess> named;
  std::map<uint16_t, ResourceNode> ids;
  // A data entry (leaf) instead.
  bool leaf = false;
  std::vector<uint8_t> data;
  // Bytes of the datum not held in `data` but supplied by the caller around
  // the written section (at most one leaf of a tree; data then empty).
  uint64_t externalSize = 0;
  uint32_t codePage = 0;
  uint32_t reserved = 0;
};

// Where a resource's bytes lie in the file.
struct FileSpan {
  size_t offset = 0;
  size_t size = 0;
};

// Finds resource `type` (a name) / `id`, in the first language it has.
// False with *why when the image has no such resource or its resource
// directory is malformed; every offset is checked before it is followed.
bool FindNamedTypeResource(const uint8_t* data, size_t size, const PeImage& image,
                           const std::u16string& type, uint16_t id, FileSpan* span, std::string* why);

// Reads the whole tree (at most three levels; a data entry's bytes are
// copied). False with *why when malformed, or when its names and data
// together would take more bytes than the file has.
bool ReadResourceTree(const uint8_t* data, size_t size, const PeImage& image, ResourceNode* root,
                      std::string* why);

// The largest section WriteResourceSection writes: its offsets have 31 bits.
constexpr uint64_t kMaxResourceSection = 0x7FFF0000u;

// The number of bytes WriteResourceSection would give the tree, counted in
// 64 bits. False with *why when a directory has more than 65535 named or id
// entries or a name more than 65535 units (the format's 16-bit counts).
bool MeasureResourceSection(const ResourceNode& root, uint64_t* size, std::string* why);

// Lays the tree out as a resource section that will be mapped at `rva`:
// directory tables breadth-first, then the data entries, the names and the
// data, each datum aligned to 8 bytes. Empty when the tree does not measure
// or the section would pass kMaxResourceSection or wrap an RVA: measure first.
// With a leaf of externalSize bytes, the section is returned without them:
// they belong at *holeOffset of the section.
std::vector<uint8_t> WriteResourceSection(const ResourceNode& root, uint32_t rva, uint64_t* holeOffset = nullptr);

}  // namespace pe
