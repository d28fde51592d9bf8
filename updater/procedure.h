// The update procedure: reads [UPDATE] of the temporary UPDATE.INI, checks the
// free space of the installation's drive, writes the listed archive members
// into the installation and copies the listed files from the game's discs.
//
// [UPDATE] keys:
//   RequiredDiskSpace  bytes (32-bit, unsigned); missing or 0: no check
//   OverwriteOnly      non-zero: apply an item only where its target is a file
//   UpdateFile00..15   [mode digit,] [d|u|o,] path     (list syntax, 3 tokens)
//   CopyFile00..15     [mode char ','] [disk char ':'] path  (taken as it stands)
// Each numbered list ends at its first missing key.
#pragma once

#include <cstdint>

#include "platform/platform.h"
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

// The two tables of the current run, emptied at the start of every run.
struct UpdateTables {
  UpdateItem Items[kMaxItems];
  int32_t ItemCount;
  CopyItem Copies[kMaxItems];
  int32_t CopyCount;
};
extern UpdateTables Tables;

// True once a run has reached its completion state, until the dialog's next
// action starts; the dialog then takes any way of closing as completion.
extern bool UpdateCompleted;

// --- reading the entries (pure: no platform calls)

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

// --- deciding (pure)

enum class ItemAction {
  Skip,            // nothing is written
  Extract,         // extract, replacing
  ExtractIfNewer,  // extract in only-if-newer mode
  KeepOrExtract,   // rewrite the target with its own bytes; extract if unreadable
};

// What to do with one item, given its target's attributes
// (platform::kInvalidAttributes when absent).
ItemAction DecideItem(int32_t kind, bool overwriteOnly, uint32_t targetAttributes);

// The free-space check: true (and the shortfall) when `freeBytes` is below
// `required`, the key's 32-bit value taken as unsigned.
bool SpaceIsShort(uint32_t required, uint64_t freeBytes, uint64_t* shortfall);

// The SHFileOperationA flags and whether the destination is the installation
// folder itself, from the source's attributes.
uint32_t CopyFlagsFor(uint32_t sourceAttributes, bool* intoInstallFolder);

// --- the procedure

// Runs inside the dialog's Next action with DialogBusy set. Leaves the dialog
// on its completion page, on the disk-space page (Back and Abort enabled,
// Next disabled, nothing written), or ended with -1 after its message.
void RunUpdate(platform::Window dialog);

// Looks for disk `disk` in the CD-ROM drives A: to Z: by its DiskCheckFile;
// true with the root ("Q:") when found. A disk number outside 0..9 names no
// check file and is never found.
bool FindDisc(int32_t disk, char root[3]);
