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

// Writes the patch that makes `newData` from `oldData` to `out`, in pieces.
// Both are whole in memory (mapped files, as the builder gives them). The
// old file's index takes at most about 256 MiB: every position of an old
// file up to 32 MiB, every n-th beyond. False when `out` refuses bytes or
// the index cannot be allocated.
bool MakePatch(const uint8_t* oldData, uint64_t oldSize, const uint8_t* newData, uint64_t newSize,
               const std::function<bool(const uint8_t*, size_t)>& out, PatchStats* stats = nullptr);
