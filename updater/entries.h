// The entries of UPDATE.INI's [UPDATE] section as the update procedure reads
// them: pure (no platform calls), shared with qa2's folder check.
//
// [UPDATE] keys:
//   RequiredDiskSpace  bytes (32-bit, unsigned); missing or 0: no check
//   OverwriteOnly      non-zero: apply an item only where its target is a file
//   UpdateFile00..15   [mode digit,] [d|u|o,] path     (list syntax, 3 tokens)
//   CopyFile00..15     [mode char ','] [disk char ':'] path  (taken as it stands)
// Each numbered list ends at its first missing key.
#pragma once

#include <cstdint>

#include "updater/state.h"

enum UpdateKind : int32_t {
  Replace = 0,    // extract, replacing
  Update = 1,     // "u": extract unless the installed file is later
  Data = 2,       // "d": below the data path; an existing readable file is kept
  Overwrite = 3,  // "o": only where the target already is a file
};

struct UpdateItem {
  int32_t kind;
  char path[kNameField];  // relative to the target folder, as written
  int32_t nameOffset;     // path + nameOffset is the archive member's name
};

struct CopyItem {
  int32_t disk;  // 0: no disc named
  char path[kNameField];
};

constexpr int kMaxItems = 16;

// Index of the first byte after the last backslash in a code page 932 path
// (0 when none); the second byte of a double-byte character is never a
// separator, and neither is the slash.
int32_t MemberNameOffset(const char* path);

// Reads one UpdateFileXX value. False when the entry names another install
// mode than `instMode`; otherwise *item holds the kind, path and nameOffset.
// Sets CurrentDisk through the list scanner, as any scan does.
bool ParseUpdateEntry(const char* value, int32_t instMode, UpdateItem* item);

// Reads one CopyFileXX value. False when it names another install mode.
// The disk number is the prefix character's code minus '0' (bytes taken as
// unsigned), so it may lie outside 0..9; such a disc is never found.
bool ParseCopyEntry(const char* value, int32_t instMode, CopyItem* item);
