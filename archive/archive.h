// Opening an update archive, finding its members and extracting them to disk.
// The container layout is documented in archive/format.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "archive/decoder.h"
#include "archive/format.h"
#include "archive/memory_block.h"
#include "archive/patch.h"
#include <vector>

enum class OpenError {
  None,
  CannotOpenFile,
  ShortHeader,          // fewer than 16 bytes
  BadMagic,             // file form only: not "QA2\0"
  ReadFailed,           // file form: seek, size or read failed or came short
  TooManyEntries,       // 16 + entryCount x 32 does not fit in 32 bits
  DirectoryOutOfBounds, // the directory does not lie inside the archive
  DirectoryCorrupt,     // the compressed directory does not decode (see decode)
  DirectoryWrongSize,   // it decodes to another size than entryCount x 32
  NameUnterminated,     // an entry's name has no zero inside its 15 bytes
  MemberOutOfBounds,    // an entry's data does not lie inside the archive
  StoredSizeMismatch,   // a stored entry whose storedSize is not its fileSize
  OutOfMemory,
};

struct OpenReport {
  OpenError error = OpenError::None;
  uint32_t entry = 0;                     // the entry at fault, where one is
  char name[kArchiveNameField + 1] = {};  // its name field, always terminated
  DecodeError decode = DecodeError::None; // for DirectoryCorrupt
};

// Opens the archive that `source` names (memory image, or file path when the
// size is 0) and checks it against the format's bounds. Returns nothing on
// failure, with the reason in *report when given. Shows no message.
std::unique_ptr<UpdateArchive> OpenUpdateArchive(const ArchiveSource& source,
                                                 OpenReport* report = nullptr);

// One line of English for an author's tool.
std::string DescribeOpenReport(const OpenReport& report);

// The first entry whose name equals `name` without regard to case; -1 when
// none. *dataOffset receives where its data starts in the image.
int32_t FindArchiveMember(const UpdateArchive& archive, const char* name,
                          uint64_t* dataOffset);

// The data offset of entry `index` (which must exist).
uint64_t MemberDataOffset(const UpdateArchive& archive, uint32_t index);

// Whether a compressed stream of `storedSize` bytes can decode to `fileSize`
// bytes at all: no code expands beyond about 91 times, so a larger claim is
// malformed and is refused before anything is sized from it.
bool CompressedSizeClaimFits(uint64_t fileSize, uint64_t storedSize);

// A member's bytes as extracted: decoded when compressed, copied otherwise.
// Not ok() when it cannot be allocated or does not decode to exactly
// fileSize bytes; *decode then says why (None for a wrong size or memory).
MemoryBlock ReadArchiveMember(const UpdateArchive& archive, const uint8_t* image,
                              size_t imageSize, uint32_t index, DecodeError* decode);

enum class ExtractStatus {
  Written,
  LeftNewer,            // only-if-newer, and the existing file is later
  NotFound,
  NoSpace,
  NoMemory,
  CorruptMember,        // its stream does not decode to fileSize bytes
  DestinationIsFolder,
  WriteFailed,
};

struct ExtractOutcome {
  ExtractStatus status = ExtractStatus::Written;
  uint64_t shortfall = 0;  // NoSpace: bytes missing on the drive
  char drive[3] = {};      // NoSpace: the drive tested
  DecodeError decode = DecodeError::None;
  bool ok() const {
    return status == ExtractStatus::Written || status == ExtractStatus::LeftNewer;
  }
};

// Extracts member `memberName` of `archive` (data in the memory image) to
// `destinationPath`: free-space test on the destination's drive, leftovers of
// interrupted runs beside it removed, read-only attribute cleared,
// only-if-newer decision, then the file written in pieces beside the
// destination and put in its place, with the member's time as all three
// file times. A member whose stream turns out corrupt while it is written
// (CorruptMember) leaves the destination as it was. Shows no message.
ExtractOutcome ExtractMember(const UpdateArchive& archive, const uint8_t* image,
                             size_t imageSize, const char* destinationPath,
                             const char* memberName, bool onlyIfNewer);

// The updater's extraction: ExtractMember on the archive that start-up opened
// (Updater.Archive over Updater.ArchiveSource), reporting its failures with
// ShowUpdaterError where the player is to be told. Returns 1 or 0, and the
// outcome in *outcome when given.
int ExtractArchiveMember(const char* destinationPath, const char* memberName,
                         bool onlyIfNewer, ExtractOutcome* outcome = nullptr);

// The archive's patch table (archive/patch.h): empty when it has none; false
// when it is malformed.
bool ReadPatchTable(const UpdateArchive& archive, const uint8_t* image, size_t imageSize,
                    std::vector<PatchTarget>* targets);

// Member `index`'s bytes as a patch stream, decoded in pieces into *buffer
// by *decoder (both kept alive by the caller while the source is used).
PatchSource MemberPatchSource(const UpdateArchive& archive, const uint8_t* image, size_t imageSize, uint32_t index,
                              std::unique_ptr<ChunkedDecoder>* decoder, MemoryBlock* buffer);

// Patches the file at `destinationPath`, which holds `base`'s content, into
// `target`'s new content with the patch member `base.patch`: as
// ExtractMember (free-space test on the new size, leftovers removed,
// read-only cleared, written beside and put in place with the member's
// time), the old file read in pieces. A result whose SHA-256 is not the
// target's is WriteFailed and leaves the file as it was; a malformed patch
// is CorruptMember.
ExtractOutcome ExtractPatchedMember(const UpdateArchive& archive, const uint8_t* image, size_t imageSize,
                                    const char* destinationPath, const PatchTarget& target, const PatchBase& base);

// Shows, with ShowUpdaterError, the messages the updater's extraction gives
// of its own (a missing member, a short drive, memory); nothing for the rest.
void ReportExtractFailure(const ExtractOutcome& outcome);

// Member names compare as the system's case-insensitive comparison
// (lstrcmpiA) does: see platform/name_fold.h.
bool ArchiveNamesEqual(const char* a, const char* b);
