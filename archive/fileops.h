// Whole-file and free-space operations shared by the extraction and the
// update procedure.
#pragma once

#include <cstdint>

#include "archive/memory_block.h"

// Reads the whole file at `path`; a block that is not ok() on failure.
MemoryBlock ReadWholeFile(const char* path);

// Writes `byteCount` bytes as the file's whole content, setting all three file
// times to *time when given. The old file survives a failed write unchanged.
// Returns 1 or 0.
int WriteWholeFile(const char* path, const void* data, uint32_t byteCount,
                   const uint64_t* time);

// Free space of the drive `rootPath` (a letter and a colon): the extended
// query when the system has it, else clusters x sectors x bytes. Returns
// non-zero on success; the outputs are untouched on failure. `outTotalFree`
// may be null.
int GetDiskFreeBytes(const char* rootPath, uint64_t* outFreeToCaller, uint64_t* outTotalBytes,
                     uint64_t* outTotalFree);
