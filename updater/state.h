// The process-wide record of the updater and the small operations that the
// start-up, the dialog, the update procedure, the archive and the settings
// share.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>

#include "archive/format.h"
#include "platform/platform.h"

constexpr size_t kNameField = 260;      // names and paths: at most 259 bytes
constexpr size_t kMessageField = 1024;  // messages and list values

// The game's names: written by start-up from UPDATE.INI, then overwritten by
// the installation description loader from SETUP.INI. The installation
// description's fields of the same names are this storage.
struct GameNames {
  char CompanyName[kNameField];
  char GameTitle[kNameField];
  char GameClass[kNameField];
  char GameDir[kNameField];
};

struct UpdaterState : GameNames {
  char Caption[kMessageField];
  platform::Window OwnerWindow;
  ::ArchiveSource ArchiveSource;  // the locked archive resource
  std::unique_ptr<UpdateArchive> Archive;
  char GameTitleA[kNameField];
  char UpdaterVersion[kNameField];
  char UpdaterTitle[kNameField];
  char DataFolder[kNameField];
  char UpdateMessage[kMessageField];
  char InstPath[kNameField];
  char DataPath[kNameField];
  int32_t InstMode;

  UpdaterState() { Reset(); }
  // Back to the process-start state: all zero, Caption "UPDATE".
  void Reset();
};

extern UpdaterState Updater;

// The updater's error box: owner OwnerWindow, title Caption, error icon, OK.
int ShowUpdaterError(const char* text);

// Joins `component` to `path` in place: a backslash goes between unless the
// path is empty or its last byte is '\' or '/'; a second zero follows the
// result (a one-name, double-zero-terminated list). Returns false and leaves
// the path unchanged when the result and its two zeros would not fit in
// `capacity` bytes.
bool AppendPathComponent(char* path, size_t capacity, const char* component);

// Formats like wvsprintfA into 1024 bytes (so at most 1023 bytes of text) and
// sets the result as the dialog's information text, control 1001.
void SetInfoText(platform::Window dialog, const char* format, ...);
void SetInfoTextV(platform::Window dialog, const char* format, va_list args);

// Enables or disables the dialog's control `id` (1 Next, 2 Abort, 4 Back).
void EnableDialogButton(platform::Window dialog, int id, bool enable);

constexpr int kInfoTextId = 1001;
constexpr int kButtonNext = 1;
constexpr int kButtonAbort = 2;
constexpr int kButtonBack = 4;

// Copies `text` into a fixed field; false (and the field untouched) when it
// would not fit with its terminating zero.
bool CopyToField(char* field, size_t capacity, const char* text);
