// The update procedure: reads [UPDATE] of the temporary UPDATE.INI, checks the
// free space of the installation's drive, writes the listed archive members
// into the installation and copies the listed files from the game's discs.
// The keys and the reading of the entries: updater/entries.h.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "updater/entries.h"
#include "updater/state.h"

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

// --- the version gate
// What the gate found at an item's target. Items the writing pass skips,
// Data items and members the patch table does not name stay AsToday.
enum class GateVerdict {
  AsToday,       // written as without patches (the whole member)
  AlreadyNew,    // holds the new content: left untouched, times and all
  LeftNewer,     // a u target later than a member carried only as patches: left
  Patch,         // holds a known old content: patched
  WrongVersion,  // holds something else, or lacks a file only a patch makes
};

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
