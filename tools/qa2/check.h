// Checking an update folder (UPDATE.INI and the files beside it) the way the
// updater will read it: `qa2 check`, and the first step of `qa2 build`.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qa2 {

// The largest UPDATE.EXE the 32-bit updater can start from. Its image is
// mapped whole at start: under Wine in the area below 0x68000000 that the
// preloader keeps for Windows (1.62 GiB above the image base 0x400000),
// which the process's heaps, stack and DLLs share; a 32-bit process on
// Windows has its system DLLs near 0x77000000. 1.5 GiB leaves them room.
constexpr uint64_t kMaxUpdaterImage = uint64_t(1536) << 20;

struct CheckSummary {
  int errors = 0;
  int warnings = 0;
  // The folder or UPDATE.INI could not be read (exit 3); the findings up to
  // that point are counted above.
  bool unreadable = false;
  // The most bytes the update writes from its archive for any one install
  // mode (the size RequiredDiskSpace is checked against).
  uint64_t bytesWritten = 0;
  // The UpdateFileXX and CopyFileXX keys the updater reads.
  int updateEntries = 0;
  int copyEntries = 0;
};

// Checks the update folder `dir`. Each finding is printed to `out` as
// "UPDATE.INI:LINE: error|warning: ..." (or "NAME: ..." for a folder file).
CheckSummary CheckUpdateFolder(const std::string& dir, FILE* out);

// The line a check without findings ends with:
// "UPDATE.INI: ok, N update entries, M copy entries".
std::string CleanCheckLine(const CheckSummary& summary);

}  // namespace qa2
