// Making patches (format: archive/patch.h) for the archive builder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

struct PatchStats {
  uint64_t copied = 0;  // new bytes taken from the old file unchanged
  uint64_t diffed = 0;  // new bytes coded as differences to old bytes
  uint64_t added = 0;   // new bytes carried as they are
  uint64_t indexStride = 0;  // every how many old bytes the index holds a position
};

// How eagerly exact runs become copies. Copies of short runs suit data
// whose changes come in bursts (a game pack's edited assets); coding runs
// shorter than `minCopy` as differences suits code, whose moved addresses
// change a few bytes every few dozen, and whose differences then compress
// into long runs of zeros. Neither wins everywhere: the builder tries both.
struct PatchTuning {
  uint64_t minCopy = 32;
};
constexpr PatchTuning kPatchForData{32};
constexpr PatchTuning kPatchForCode{1024};

// Writes the patch that makes `newData` from `oldData` to `out`, in pieces.
// Both are whole in memory (mapped files, as the builder gives them). The
// old file's index takes at most about 256 MiB: every position of an old
// file up to 32 MiB, every n-th beyond. False when `out` refuses bytes or
// the index cannot be allocated.
bool MakePatch(const uint8_t* oldData, uint64_t oldSize, const uint8_t* newData, uint64_t newSize,
               const std::function<bool(const uint8_t*, size_t)>& out, PatchStats* stats = nullptr,
               PatchTuning tuning = kPatchForData);

// Codes a raw patch stream of `rawSize` bytes, read in order through `read`
// (false on failure; *got = 0 only at the end), into the member's LZMA form
// (archive/patch.h), handed to `out` in pieces. The dictionary is at most
// 16 MiB, so that the updater decodes it in bounded memory.
bool PackPatch(const std::function<bool(uint8_t* buffer, size_t capacity, size_t* got)>& read, uint64_t rawSize,
               const std::function<bool(const uint8_t*, size_t)>& out);
