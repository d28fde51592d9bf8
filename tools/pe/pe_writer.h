// Writing one resource into a copy of a linked PE image, without a linker:
// the resource section is rebuilt from the image's own tree with the new
// resource in it, every other resource kept byte for byte.
//
// The image must have its resource directory at the start of a section that
// only a base relocation section (.reloc) may follow; that one moves up
// behind the grown resources. Sizes, SizeOfImage, the resource and
// relocation directories and the checksum are brought up to date. A
// certificate table (a signature the change would break) and a COFF symbol
// table past the sections are dropped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pe {

struct WriteNotes {
  bool droppedCertificate = false;
  bool droppedSymbols = false;
};

// Puts `data` in as resource `type` (a name) / `id` / `language`, replacing
// every language that resource had. Returns false with *why (nothing
// written to *out) when the image is malformed or laid out otherwise.
bool SetNamedTypeResource(const std::vector<uint8_t>& image, const std::u16string& type, uint16_t id,
                          uint16_t language, const std::vector<uint8_t>& data,
                          std::vector<uint8_t>* out, WriteNotes* notes, std::string* why);

// Where a resource given only by its size goes.
struct ResourceHole {
  uint64_t offset = 0;          // in the file
  uint64_t size = 0;
  uint32_t checksumOffset = 0;  // of the optional header's CheckSum field
};

// As SetNamedTypeResource for `size` bytes that are not in memory: the file
// is (*out)[0, hole.offset), then the bytes, then the rest of *out. Its
// checksum field is zero; PeChecksum over the whole file gives its value.
bool SetNamedTypeResourceAround(const std::vector<uint8_t>& image, const std::u16string& type, uint16_t id,
                                uint16_t language, uint64_t size, std::vector<uint8_t>* out,
                                ResourceHole* hole, WriteNotes* notes, std::string* why);

// The PE checksum of a file fed in order in pieces of any size, with its
// checksum field zero.
class PeChecksum {
 public:
  void Update(const uint8_t* data, size_t size);
  uint32_t Finish() const;

 private:
  uint64_t sum_ = 0, length_ = 0;
};

}  // namespace pe
