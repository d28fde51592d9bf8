#include "tools/pe/pe_writer.h"

#include "tools/pe/pe_image.h"
#include "tools/pe/pe_resources.h"

namespace pe {
namespace {

uint64_t AlignUp(uint64_t value, uint32_t to) { return (value + to - 1) & ~uint64_t(to - 1); }

bool Refuse(std::string* why, const std::string& text) {
  *why = text;
  return false;
}

// What lies past the last section may only be a certificate table, a COFF
// symbol table (with its string table, to the end) and zero fill: anything
// else would be lost without a word.
bool TrailerIsDroppable(const std::vector<uint8_t>& image, uint64_t from, const PeImage& pe) {
  const DataDirectory cert = pe.directory(kDirCertificates);
  const uint64_t certEnd = uint64_t(cert.rva) + cert.size;
  uint64_t pos = from;
  while (pos < image.size()) {
    if (cert.size && pos >= cert.rva && pos < certEnd) {
      pos = certEnd;
    } else if (pe.symbolTableOffset && pos >= pe.symbolTableOffset) {
      return true;
    } else if (image[size_t(pos)] == 0) {
      ++pos;
    } else {
      return false;
    }
  }
  return true;
}

// The section the resource directory starts.
bool FindResourceSection(const PeImage& pe, size_t* index, std::string* why) {
  const DataDirectory resources = pe.directory(kDirResources);
  for (size_t i = 0; i < pe.sections.size(); ++i) {
    if (resources.rva != 0 && pe.sections[i].virtualAddress == resources.rva) {
      *index = i;
      return true;
    }
  }
  return Refuse(why, "the image has no resource section (its resource directory must start a section)");
}

// Everything the writer reads from the image or rewrites in its copy, checked
// before the copy is made. The copy keeps the bytes before the resource
// section and rewrites header fields in place, so every such field must lie
// below that section's raw data.
bool CheckLayout(const std::vector<uint8_t>& image, const PeImage& pe, size_t rs, std::string* why) {
  const Section& old = pe.sections[rs];
  if (old.rawOffset < pe.sizeOfHeaders || old.rawSize == 0)
    return Refuse(why, "the resource section has no data in the file");
  const uint64_t headersEnd = uint64_t(pe.sections.back().headerOffset) + 40;
  const uint64_t directoriesEnd = uint64_t(pe.directoriesOffset) + 8 * uint64_t(pe.directories.size());
  if (headersEnd > old.rawOffset || directoriesEnd > old.rawOffset || uint64_t(pe.checksumOffset) + 4 > old.rawOffset)
    return Refuse(why, "the headers reach into the resource section");
  if ((old.characteristics & kSectionInitializedData) && Load32(image.data() + pe.optionalOffset + 8) < old.rawSize)
    return Refuse(why, "SizeOfInitializedData is smaller than the resource section");
  // The zero fill after each moved section is sized from the alignment.
  if (pe.fileAlignment > 0x10000) return Refuse(why, "the file alignment is larger than 64 KB");
  for (size_t i = 0; i < rs; ++i) {
    const Section& s = pe.sections[i];
    if (uint64_t(s.virtualAddress) + s.virtualSize > old.virtualAddress ||
        (s.rawSize && uint64_t(s.rawOffset) + s.rawSize > old.rawOffset))
      return Refuse(why, "section " + s.name + " overlaps or follows the resource section");
  }
  for (size_t i = rs + 1; i < pe.sections.size(); ++i) {
    const Section& s = pe.sections[i];
    if (s.name != ".reloc")
      return Refuse(why, "section " + s.name + " follows the resource section; only .reloc may");
    const Section& before = pe.sections[i - 1];
    if (s.virtualAddress < before.virtualAddress || s.rawOffset < uint64_t(before.rawOffset) + before.rawSize)
      return Refuse(why, "the sections after the resource section are out of order");
  }
  uint64_t lastEnd = 0;
  for (const Section& s : pe.sections)
    if (s.rawSize && uint64_t(s.rawOffset) + s.rawSize > lastEnd) lastEnd = uint64_t(s.rawOffset) + s.rawSize;
  if (!TrailerIsDroppable(image, lastEnd, pe))
    return Refuse(why, "data follows the last section that is neither a certificate nor a symbol table");
  return true;
}

// The new resource section and the file around it, measured in 64 bits
// before anything is allocated or written.
bool CheckNewSize(const ResourceNode& root, const PeImage& pe, size_t rs, std::string* why) {
  const Section& old = pe.sections[rs];
  uint64_t size = 0;
  if (!MeasureResourceSection(root, &size, why)) return false;
  if (size > kMaxResourceSection || size > 0xFFFFFFFFu - old.virtualAddress)
    return Refuse(why, "the resources would not fit in a section (" + std::to_string(size) + " bytes)");
  uint64_t fileEnd = AlignUp(uint64_t(old.rawOffset) + size, pe.fileAlignment);
  for (size_t i = rs + 1; i < pe.sections.size(); ++i) fileEnd = AlignUp(fileEnd + pe.sections[i].rawSize, pe.fileAlignment);
  if (fileEnd > 0x7FFFFFFFu) return Refuse(why, "the image would pass 2 GiB");
  return true;
}

}  // namespace

bool SetNamedTypeResourceAround(const std::vector<uint8_t>& image, const std::u16string& type, uint16_t id,
                                uint16_t language, uint64_t dataSize, std::vector<uint8_t>* out,
                                ResourceHole* hole, WriteNotes* notes, std::string* why) {
  *notes = WriteNotes{};
  PeImage pe;
  if (!ParsePe(image.data(), image.size(), &pe, why)) return false;
  size_t rs = 0;
  if (!FindResourceSection(pe, &rs, why) || !CheckLayout(image, pe, rs, why)) return false;
  const Section old = pe.sections[rs];
  // Bounds every offset the section will hold well inside 32 bits.
  if (image.size() > 0x7FFF0000u || dataSize > 0x7FFF0000u - image.size())
    return Refuse(why, "the resource is too large for an image");

  ResourceNode root;
  if (!ReadResourceTree(image.data(), image.size(), pe, &root, why)) return false;
  ResourceNode& typeNode = root.named[type];
  if (typeNode.leaf) return Refuse(why, "resource directory is malformed: a type is a data entry");
  ResourceNode& idNode = typeNode.ids[id];
  if (idNode.leaf) return Refuse(why, "resource directory is malformed: a name is a data entry");
  idNode.named.clear();
  idNode.ids.clear();
  ResourceNode& leaf = idNode.ids[language];
  leaf.leaf = true;
  leaf.data.clear();
  leaf.externalSize = dataSize;
  if (!CheckNewSize(root, pe, rs, why)) return false;
  uint64_t holeInSection = 0;
  const std::vector<uint8_t> section = WriteResourceSection(root, old.virtualAddress, &holeInSection);
  // Every size below counts the bytes left out of *out.
  const uint64_t sectionSize = section.size() + dataSize;

  // The resource section keeps its place; what follows it moves up behind it.
  std::vector<uint8_t> result(image.begin(), image.begin() + old.rawOffset);
  auto appendAligned = [&](const uint8_t* bytes, size_t n, uint64_t left) {
    result.insert(result.end(), bytes, bytes + n);
    result.resize(size_t(AlignUp(result.size() + left, pe.fileAlignment) - left), 0);
  };
  appendAligned(section.data(), section.size(), dataSize);
  const uint32_t newRaw = uint32_t(result.size() + dataSize - old.rawOffset);
  uint8_t* header = result.data() + old.headerOffset;
  Store32(header + 8, uint32_t(sectionSize));
  Store32(header + 16, newRaw);
  uint64_t imageEnd = AlignUp(uint64_t(old.virtualAddress) + sectionSize, pe.sectionAlignment);
  std::vector<DataDirectory> dirs = pe.directories;
  for (size_t i = rs + 1; i < pe.sections.size(); ++i) {
    const Section& s = pe.sections[i];
    const uint64_t newVa = imageEnd;
    const uint32_t rawAt = uint32_t(result.size() + dataSize);
    appendAligned(image.data() + s.rawOffset, s.rawSize, dataSize);
    const uint64_t extent = s.virtualSize ? s.virtualSize : s.rawSize;
    for (size_t d = 0; d < dirs.size(); ++d) {
      if (d == kDirCertificates) continue;  // a file offset, not an address
      if (dirs[d].rva >= s.virtualAddress && dirs[d].rva < s.virtualAddress + extent)
        dirs[d].rva = uint32_t(dirs[d].rva - s.virtualAddress + newVa);
    }
    header = result.data() + s.headerOffset;
    Store32(header + 12, uint32_t(newVa));
    Store32(header + 20, rawAt);
    imageEnd = AlignUp(newVa + extent, pe.sectionAlignment);
  }
  if (imageEnd > 0xFFFFFFFFu || result.size() + dataSize > 0xFFFFFFFFu)
    return Refuse(why, "the image would pass 4 GiB");

  uint8_t* opt = result.data() + pe.optionalOffset;
  if (old.characteristics & kSectionInitializedData)
    Store32(opt + 8, Load32(opt + 8) - old.rawSize + newRaw);
  Store32(opt + 56, uint32_t(imageEnd));
  dirs[kDirResources].size = uint32_t(sectionSize);
  if (dirs.size() > kDirCertificates && dirs[kDirCertificates].size) {
    notes->droppedCertificate = true;
    dirs[kDirCertificates] = DataDirectory{};
  }
  for (size_t d = 0; d < dirs.size(); ++d) {
    Store32(result.data() + pe.directoriesOffset + 8 * d, dirs[d].rva);
    Store32(result.data() + pe.directoriesOffset + 8 * d + 4, dirs[d].size);
  }
  if (pe.symbolTableOffset) {
    notes->droppedSymbols = true;
    Store32(result.data() + pe.ntOffset + 4 + 8, 0);
    Store32(result.data() + pe.ntOffset + 4 + 12, 0);
  }
  Store32(result.data() + pe.checksumOffset, 0);
  hole->offset = old.rawOffset + holeInSection;
  hole->size = dataSize;
  hole->checksumOffset = pe.checksumOffset;
  out->swap(result);
  return true;
}

bool SetNamedTypeResource(const std::vector<uint8_t>& image, const std::u16string& type, uint16_t id,
                          uint16_t language, const std::vector<uint8_t>& data,
                          std::vector<uint8_t>* out, WriteNotes* notes, std::string* why) {
  std::vector<uint8_t> around;
  ResourceHole hole;
  if (!SetNamedTypeResourceAround(image, type, id, language, data.size(), &around, &hole, notes, why)) return false;
  around.insert(around.begin() + ptrdiff_t(hole.offset), data.begin(), data.end());
  PeChecksum sum;
  sum.Update(around.data(), around.size());
  Store32(around.data() + hole.checksumOffset, sum.Finish());
  out->swap(around);
  return true;
}

void PeChecksum::Update(const uint8_t* data, size_t size) {
  // Words are little-endian pairs at even file offsets; a piece may end
  // between the two bytes of one.
  uint64_t sum = sum_;
  size_t i = 0;
  if ((length_ & 1) && size > 0) {
    sum += uint32_t(data[0]) << 8;
    i = 1;
  }
  for (; i + 1 < size; i += 2) sum += uint32_t(data[i]) | (uint32_t(data[i + 1]) << 8);
  if (i < size) sum += data[i];
  // Folded now and then so that the sum never overflows.
  sum_ = (sum & 0xFFFFFFFFu) + (sum >> 32);
  length_ += size;
}

uint32_t PeChecksum::Finish() const {
  uint64_t sum = sum_;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return uint32_t(sum + length_);
}

}  // namespace pe
