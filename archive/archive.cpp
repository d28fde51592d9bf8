#include "archive/archive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "archive/fileops.h"
#include "archive/messages.h"
#include "platform/codepage.h"
#include "platform/name_fold.h"
#include "platform/platform.h"
#include "updater/state.h"

namespace {

// No code yields more than 282 bytes for 25 bits, so a stream cannot expand
// beyond about 91 times its size: a larger claim is refused before the
// buffer for it is allocated.
constexpr uint64_t kMaxExpansion = 91;
constexpr uint64_t kExpansionSlack = 64;

bool ClaimFits(uint64_t expected, uint64_t streamSize) {
  return expected <= streamSize * kMaxExpansion + kExpansionSlack;
}

std::unique_ptr<UpdateArchive> Fail(OpenReport* report, OpenError error,
                                    DecodeError decode = DecodeError::None) {
  if (report) {
    *report = OpenReport{};
    report->error = error;
    report->decode = decode;
  }
  return nullptr;
}

std::unique_ptr<UpdateArchive> FailAt(OpenReport* report, OpenError error, uint32_t index,
                                      const ArchiveEntry& entry) {
  if (report) {
    *report = OpenReport{};
    report->error = error;
    report->entry = index;
    std::memcpy(report->name, entry.name, kArchiveNameField);
  }
  return nullptr;
}

// Fills the block's directory from `directory` (the bytes from
// directoryOffset to the end of the archive) and checks every entry against
// `archiveSize`.
std::unique_ptr<UpdateArchive> Finish(const ArchiveHeader& header, const uint8_t* directory,
                                      uint64_t directoryBytes, uint64_t archiveSize,
                                      OpenReport* report) {
  const uint64_t tableSize = uint64_t(header.entryCount) * kArchiveEntrySize;
  if (header.flags & ARCHIVE_FLAG_COMPRESSED_DIRECTORY) {
    if (!ClaimFits(tableSize, directoryBytes))
      return Fail(report, OpenError::DirectoryWrongSize);
  } else if (tableSize > directoryBytes) {
    return Fail(report, OpenError::DirectoryOutOfBounds);
  }

  auto archive = std::make_unique<UpdateArchive>();
  archive->block = MemoryBlock::Allocate(size_t(kArchiveHeaderSize + tableSize));
  if (!archive->block.ok()) return Fail(report, OpenError::OutOfMemory);
  uint8_t* table = archive->block.data() + kArchiveHeaderSize;
  if (header.flags & ARCHIVE_FLAG_COMPRESSED_DIRECTORY) {
    DecodeResult decoded =
        DecodeArchiveStream(table, size_t(tableSize), directory, size_t(directoryBytes));
    if (!decoded.ok()) return Fail(report, OpenError::DirectoryCorrupt, decoded.error);
    if (decoded.written != tableSize) return Fail(report, OpenError::DirectoryWrongSize);
  } else if (tableSize > 0) {
    std::memcpy(table, directory, size_t(tableSize));
  }
  header.Store(archive->block.data());

  uint64_t offset = kArchiveHeaderSize;
  for (uint32_t i = 0; i < header.entryCount; ++i) {
    ArchiveEntry entry = archive->entry(i);
    if (std::memchr(entry.name, 0, kArchiveNameField) == nullptr)
      return FailAt(report, OpenError::NameUnterminated, i, entry);
    if (!entry.IsCompressed() && entry.storedSize != entry.fileSize)
      return FailAt(report, OpenError::StoredSizeMismatch, i, entry);
    if (offset > archiveSize || entry.storedSize > archiveSize - offset)
      return FailAt(report, OpenError::MemberOutOfBounds, i, entry);
    offset += AlignedStoredSize(entry.storedSize);
  }
  if (report) *report = OpenReport{};
  return archive;
}

std::unique_ptr<UpdateArchive> OpenImage(const uint8_t* image, uint64_t size,
                                         OpenReport* report) {
  if (size < kArchiveHeaderSize) return Fail(report, OpenError::ShortHeader);
  // The memory form does not examine the magic.
  ArchiveHeader header = ArchiveHeader::Parse(image);
  if (uint64_t(header.entryCount) * kArchiveEntrySize + kArchiveHeaderSize > UINT32_MAX)
    return Fail(report, OpenError::TooManyEntries);
  if (header.directoryOffset > size) return Fail(report, OpenError::DirectoryOutOfBounds);
  return Finish(header, image + header.directoryOffset, size - header.directoryOffset, size,
                report);
}

std::unique_ptr<UpdateArchive> OpenFile(const char* path, OpenReport* report) {
  std::unique_ptr<platform::ReadableFile> file = platform::Os().OpenForRead(path);
  if (!file) return Fail(report, OpenError::CannotOpenFile);
  uint8_t raw[kArchiveHeaderSize];
  uint32_t got = 0;
  if (!file->Read(raw, sizeof raw, &got) || got != sizeof raw)
    return Fail(report, OpenError::ShortHeader);
  ArchiveHeader header = ArchiveHeader::Parse(raw);
  if (!header.HasMagic()) return Fail(report, OpenError::BadMagic);
  if (uint64_t(header.entryCount) * kArchiveEntrySize + kArchiveHeaderSize > UINT32_MAX)
    return Fail(report, OpenError::TooManyEntries);
  uint64_t size = 0;
  if (!file->Size(&size)) return Fail(report, OpenError::ReadFailed);
  if (header.directoryOffset > size) return Fail(report, OpenError::DirectoryOutOfBounds);
  if (!file->Seek(header.directoryOffset)) return Fail(report, OpenError::ReadFailed);

  uint64_t directoryBytes = size - header.directoryOffset;
  if (!(header.flags & ARCHIVE_FLAG_COMPRESSED_DIRECTORY)) {
    uint64_t tableSize = uint64_t(header.entryCount) * kArchiveEntrySize;
    if (tableSize > directoryBytes) return Fail(report, OpenError::DirectoryOutOfBounds);
    directoryBytes = tableSize;  // a stored directory reads only its entries
  }
  if (directoryBytes > UINT32_MAX) return Fail(report, OpenError::ReadFailed);
  MemoryBlock directory = MemoryBlock::Allocate(size_t(directoryBytes));
  if (!directory.ok()) return Fail(report, OpenError::OutOfMemory);
  if (!file->Read(directory.data(), uint32_t(directoryBytes), &got) || got != directoryBytes)
    return Fail(report, OpenError::ReadFailed);
  return Finish(header, directory.data(), directoryBytes, size, report);
}


}  // namespace

std::unique_ptr<UpdateArchive> OpenUpdateArchive(const ArchiveSource& source,
                                                 OpenReport* report) {
  if (source.size != 0) return OpenImage(source.address, source.size, report);
  if (source.address == nullptr) return Fail(report, OpenError::CannotOpenFile);
  return OpenFile(reinterpret_cast<const char*>(source.address), report);
}

std::string DescribeOpenReport(const OpenReport& report) {
  std::string entry =
      "member " + std::to_string(report.entry) + " '" + std::string(report.name) + "': ";
  switch (report.error) {
    case OpenError::None: return "ok";
    case OpenError::CannotOpenFile: return "cannot open the archive file";
    case OpenError::ShortHeader: return "shorter than its 16-byte header";
    case OpenError::BadMagic: return "not an archive (its header does not begin with \"QA2\")";
    case OpenError::ReadFailed: return "reading the archive file failed";
    case OpenError::TooManyEntries: return "entry count too large for the format";
    case OpenError::DirectoryOutOfBounds: return "directory lies outside the archive";
    case OpenError::DirectoryCorrupt:
      return std::string("compressed directory is corrupt: ") + DescribeDecodeError(report.decode);
    case OpenError::DirectoryWrongSize:
      return "compressed directory does not decode to entryCount x 32 bytes";
    case OpenError::NameUnterminated: return entry + "name is not terminated within 15 bytes";
    case OpenError::MemberOutOfBounds: return entry + "data lies outside the archive";
    case OpenError::StoredSizeMismatch:
      return entry + "stored member whose stored size differs from its size";
    case OpenError::OutOfMemory: return "out of memory";
  }
  return "unknown error";
}

bool ArchiveNamesEqual(const char* a, const char* b) { return platform::SameNameIgnoringCase(a, b); }

uint64_t MemberDataOffset(const UpdateArchive& archive, uint32_t index) {
  uint64_t offset = kArchiveHeaderSize;
  for (uint32_t i = 0; i < index; ++i) offset += AlignedStoredSize(archive.entry(i).storedSize);
  return offset;
}

int32_t FindArchiveMember(const UpdateArchive& archive, const char* name,
                          uint64_t* dataOffset) {
  uint64_t offset = kArchiveHeaderSize;
  const uint32_t count = archive.entryCount();
  for (uint32_t i = 0; i < count; ++i) {
    ArchiveEntry entry = archive.entry(i);
    if (ArchiveNamesEqual(entry.name, name)) {
      if (dataOffset) *dataOffset = offset;
      return int32_t(i);
    }
    offset += AlignedStoredSize(entry.storedSize);
  }
  return -1;
}

bool CompressedSizeClaimFits(uint64_t fileSize, uint64_t storedSize) {
  return ClaimFits(fileSize, storedSize);
}

MemoryBlock ReadArchiveMember(const UpdateArchive& archive, const uint8_t* image,
                              size_t imageSize, uint32_t index, DecodeError* decode) {
  if (decode) *decode = DecodeError::None;
  ArchiveEntry entry = archive.entry(index);
  uint64_t offset = MemberDataOffset(archive, index);
  if (offset > imageSize || entry.storedSize > imageSize - offset) return {};
  const uint8_t* data = image + offset;
  if (entry.IsCompressed() && !ClaimFits(entry.fileSize, entry.storedSize)) return {};
  MemoryBlock block = MemoryBlock::Allocate(entry.fileSize);
  if (!block.ok()) return {};
  if (!entry.IsCompressed()) {
    std::memcpy(block.data(), data, entry.fileSize);
    return block;
  }
  DecodeResult decoded = DecodeArchiveStream(block.data(), entry.fileSize, data, entry.storedSize);
  if (!decoded.ok() || decoded.written != entry.fileSize) {
    if (decode) *decode = decoded.error;
    return {};
  }
  return block;
}

ExtractOutcome ExtractMember(const UpdateArchive& archive, const uint8_t* image,
                             size_t imageSize, const char* destinationPath,
                             const char* memberName, bool onlyIfNewer) {
  platform::Platform& os = platform::Os();
  ExtractOutcome outcome;
  uint64_t offset = 0;
  int32_t index = archive.entryCount() == 0 || image == nullptr
                      ? -1
                      : FindArchiveMember(archive, memberName, &offset);
  if (index < 0) {
    outcome.status = ExtractStatus::NotFound;
    return outcome;
  }
  const ArchiveEntry entry = archive.entry(uint32_t(index));

  // The whole size is required even when the file will be left alone. When
  // the drive cannot be queried at all the write itself is the test.
  std::memcpy(outcome.drive, destinationPath, std::strlen(destinationPath) >= 2 ? 2 : 0);
  uint64_t freeToCaller = 0, totalBytes = 0;
  if (GetDiskFreeBytes(outcome.drive, &freeToCaller, &totalBytes, nullptr) &&
      entry.fileSize > freeToCaller) {
    outcome.status = ExtractStatus::NoSpace;
    outcome.shortfall = entry.fileSize - freeToCaller;
    return outcome;
  }

  // Bounds were checked when the archive was opened, against this image.
  if (offset > imageSize || entry.storedSize > imageSize - offset) {
    outcome.status = ExtractStatus::CorruptMember;
    return outcome;
  }
  const uint8_t* data = image + offset;
  // A compressed member is decoded piece by piece into one bounded buffer,
  // written as it comes: memory does not grow with the member.
  MemoryBlock buffer;
  if (entry.IsCompressed()) {
    if (!ClaimFits(entry.fileSize, entry.storedSize)) {
      outcome.status = ExtractStatus::CorruptMember;
      return outcome;
    }
    buffer = MemoryBlock::Allocate(kDecodeHistory +
                                   std::max<size_t>(std::min<size_t>(entry.fileSize, kFileChunk),
                                                    kChunkedDecoderMinBuffer - kDecodeHistory));
    if (!buffer.ok()) {
      outcome.status = ExtractStatus::NoMemory;
      return outcome;
    }
  }

  RemoveStaleReplacements(destinationPath);
  uint32_t attributes = os.GetFileAttributes(destinationPath);
  if (attributes != platform::kInvalidAttributes) {
    if (attributes & platform::kAttrDirectory) {
      outcome.status = ExtractStatus::DestinationIsFolder;
      return outcome;
    }
    // Cleared before the only-if-newer decision, so a file left alone loses
    // its read-only attribute all the same. A hidden or system file keeps
    // those: only read-only stands in the way of the replacement.
    if (attributes & platform::kAttrReadOnly) {
      const uint32_t kept = attributes & (platform::kAttrHidden | platform::kAttrSystem);
      os.SetFileAttributes(destinationPath, kept ? kept : platform::kAttrNormal);
    }
    if (onlyIfNewer) {
      std::unique_ptr<platform::ReadableFile> existing = os.OpenForRead(destinationPath);
      uint64_t existingTime = 0;
      if (existing && existing->LastWriteTime(&existingTime) && existingTime > entry.fileTime) {
        outcome.status = ExtractStatus::LeftNewer;
        return outcome;
      }
    }
  }

  std::unique_ptr<platform::ReplacementFile> file = os.BeginReplacement(destinationPath);
  if (!file) {
    outcome.status = ExtractStatus::WriteFailed;
    return outcome;
  }
  // Dropping `file` on any failure below leaves the destination as it was.
  if (entry.IsCompressed()) {
    ChunkedDecoder decoder(data, entry.storedSize, entry.fileSize, buffer.data(), buffer.size());
    const uint8_t* piece;
    size_t size;
    for (;;) {
      // Decoded straight into a buffer that the file lends, when it does:
      // the piece then goes to the disk without a copy. The history that
      // later copies reach goes just before it.
      uint32_t room = 0;
      uint8_t* lent = file->Lend(uint32_t(kDecodeHistory), &room);
      if (lent && room >= kChunkedDecoderMinBuffer) {
        const size_t keep = decoder.HistorySize();
        decoder.MoveTo(lent - keep, keep + room);
      } else {
        lent = nullptr;
        decoder.MoveTo(buffer.data(), buffer.size());
      }
      if (!decoder.Next(&piece, &size)) break;
      const bool written = size == 0 || (lent ? file->WriteLent(uint32_t(size))
                                              : file->Write(piece, uint32_t(size)));
      if (!written) {
        outcome.status = ExtractStatus::WriteFailed;
        return outcome;
      }
      NotePieceHandled(size);
      os.PumpPendingMessages();
    }
    DecodeResult result = decoder.result();
    if (!result.ok() || result.written != entry.fileSize) {
      outcome.status = ExtractStatus::CorruptMember;
      outcome.decode = result.error;
      return outcome;
    }
  } else {
    for (uint32_t done = 0; done < entry.fileSize;) {
      uint32_t size = std::min<uint32_t>(entry.fileSize - done, kFileChunk);
      if (!file->Write(data + done, size)) {
        outcome.status = ExtractStatus::WriteFailed;
        return outcome;
      }
      done += size;
      NotePieceHandled(size);
      os.PumpPendingMessages();
    }
  }
  const uint64_t time = entry.fileTime;
  if (!file->Commit(&time)) outcome.status = ExtractStatus::WriteFailed;
  return outcome;
}

void ReportExtractFailure(const ExtractOutcome& outcome) {
  switch (outcome.status) {
    case ExtractStatus::NotFound:
      ShowUpdaterError(kMsgMemberNotFound);
      break;
    case ExtractStatus::NoSpace: {
      char text[kMessageField];
      std::snprintf(text, sizeof text, kMsgNoDiskSpaceFormat, outcome.drive, outcome.shortfall);
      ShowUpdaterError(text);
      break;
    }
    case ExtractStatus::NoMemory:
      ShowUpdaterError(kMsgNoMemory);
      break;
    default:
      break;
  }
}

int ExtractArchiveMember(const char* destinationPath, const char* memberName,
                         bool onlyIfNewer, ExtractOutcome* result) {
  const UpdateArchive* archive = Updater.Archive.get();
  ExtractOutcome outcome;
  if (archive == nullptr || archive->block.size() == 0) {
    outcome.status = ExtractStatus::NotFound;
  } else {
    outcome = ExtractMember(*archive, Updater.ArchiveSource.address, Updater.ArchiveSource.size,
                            destinationPath, memberName, onlyIfNewer);
  }
  ReportExtractFailure(outcome);
  if (result) *result = outcome;
  return outcome.ok() ? 1 : 0;
}
