// Patches: a member's new content made from a file an installation already
// holds. Patches and their table are ordinary members under reserved names,
// so an archive that carries them still reads as any other.
//
// Patch stream (what a patch member extracts to), integers little-endian:
//    0  magic "QAP1"
//    4  oldSize  u64
//   12  newSize  u64
//   20  operations, until newSize bytes have been made; nothing may follow:
//         0 COPY  len, move   old position += move; len bytes of the old file
//         1 DIFF  len, move   old position += move; len bytes, each added
//                             (mod 256) to the old file's byte at its place
//         2 ADD   len         len bytes as they are
//       len is an unsigned LEB128 number (at most 10 bytes), move a signed
//       one (zigzag); COPY and DIFF advance the old position by len. Every
//       old byte read lies inside [0, oldSize).
//
// A patch member holds the stream as it is, or in its second form: "QAPZ",
// the 5 bytes of LZMA properties, the stream's size (u64), then the stream
// coded with LZMA (LZMA SDK, no end mark). The builder takes that form up to
// kPatchLzmaMax bytes of stream: its differences of code compress far
// better than with the archive's own coder. A dictionary beyond
// kPatchLzmaDictMax is refused, so the updater's memory stays bounded.
//
// Patch table (member kPatchTableName):
//    0  magic "QAPT"
//    4  count  u32
//    8  count records:
//         name      15 bytes, the member as UPDATE.INI names it
//         flags     u8, bit 0 kPatchGated: a target that is neither a known
//                   content nor the new one is refused
//         newSize   u64, newHash 32 bytes (SHA-256), fileTime u64
//         bases     u32, then per known old content:
//                     size u64, hash 32 bytes, patch 15 bytes (the patch
//                     member's name; empty when the whole member serves it)
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/format.h"
#include "archive/sha256.h"

namespace platform {
class ReadableFile;
}

// Member names that begin with this (any letter case) are the archive's own.
constexpr char kReservedMemberPrefix[] = "QA2$";
constexpr char kPatchTableName[] = "QA2$PATCHES";
constexpr uint8_t kPatchGated = 1;
constexpr uint32_t kPatchHeaderSize = 20;
constexpr char kPatchMagic[4] = {'Q', 'A', 'P', '1'};
constexpr char kPatchTableMagic[4] = {'Q', 'A', 'P', 'T'};
constexpr char kPatchLzmaMagic[4] = {'Q', 'A', 'P', 'Z'};
constexpr uint32_t kPatchLzmaHeaderSize = 4 + 5 + 8;
constexpr uint32_t kPatchLzmaDictMax = 64u << 20;
constexpr uint64_t kPatchLzmaMax = uint64_t(64) << 20;

enum PatchOp : uint8_t { kPatchCopy = 0, kPatchDiff = 1, kPatchAdd = 2 };

bool IsReservedMemberName(const char* name);
// "QA2$P" and a number in five digits: the name of the patch stored n-th.
std::string PatchMemberName(unsigned n);

struct PatchBase {
  uint64_t size = 0;
  uint8_t hash[kSha256Size] = {};
  char patch[kArchiveNameField] = {};  // empty: the whole member serves this content
};

struct PatchTarget {
  char name[kArchiveNameField] = {};
  uint8_t flags = 0;
  uint64_t newSize = 0;
  uint8_t newHash[kSha256Size] = {};
  uint64_t fileTime = 0;
  std::vector<PatchBase> bases;
};

std::vector<uint8_t> StorePatchTable(const std::vector<PatchTarget>& targets);
// False on anything malformed: a short or long table, a wrong magic, a name
// not terminated in its field, more records or bases than the bytes hold.
bool ParsePatchTable(const uint8_t* data, size_t size, std::vector<PatchTarget>* targets);
// The record of member `name` (names compare as member names do); nullptr
// when it has none.
const PatchTarget* FindPatchTarget(const std::vector<PatchTarget>& targets, const char* name);

enum class PatchError {
  None,
  BadHeader,      // no magic, or sizes other than expected
  Truncated,      // the stream ends before the new content is whole
  BadOperation,   // an unknown operation or a number too long
  OutOfRange,     // old bytes outside the old file, or more bytes than newSize
  TrailingBytes,  // bytes after the last operation
  ReadFailed,     // the old file could not be read
  WriteFailed,    // the sink refused the new bytes
  WrongResult,    // the new content does not have the expected hash
};
const char* DescribePatchError(PatchError error);

// Where the old content comes from: reads `size` bytes at `offset`.
using PatchOldReader = std::function<bool(uint64_t offset, uint8_t* buffer, size_t size)>;
// Takes the new content in order, in pieces.
using PatchSink = std::function<bool(const uint8_t* data, size_t size)>;
// Hands out the patch stream in order: *size = 0 at its end; false when it
// cannot (a corrupt member), which counts as a truncated stream.
using PatchSource = std::function<bool(const uint8_t** piece, size_t* size)>;

// A bounded-memory application of a patch member's bytes in either form: the old file is read in pieces at any
// offset (never whole), the new content goes to `sink` in pieces of at most
// 1 MiB and is hashed on the way. `expectedHash` (may be null) is checked
// at the end.
PatchError ApplyPatch(const PatchSource& patch, uint64_t oldSize, uint64_t newSize, const PatchOldReader& old,
                      const PatchSink& sink, const uint8_t* expectedHash);

// Reads from an opened platform file.
PatchOldReader ReadFromFile(platform::ReadableFile* file);
