// Lays out small archives byte by byte for tests, with members stored or
// given as ready-made streams, and the directory stored or compressed (as a
// literal-only stream).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/format.h"
#include "archive/stream_writer.h"

struct TestMember {
  std::string name;
  std::vector<uint8_t> data;  // stored bytes (a stream when compressed)
  uint32_t fileSize;          // size when extracted
  uint8_t flags = ENTRY_FLAG_STORED;
  uint64_t fileTime = 0x01D0000000000000ULL;
};

inline TestMember StoredMember(const std::string& name, const std::string& content,
                               uint64_t time = 0x01D0000000000000ULL) {
  return TestMember{name, std::vector<uint8_t>(content.begin(), content.end()),
                    uint32_t(content.size()), ENTRY_FLAG_STORED, time};
}

// A compressed member whose stream holds only literals.
inline TestMember LiteralMember(const std::string& name, const std::string& content,
                                uint64_t time = 0x01D0000000000000ULL) {
  StreamWriter w;
  for (char c : content) w.Literal(uint8_t(c));
  w.End();
  return TestMember{name, w.Take(), uint32_t(content.size()), ENTRY_FLAG_COMPRESSED, time};
}

inline std::vector<uint8_t> LayOutArchive(const std::vector<TestMember>& members,
                                          bool compressDirectory) {
  std::vector<uint8_t> image(kArchiveHeaderSize, 0);
  for (const TestMember& m : members) {
    image.insert(image.end(), m.data.begin(), m.data.end());
    image.resize(image.size() + (AlignedStoredSize(uint32_t(m.data.size())) - m.data.size()), 0);
  }
  std::vector<uint8_t> directory(members.size() * kArchiveEntrySize, 0);
  for (size_t i = 0; i < members.size(); ++i) {
    ArchiveEntry e{};
    std::strncpy(e.name, members[i].name.c_str(), kArchiveNameField - 1);
    e.flags = members[i].flags;
    e.fileTime = members[i].fileTime;
    e.fileSize = members[i].fileSize;
    e.storedSize = uint32_t(members[i].data.size());
    e.Store(directory.data() + i * kArchiveEntrySize);
  }
  ArchiveHeader h{{'Q', 'A', '2', 0},
                  compressDirectory ? ARCHIVE_FLAG_COMPRESSED_DIRECTORY : 0u,
                  uint32_t(image.size()), uint32_t(members.size())};
  if (compressDirectory) {
    StreamWriter w;
    for (uint8_t b : directory) w.Literal(b);
    w.End();
    directory = w.Take();
  }
  image.insert(image.end(), directory.begin(), directory.end());
  h.Store(image.data());
  return image;
}
