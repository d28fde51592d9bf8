// A narrow view into the update procedure's decisions, for a caller that
// wants to report them item by item (qa2 preview). The updater installs none;
// every call is made only when an observer is set, and none changes what the
// procedure does.
#pragma once

#include <cstdint>

#include "archive/archive.h"
#include "archive/fileops.h"
#include "platform/platform.h"
#include "updater/entries.h"
#include "updater/procedure.h"

class ProcedureObserver {
 public:
  virtual ~ProcedureObserver() = default;
  // An UpdateFileXX or CopyFileXX value as read; `index` is its place in its
  // table, or -1 when it names another install mode.
  virtual void OnEntry(const char* key, const char* value, int index) {
    (void)key, (void)value, (void)index;
  }
  // Item `index` of the update table: its target (nullptr when the joined
  // path does not fit, and the item fails) and what DecideItem chose.
  virtual void OnItemDecided(int index, const char* target, ItemAction action) {
    (void)index, (void)target, (void)action;
  }
  // The version gate's verdict on item `index` from its member's table
  // record; `base` is the index of the matching content in it for Patch,
  // else -1.
  virtual void OnItemGated(int index, const char* target, GateVerdict verdict, const PatchTarget& record, int base) {
    (void)index, (void)target, (void)verdict, (void)record, (void)base;
  }
  // A Data item's rewrite of the player's own file.
  virtual void OnItemRewritten(int index, const char* target, RewriteResult result) {
    (void)index, (void)target, (void)result;
  }
  // An item's extraction, as ExtractMember reported it.
  virtual void OnItemExtracted(int index, const char* target, const ExtractOutcome& outcome) {
    (void)index, (void)target, (void)outcome;
  }
  // Copy item `index` is about to be copied (from a found disc).
  virtual void OnCopyStarting(int index, const char* source, const char* destination) {
    (void)index, (void)source, (void)destination;
  }
  // Its end: `fits` false when a path did not fit (no copy was made).
  virtual void OnCopyDone(int index, bool fits, const platform::ShellCopyResult& result) {
    (void)index, (void)fits, (void)result;
  }
};

// nullptr (the updater's state) or the caller's observer, not owned.
void SetProcedureObserver(ProcedureObserver* observer);
