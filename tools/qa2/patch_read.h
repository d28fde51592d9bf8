// What the reading commands (list, verify, extract) show and do with an
// archive's patches.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/patch.h"

namespace qa2 {

// The files of earlier versions given with --base, found by content: every
// regular file below the folders, hashed only when its size is asked for.
class BaseFiles {
 public:
  explicit BaseFiles(const std::vector<std::string>& folders);
  // A file (UTF-8 path) with exactly this size and SHA-256; empty when none.
  std::string Find(uint64_t size, const uint8_t* hash);

 private:
  std::multimap<uint64_t, std::string> bySize_;
  std::map<std::string, std::vector<uint8_t>> hashes_;
};

// Applies patch `base` of `target` from the file at `oldPath` with the
// updater's own code; the new bytes go to `sink` (null: only checked).
// Returns an empty string or what went wrong.
std::string ApplyArchivePatch(const UpdateArchive& archive, const uint8_t* image, size_t imageSize,
                              const PatchTarget& target, const PatchBase& base, const std::string& oldPath,
                              const PatchSink& sink);

// "  GAME.EXE  from 300000 B to 300012 B  patch QA2$P00001" lines for list.
void PrintPatchTable(const std::vector<PatchTarget>& table);

}  // namespace qa2
