#include "updater/state.h"

#include <cstdio>
#include <cstring>

UpdaterState Updater;

void UpdaterState::Reset() {
  GameNames& names = *this;
  std::memset(&names, 0, sizeof names);
  std::memset(Caption, 0, sizeof Caption);
  std::strcpy(Caption, "UPDATE");
  OwnerWindow = nullptr;
  ArchiveSource = ::ArchiveSource{};
  Archive.reset();
  std::memset(GameTitleA, 0, sizeof GameTitleA);
  std::memset(UpdaterVersion, 0, sizeof UpdaterVersion);
  std::memset(UpdaterTitle, 0, sizeof UpdaterTitle);
  std::memset(DataFolder, 0, sizeof DataFolder);
  std::memset(UpdateMessage, 0, sizeof UpdateMessage);
  std::memset(InstPath, 0, sizeof InstPath);
  std::memset(DataPath, 0, sizeof DataPath);
  InstMode = 0;
}

int ShowUpdaterError(const char* text) {
  // A failure ends the update: its bar goes before the box shows.
  if (Updater.OwnerWindow) platform::Os().RemoveProgressBar(Updater.OwnerWindow);
  return platform::Os().MessageBox(Updater.OwnerWindow, text, Updater.Caption,
                                   platform::kBoxIconError | platform::kBoxOk);
}

bool AppendPathComponent(char* path, size_t capacity, const char* component) {
  size_t length = std::strlen(path);
  // The separator test looks at the last byte alone, even when that byte is
  // the second byte of a double-byte character.
  bool separator = length > 0 && path[length - 1] != '\\' && path[length - 1] != '/';
  size_t componentLength = std::strlen(component);
  size_t needed = length + (separator ? 1 : 0) + componentLength + 2;
  if (needed > capacity) return false;
  if (separator) path[length++] = '\\';
  std::memcpy(path + length, component, componentLength);
  length += componentLength;
  path[length] = '\0';
  path[length + 1] = '\0';
  return true;
}

void SetInfoTextV(platform::Window dialog, const char* format, va_list args) {
  char text[kMessageField];
  std::vsnprintf(text, sizeof text, format, args);
  platform::Os().SetDlgItemText(dialog, kInfoTextId, text);
}

void SetInfoText(platform::Window dialog, const char* format, ...) {
  va_list args;
  va_start(args, format);
  SetInfoTextV(dialog, format, args);
  va_end(args);
}

void EnableDialogButton(platform::Window dialog, int id, bool enable) {
  platform::Os().EnableDlgItem(dialog, id, enable);
}

bool CopyToField(char* field, size_t capacity, const char* text) {
  size_t length = std::strlen(text);
  if (length >= capacity) return false;
  std::memcpy(field, text, length + 1);
  return true;
}
