// The updater's side of patches: the table read from the archive, and a
// target patched in place as an extraction replaces it.
#include <algorithm>
#include <cstring>

#include "archive/archive.h"
#include "archive/fileops.h"
#include "archive/patch.h"
#include "platform/platform.h"

bool ReadPatchTable(const UpdateArchive& archive, const uint8_t* image, size_t imageSize,
                    std::vector<PatchTarget>* targets) {
  targets->clear();
  uint64_t offset = 0;
  const int32_t index = archive.entryCount() == 0 ? -1 : FindArchiveMember(archive, kPatchTableName, &offset);
  if (index < 0) return true;
  DecodeError decode;
  MemoryBlock table = ReadArchiveMember(archive, image, imageSize, uint32_t(index), &decode);
  return table.ok() && ParsePatchTable(table.data(), table.size(), targets);
}

PatchSource MemberPatchSource(const UpdateArchive& archive, const uint8_t* image, size_t imageSize, uint32_t index,
                              std::unique_ptr<ChunkedDecoder>* decoder, MemoryBlock* buffer) {
  const ArchiveEntry entry = archive.entry(index);
  const uint64_t offset = MemberDataOffset(archive, index);
  if (offset > imageSize || entry.storedSize > imageSize - offset ||
      (entry.IsCompressed() && !CompressedSizeClaimFits(entry.fileSize, entry.storedSize)))
    return [](const uint8_t**, size_t*) { return false; };
  const uint8_t* data = image + offset;
  if (!entry.IsCompressed()) {
    auto given = std::make_shared<bool>(false);
    const size_t size = entry.fileSize;
    return [data, size, given](const uint8_t** piece, size_t* n) {
      *piece = data;
      *n = *given ? 0 : size;
      *given = true;
      return true;
    };
  }
  *buffer = MemoryBlock::Allocate(kDecodeHistory + std::max<size_t>(std::min<size_t>(entry.fileSize, kFileChunk),
                                                                    kChunkedDecoderMinBuffer - kDecodeHistory));
  if (!buffer->ok()) return [](const uint8_t**, size_t*) { return false; };
  decoder->reset(new ChunkedDecoder(data, entry.storedSize, entry.fileSize, buffer->data(), buffer->size()));
  ChunkedDecoder* d = decoder->get();
  const uint32_t expected = entry.fileSize;
  return [d, expected](const uint8_t** piece, size_t* n) {
    if (d->Next(piece, n)) return true;
    *n = 0;
    const DecodeResult r = d->result();
    return r.ok() && r.written == expected;
  };
}

ExtractOutcome ExtractPatchedMember(const UpdateArchive& archive, const uint8_t* image, size_t imageSize,
                                    const char* destinationPath, const PatchTarget& target, const PatchBase& base) {
  platform::Platform& os = platform::Os();
  ExtractOutcome outcome;
  uint64_t offset = 0;
  const int32_t index = archive.entryCount() == 0 || image == nullptr ? -1
                                                                      : FindArchiveMember(archive, base.patch, &offset);
  if (index < 0) {
    outcome.status = ExtractStatus::NotFound;
    return outcome;
  }
  // The new file is written beside the old one, which stays until the end:
  // the room needed is the new size, as for a whole member.
  std::memcpy(outcome.drive, destinationPath, std::strlen(destinationPath) >= 2 ? 2 : 0);
  uint64_t freeToCaller = 0, totalBytes = 0;
  if (GetDiskFreeBytes(outcome.drive, &freeToCaller, &totalBytes, nullptr) && target.newSize > freeToCaller) {
    outcome.status = ExtractStatus::NoSpace;
    outcome.shortfall = target.newSize - freeToCaller;
    return outcome;
  }
  RemoveStaleReplacements(destinationPath);
  const uint32_t attributes = os.GetFileAttributes(destinationPath);
  if (attributes != platform::kInvalidAttributes && (attributes & platform::kAttrDirectory)) {
    outcome.status = ExtractStatus::DestinationIsFolder;
    return outcome;
  }
  if (attributes != platform::kInvalidAttributes && (attributes & platform::kAttrReadOnly)) {
    const uint32_t kept = attributes & (platform::kAttrHidden | platform::kAttrSystem);
    os.SetFileAttributes(destinationPath, kept ? kept : platform::kAttrNormal);
  }
  std::unique_ptr<ChunkedDecoder> decoder;
  MemoryBlock buffer;
  const PatchSource source = MemberPatchSource(archive, image, imageSize, uint32_t(index), &decoder, &buffer);
  const ArchiveEntry entry = archive.entry(uint32_t(index));
  if (entry.IsCompressed() && CompressedSizeClaimFits(entry.fileSize, entry.storedSize) && !buffer.ok()) {
    outcome.status = ExtractStatus::NoMemory;
    return outcome;
  }
  std::unique_ptr<platform::ReplacementFile> file = os.BeginReplacement(destinationPath);
  if (!file) {
    outcome.status = ExtractStatus::WriteFailed;
    return outcome;
  }
  PatchError error;
  {
    // Closed before the new file takes the old one's name.
    std::unique_ptr<platform::ReadableFile> old = os.OpenForRead(destinationPath);
    if (!old) {
      outcome.status = ExtractStatus::WriteFailed;
      return outcome;
    }
    error = ApplyPatch(source, base.size, target.newSize, ReadFromFile(old.get()),
                       [&](const uint8_t* data, size_t size) {
                         if (!file->Write(data, uint32_t(size))) return false;
                         NotePieceHandled(size);
                         os.PumpPendingMessages();
                         return true;
                       },
                       target.newHash);
  }
  // Any failure drops the new file: the old one stays as it was.
  switch (error) {
    case PatchError::None: break;
    case PatchError::BadHeader:
    case PatchError::Truncated:
    case PatchError::BadOperation:
    case PatchError::OutOfRange:
    case PatchError::TrailingBytes:
      outcome.status = ExtractStatus::CorruptMember;
      return outcome;
    default:
      outcome.status = ExtractStatus::WriteFailed;
      return outcome;
  }
  const uint64_t time = target.fileTime;
  if (!file->Commit(&time)) outcome.status = ExtractStatus::WriteFailed;
  return outcome;
}
