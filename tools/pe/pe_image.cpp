#include "tools/pe/pe_image.h"

namespace pe {

const Section* PeImage::SectionOfRva(uint32_t rva) const {
  for (const Section& s : sections) {
    uint64_t extent = s.virtualSize ? s.virtualSize : s.rawSize;
    if (rva >= s.virtualAddress && uint64_t(rva) < uint64_t(s.virtualAddress) + extent) return &s;
  }
  return nullptr;
}

bool PeImage::RvaToOffset(uint32_t rva, uint32_t size, size_t fileSize, size_t* offset) const {
  const Section* s = SectionOfRva(rva);
  if (!s) return false;
  uint64_t within = uint64_t(rva) - s->virtualAddress;
  // Only what the file holds: the zero-filled tail past the raw data is not
  // readable from the file.
  if (within + size > s->rawSize) return false;
  uint64_t at = uint64_t(s->rawOffset) + within;
  if (at + size > fileSize) return false;
  *offset = size_t(at);
  return true;
}

namespace {

// What the writer rewrites in place (the NT headers and the section table)
// must lie inside SizeOfHeaders, and SizeOfHeaders inside the file and below
// every section's raw data: otherwise a header field could lie in a
// section's bytes, which the writer moves.
bool CheckHeaderExtent(const PeImage& image, uint64_t tableEnd, size_t fileSize, std::string* why) {
  if (tableEnd > image.sizeOfHeaders) {
    *why = "the headers and the section table run past SizeOfHeaders";
    return false;
  }
  if (image.sizeOfHeaders > fileSize) {
    *why = "SizeOfHeaders runs past the end of the file";
    return false;
  }
  for (const Section& s : image.sections) {
    if (s.rawSize && s.rawOffset < image.sizeOfHeaders) {
      *why = "section " + s.name + " starts inside the headers (below SizeOfHeaders)";
      return false;
    }
  }
  return true;
}

}  // namespace

bool LooksLikePe(const uint8_t* data, size_t size) {
  return size >= 2 && data[0] == 'M' && data[1] == 'Z';
}

bool ParsePe(const uint8_t* data, size_t size, PeImage* image, std::string* why) {
  *image = PeImage{};
  if (size < 0x40 || !LooksLikePe(data, size)) {
    *why = "not a PE file (no DOS header)";
    return false;
  }
  const uint32_t nt = Load32(data + 0x3C);
  if (nt > size || size - nt < 24 + 2 || Load32(data + nt) != 0x00004550) {
    *why = "not a PE file (no NT headers)";
    return false;
  }
  const uint8_t* file = data + nt + 4;
  const uint16_t sectionCount = Load16(file + 2);
  image->symbolTableOffset = Load32(file + 8);
  const uint16_t optionalSize = Load16(file + 16);
  image->ntOffset = nt;
  image->optionalOffset = size_t(nt) + 24;
  if (optionalSize > size - image->optionalOffset) {
    *why = "optional header runs past the end of the file";
    return false;
  }
  const uint8_t* opt = data + image->optionalOffset;
  const uint16_t magic = Load16(opt);
  if (magic != 0x10B && magic != 0x20B) {
    *why = "unknown optional header magic";
    return false;
  }
  image->pe32Plus = magic == 0x20B;
  const size_t countField = image->pe32Plus ? 108 : 92;
  const size_t dirField = countField + 4;
  if (optionalSize < dirField) {
    *why = "optional header too short";
    return false;
  }
  image->sectionAlignment = Load32(opt + 32);
  image->fileAlignment = Load32(opt + 36);
  image->sizeOfHeaders = Load32(opt + 60);
  image->checksumOffset = image->optionalOffset + 64;
  uint32_t dirCount = Load32(opt + countField);
  if (dirCount > (optionalSize - dirField) / 8) {
    *why = "data directories run past the optional header";
    return false;
  }
  image->directoriesOffset = image->optionalOffset + dirField;
  for (uint32_t i = 0; i < dirCount; ++i)
    image->directories.push_back({Load32(opt + dirField + 8 * i), Load32(opt + dirField + 8 * i + 4)});
  auto powerOfTwo = [](uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
  if (!powerOfTwo(image->fileAlignment) || !powerOfTwo(image->sectionAlignment)) {
    *why = "section or file alignment is not a power of two";
    return false;
  }

  const size_t table = image->optionalOffset + optionalSize;
  if (size_t(sectionCount) * 40 > size - table) {
    *why = "section table runs past the end of the file";
    return false;
  }
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint8_t* h = data + table + size_t(i) * 40;
    Section s;
    size_t n = 0;
    while (n < 8 && h[n]) ++n;
    s.name.assign(reinterpret_cast<const char*>(h), n);
    s.virtualSize = Load32(h + 8);
    s.virtualAddress = Load32(h + 12);
    s.rawSize = Load32(h + 16);
    s.rawOffset = Load32(h + 20);
    s.characteristics = Load32(h + 36);
    s.headerOffset = table + size_t(i) * 40;
    if (s.rawSize && (s.rawOffset > size || s.rawSize > size - s.rawOffset)) {
      *why = "section " + s.name + " runs past the end of the file";
      return false;
    }
    image->sections.push_back(s);
  }
  return CheckHeaderExtent(*image, uint64_t(table) + uint64_t(sectionCount) * 40, size, why);
}

uint32_t ComputeChecksum(const uint8_t* data, size_t size, size_t checksumOffset) {
  uint64_t sum = 0;
  for (size_t i = 0; i < size; i += 2) {
    if (i == checksumOffset || i == checksumOffset + 2) continue;
    uint32_t word = data[i];
    if (i + 1 < size) word |= uint32_t(data[i + 1]) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return uint32_t(sum + size);
}

}  // namespace pe
