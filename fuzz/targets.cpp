#include "fuzz/targets.h"

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/archive.h"
#include "archive/decoder.h"
#include "archive/encoder.h"
#include "archive/patch.h"
#include "archive/patch_coder.h"
#include "archive/stream_compressor.h"
#include "tests/support/forwarding_platform.h"
#include "tools/pe/pe_image.h"
#include "tools/pe/pe_writer.h"
#include "tools/qa2/exe_input.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Nothing reaches the disk: writes succeed into nowhere, no destination
// exists, every drive has room.
class DiscardingPlatform : public ForwardingPlatform {
 public:
  uint32_t GetFileAttributes(const char*) override { return platform::kInvalidAttributes; }
  bool SetFileAttributes(const char*, uint32_t) override { return true; }
  std::unique_ptr<platform::ReadableFile> OpenForRead(const char*) override { return nullptr; }
  class Discard : public platform::ReplacementFile {
   public:
    bool Write(const void* data, uint32_t size) override {
      // Touch every byte so that ASan sees a block shorter than its size.
      volatile uint8_t sum = 0;
      for (uint32_t i = 0; i < size; ++i) sum = uint8_t(sum + static_cast<const uint8_t*>(data)[i]);
      return true;
    }
    bool Commit(const uint64_t*) override { return true; }
  };
  std::unique_ptr<platform::ReplacementFile> BeginReplacement(const char*) override {
    return std::make_unique<Discard>();
  }
  void FindFiles(const char*, std::vector<std::string>* names) override { names->clear(); }
  platform::FreeSpaceQuery DiskFreeSpaceEx(const char*, uint64_t* a, uint64_t* b,
                                           uint64_t* c) override {
    *a = *b = *c = uint64_t(1) << 40;
    return platform::FreeSpaceQuery::Ok;
  }
};

}  // namespace

int FuzzDecodeStream(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t capacity = (size_t(data[0]) << 8 | data[1]) * 4;
  // Exactly sized copies, so that any access past either end is caught.
  std::vector<uint8_t> source(data + 2, data + size);
  std::vector<uint8_t> out(capacity);
  DecodeResult r = DecodeArchiveStream(out.data(), out.size(), source.data(), source.size());
  Check(r.consumed <= source.size());
  Check(r.written <= capacity);
  return 0;
}

int FuzzChunkedDecode(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t capacity = (size_t(data[0]) << 8 | data[1]) * 4;
  const size_t bufferSize = kChunkedDecoderMinBuffer + size_t(data[2]) * 61;
  std::vector<uint8_t> source(data + 3, data + size);
  std::vector<uint8_t> whole(capacity);
  DecodeResult w = DecodeArchiveStream(whole.data(), whole.size(), source.data(), source.size());

  // With the low bit of data[2], every other piece is made in a second
  // buffer right after the history, as in a buffer that a file lends.
  const bool move = data[2] & 1;
  std::vector<uint8_t> buffer(bufferSize), other(kDecodeHistory + bufferSize), pieces;
  ChunkedDecoder decoder(source.data(), source.size(), capacity, buffer.data(), buffer.size());
  const uint8_t* piece;
  size_t pieceSize;
  for (size_t n = 0;; ++n) {
    const bool inOther = move && n % 2 == 1;
    if (inOther) {
      const size_t keep = decoder.HistorySize();
      decoder.MoveTo(other.data() + kDecodeHistory - keep, keep + bufferSize);
    } else if (move) {
      decoder.MoveTo(buffer.data(), buffer.size());
    }
    if (!decoder.Next(&piece, &pieceSize)) break;
    const std::vector<uint8_t>& in = inOther ? other : buffer;
    Check(pieceSize <= bufferSize && piece >= in.data() && piece + pieceSize <= in.data() + in.size());
    pieces.insert(pieces.end(), piece, piece + pieceSize);
  }
  DecodeResult c = decoder.result();
  Check(c.error == w.error && c.written == w.written && c.consumed == w.consumed);
  if (w.ok()) {
    Check(pieces.size() == w.written);
    Check(std::equal(pieces.begin(), pieces.end(), whole.begin()));
  }
  return 0;
}

int FuzzOpenAndExtract(const uint8_t* data, size_t size) {
  if (size == 0 || size > 0xFFFFFFFFu) return 0;  // size 0 would name a file
  DiscardingPlatform os;
  std::vector<uint8_t> image(data, data + size);
  OpenReport report;
  std::unique_ptr<UpdateArchive> archive =
      OpenUpdateArchive(ArchiveSource{image.data(), uint32_t(image.size())}, &report);
  Check((archive != nullptr) == (report.error == OpenError::None));
  if (!archive) return 0;
  const uint32_t count = archive->entryCount() < 64 ? archive->entryCount() : 64;
  for (uint32_t i = 0; i < count; ++i) {
    ArchiveEntry e = archive->entry(i);
    Check(std::memchr(e.name, 0, kArchiveNameField) != nullptr);
    ExtractOutcome outcome =
        ExtractMember(*archive, image.data(), image.size(), "Z:\\OUT.BIN", e.name, false);
    (void)outcome;
    DecodeError decode;
    MemoryBlock block = ReadArchiveMember(*archive, image.data(), image.size(), i, &decode);
    (void)block;
  }
  return 0;
}

int FuzzRoundTrip(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // Repeat slices of the input at the seed's strides: runs, periods and
  // far copies that random bytes alone seldom give.
  std::vector<uint8_t> input(data + 1, data + size);
  const unsigned seed = data[0];
  if (seed & 1) {
    size_t original = input.size();
    for (size_t k = 0; k < (seed >> 4) && original > 0; ++k)
      input.insert(input.end(), input.begin() + long(k % original), input.begin() + long(original));
  }
  if (seed & 2) input.insert(input.end(), size_t(seed) * 37, uint8_t(seed));
  // Past the window (8192) is far enough; more only slows the search.
  if (input.size() > 9000) input.resize(9000);

  CompressedStream fast, optimal;
  Check(CompressArchiveStream(input.data(), input.size(), CompressionMode::Fast, &fast));
  Check(CompressArchiveStream(input.data(), input.size(), CompressionMode::Optimal, &optimal));
  Check(optimal.bytes.size() <= fast.bytes.size());
  Check(optimal.parseBits <= fast.parseBits);
  auto decodesToInput = [&](const std::vector<uint8_t>& stream) {
    std::vector<uint8_t> out(input.size());
    DecodeResult r = DecodeArchiveStream(out.data(), out.size(), stream.data(), stream.size());
    Check(r.ok() && r.written == input.size() && r.consumed == stream.size());
    Check(out == input);
  };
  decodesToInput(fast.bytes);
  decodesToInput(optimal.bytes);

  // Streamed, in blocks small enough to give several, handed over in pieces
  // of random sizes on 1 to 4 threads: the same bytes as in one piece on one
  // thread, and they decode.
  uint32_t h = 2166136261u ^ seed;
  for (uint8_t b : input) h = (h ^ b) * 16777619u;
  h |= 1;
  auto next = [&h] {
    h ^= h << 13;
    h ^= h >> 17;
    h ^= h << 5;
    return h;
  };
  const size_t block = 1024 + next() % 4000;
  const unsigned jobs = 1 + next() % 4;
  auto streamed = [&](CompressionMode mode, unsigned threads, bool cut) {
    std::vector<uint8_t> out;
    StreamCompressor c(mode, threads, [&](const uint8_t* p, size_t n) {
      out.insert(out.end(), p, p + n);
      return true;
    }, block);
    for (size_t i = 0; i < input.size();) {
      size_t n = cut ? std::min<size_t>(1 + next() % 2000, input.size() - i) : input.size();
      Check(c.Write(input.data() + i, n));
      i += n;
    }
    Check(c.Finish());
    return out;
  };
  std::vector<uint8_t> sizes[2];
  for (CompressionMode mode : {CompressionMode::Fast, CompressionMode::Optimal}) {
    std::vector<uint8_t> whole = streamed(mode, 1, false);
    Check(streamed(mode, jobs, true) == whole);
    decodesToInput(whole);
    sizes[mode == CompressionMode::Optimal] = std::move(whole);
  }
  Check(sizes[1].size() <= sizes[0].size());
  return 0;
}

int FuzzStubWriter(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<uint8_t> archive(size_t(data[0]) * 37);
  for (size_t i = 0; i < archive.size(); ++i) archive[i] = uint8_t(i * 13 + 5);
  const std::vector<uint8_t> stub(data + 1, data + size);
  std::vector<uint8_t> out;
  pe::WriteNotes notes;
  std::string why;
  if (!pe::SetNamedTypeResource(stub, qa2::kUpdateResourceType, qa2::kUpdateResourceId,
                                qa2::kUpdateResourceLanguage, archive, &out, &notes, &why)) {
    Check(out.empty() && !why.empty());
    return 0;
  }
  // Read back as qa2 build does before it writes the file.
  size_t offset = 0, length = 0;
  Check(qa2::FindUpdateResource(out.data(), out.size(), &offset, &length, &why));
  Check(length == archive.size() &&
        std::equal(archive.begin(), archive.end(), out.begin() + std::ptrdiff_t(offset)));
  pe::PeImage image;
  Check(pe::ParsePe(out.data(), out.size(), &image, &why));
  Check(pe::Load32(out.data() + image.checksumOffset) ==
        pe::ComputeChecksum(out.data(), out.size(), image.checksumOffset));
  return 0;
}

int FuzzPatch(const uint8_t* data, size_t size) {
  // The input as a patch table: refused or parsed, never read past.
  std::vector<PatchTarget> table;
  if (ParsePatchTable(data, size, &table))
    for (const PatchTarget& t : table) Check(std::memchr(t.name, 0, sizeof t.name) != nullptr);
  if (size < 2) return 0;
  // The first half is an old file, the rest a patch for it: applied
  // piecewise, it makes at most the size its header claims.
  const size_t half = size / 2;
  const uint8_t* old = data;
  const uint8_t* rest = data + half;
  const size_t restSize = size - half;
  const uint64_t claimed = restSize >= kPatchHeaderSize ? LoadLE64(rest + 12) : 0;
  if (claimed <= (uint64_t(1) << 22)) {
    size_t at = 0, made = 0;
    const size_t piece = 1 + data[0] % 7;
    PatchSource source = [&](const uint8_t** p, size_t* n) {
      *n = std::min(piece, restSize - at);
      *p = rest + at;
      at += *n;
      return true;
    };
    PatchOldReader reader = [&](uint64_t offset, uint8_t* buffer, size_t n) {
      Check(offset <= half && n <= half - offset);
      std::memcpy(buffer, old + offset, n);
      return true;
    };
    const PatchError error = ApplyPatch(source, half, claimed, reader,
                                        [&](const uint8_t*, size_t n) {
                                          made += n;
                                          return true;
                                        },
                                        nullptr);
    Check(made <= claimed && (error != PatchError::None || made == claimed));
  }
  // And the rest made from the old half, then applied: the same bytes.
  std::vector<uint8_t> patch, out;
  Check(MakePatch(old, half, rest, restSize, [&](const uint8_t* p, size_t n) {
    patch.insert(patch.end(), p, p + n);
    return true;
  }));
  size_t at = 0;
  PatchSource source = [&](const uint8_t** p, size_t* n) {
    *n = std::min<size_t>(4096, patch.size() - at);
    *p = patch.data() + at;
    at += *n;
    return true;
  };
  PatchOldReader reader = [&](uint64_t offset, uint8_t* buffer, size_t n) {
    std::memcpy(buffer, old + offset, n);
    return true;
  };
  Check(ApplyPatch(source, half, restSize, reader,
                   [&](const uint8_t* p, size_t n) {
                     out.insert(out.end(), p, p + n);
                     return true;
                   },
                   nullptr) == PatchError::None);
  Check(out.size() == restSize && std::equal(out.begin(), out.end(), rest));
  return 0;
}

int FuzzPeReaders(const uint8_t* data, size_t size) {
  // Arbitrary images: the readers refuse or answer within the input.
  pe::PeImage image;
  std::string why;
  if (pe::LooksLikePe(data, size) && pe::ParsePe(data, size, &image, &why))
    Check(image.checksumOffset + 4 <= size);
  size_t offset = 0, length = 0;
  if (qa2::FindUpdateResource(data, size, &offset, &length, &why)) Check(offset <= size && length <= size - offset);
  return 0;
}
