// Whole-file and free-space operations shared by the extraction and the
// update procedure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "archive/memory_block.h"

// Reads the whole file at `path`; a block that is not ok() on failure.
MemoryBlock ReadWholeFile(const char* path);

// Writes `byteCount` bytes as the file's whole content, setting all three file
// times to *time when given. The old file survives a failed write unchanged.
// Returns 1 or 0.
int WriteWholeFile(const char* path, const void* data, uint32_t byteCount,
                   const uint64_t* time);

// Large content moves in pieces of this size, so that memory does not grow
// with a file and the dialog is answered between pieces.
constexpr uint32_t kFileChunk = 1u << 20;

// Told, on the calling thread, of each piece that an extraction or a rewrite
// has handed to its file (its size in bytes): the updater's progress bar.
// nullptr: nobody is told.
using PieceObserver = void (*)(uint64_t bytes);
void SetPieceObserver(PieceObserver observer);
void NotePieceHandled(uint64_t bytes);

enum class RewriteResult { Rewritten, ReadFailed, WriteFailed };

// Writes the file at `path` back over itself, piece by piece, beside it and
// then over it, without file times (its last-write time becomes now).
// ReadFailed when it cannot be read whole (in particular when it does not
// exist); the file is then as it was.
RewriteResult RewriteWholeFile(const char* path);

// Removes the files that a replacement of `destination` by another run left
// beside it ("<destination>.~<pid in hex>.tmp"), where that run's process is
// gone. Files of this process or of a running one stay; with `isOurs`, so
// does every file (by its path) for which it answers false.
void RemoveStaleReplacements(const char* destination,
                             const std::function<bool(const char*)>& isOurs = nullptr);

// Whether the file at `path` holds exactly `size` bytes equal to `data`, or,
// with `prefix`, a beginning of them (a write of them cut short).
bool FileHolds(const char* path, const uint8_t* data, size_t size, bool prefix);

// The process id that `text` spells in hex (1 to 8 digits, nothing else).
bool ParseHexProcessId(const char* text, size_t length, uint32_t* pid);

// Whether files named after process `pid` are another run's leftovers.
bool ProcessIsGone(uint32_t pid);

// Free space of the drive `rootPath` (a letter and a colon): the extended
// query when the system has it, else clusters x sectors x bytes. Returns
// non-zero on success; the outputs are untouched on failure. `outTotalFree`
// may be null.
int GetDiskFreeBytes(const char* rootPath, uint64_t* outFreeToCaller, uint64_t* outTotalBytes,
                     uint64_t* outTotalFree);
