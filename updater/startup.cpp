#include "updater/startup.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/fileops.h"
#include "platform/codepage.h"
#include "platform/platform.h"
#include "settings/installation.h"
#include "settings/settings.h"
#include "updater/dialog.h"
#include "updater/messages.h"
#include "updater/procedure.h"
#include "updater/state.h"

namespace {

constexpr int kExitIncomplete = 0;
constexpr int kExitCompleted = 1;
constexpr char kSection[] = "SETUP";
constexpr char kArchiveType[] = "UPDATE";
constexpr int kArchiveName = 102;

void ReadOptional(const char* key, char* field, uint32_t size) {
  std::memset(field, 0, size);
  GetUpdateIniString(kSection, key, field, size);
}

// Removes the UPDATE.INI copies (and the files their extraction left
// beside them) of earlier runs of this update that were killed before their
// clean-up: "UPDATE-<pid in hex>.INI" and "UPDATE-<pid>.INI.~<pid>.tmp"
// whose process is gone and that hold this archive's UPDATE.INI (the tmp a
// beginning of it). Another program's file of that shape, or another
// update's copy, stays. Nothing goes when the temporary folder is unknown.
void RemoveStaleUpdateInis(const char* tempFolder, const MemoryBlock& ours) {
  platform::Platform& os = platform::Os();
  char pattern[2 * kNameField];
  if (tempFolder[0] == '\0' || !CopyToField(pattern, sizeof pattern, tempFolder) ||
      !AppendPathComponent(pattern, sizeof pattern, "UPDATE-*"))
    return;
  std::vector<std::string> names;
  os.FindFiles(pattern, &names);
  const std::string folder(pattern, std::strlen(pattern) - std::strlen("UPDATE-*"));
  for (const std::string& name : names) {
    const char* p = name.c_str() + 7;
    const char* dot = std::strchr(p, '.');
    uint32_t pid = 0;
    if (!dot || !ParseHexProcessId(p, size_t(dot - p), &pid) || !ProcessIsGone(pid)) continue;
    // Named exactly as start-up names its copy.
    char own[32];
    std::snprintf(own, sizeof own, "UPDATE-%lX.INI", static_cast<unsigned long>(pid));
    const size_t ownLength = std::strlen(own);
    if (name.compare(0, ownLength, own) != 0) continue;
    const std::string copy = folder + own;
    RemoveStaleReplacements(copy.c_str(), [&](const char* path) {
      return FileHolds(path, ours.data(), ours.size(), true);
    });
    if (name.size() == ownLength && FileHolds(copy.c_str(), ours.data(), ours.size(), false))
      os.DeleteFile(copy.c_str());
  }
}

// A string value into a 260-byte field. Registry strings need not end with a
// zero, so a value that fills the field is cut to 259 bytes and terminated.
bool ReadRegistryString(platform::RegistryKey& key, const char* name, char* field) {
  std::memset(field, 0, kNameField);
  uint32_t size = kNameField;
  if (key.QueryValue(name, field, &size) != 0) {
    std::memset(field, 0, kNameField);  // a failed query may leave anything
    return false;
  }
  field[kNameField - 1] = '\0';
  return true;
}

bool FindInstallation() {
  char subkey[kMessageField];
  std::snprintf(subkey, sizeof subkey, kRegistryKeyFormat, Updater.CompanyName, Updater.GameDir);
  std::unique_ptr<platform::RegistryKey> key = platform::Os().OpenUserKey(subkey);
  if (!key) return false;
  if (!ReadRegistryString(*key, "InstPath", Updater.InstPath)) return false;
  if (!ReadRegistryString(*key, "DataPath", Updater.DataPath)) Updater.DataPath[0] = '\0';
  uint8_t mode[4] = {};
  uint32_t size = sizeof mode;
  if (key->QueryValue("InstMode", mode, &size) != 0) return false;
  Updater.InstMode = int32_t(uint32_t(mode[0]) | (uint32_t(mode[1]) << 8) |
                             (uint32_t(mode[2]) << 16) | (uint32_t(mode[3]) << 24));
  return true;
}

// The prompt loop about a running game. False when the player chose to stop;
// the game's window has then been brought to the front.
bool WaitForGameToEnd(const char* title) {
  platform::Platform& os = platform::Os();
  for (;;) {
    platform::Window game = os.FindWindow(Updater.GameClass, title);
    if (game == nullptr) return true;
    char prompt[kMessageField];
    std::snprintf(prompt, sizeof prompt, kMsgGameRunningFormat, title);
    if (os.MessageBox(nullptr, prompt, Updater.Caption, platform::kBoxOkCancel) ==
        platform::kAnswerOk)
      continue;
    os.ShowAndRaise(game);
    return false;
  }
}

// Everything up to the exit code; the caller cleans up.
int StartAndRun() {
  platform::Platform& os = platform::Os();
  os.InitializeCom();

  const uint8_t* image = nullptr;
  uint32_t imageSize = 0;
  if (!os.FindOwnResource(kArchiveType, kArchiveName, &image, &imageSize)) {
    ShowUpdaterError(kMsgArchiveMissing);
    return kExitIncomplete;
  }
  Updater.ArchiveSource.address = image;
  Updater.ArchiveSource.size = imageSize;
  Updater.Archive = OpenUpdateArchive(Updater.ArchiveSource);
  if (!Updater.Archive) {
    ShowUpdaterError(kMsgArchiveUnreadable);
    return kExitIncomplete;
  }

  // Each process has its own copy, so that two updaters started at once do
  // not extract over or delete each other's.
  char temp[kNameField] = {};
  os.GetTempFolder(temp);
  temp[kNameField - 1] = '\0';
  {
    const int32_t ini = FindArchiveMember(*Updater.Archive, "UPDATE.INI", nullptr);
    DecodeError ignored;
    MemoryBlock ours = ini < 0 ? MemoryBlock()
                               : ReadArchiveMember(*Updater.Archive, image, imageSize,
                                                   uint32_t(ini), &ignored);
    if (ours.ok()) RemoveStaleUpdateInis(temp, ours);
  }
  char name[32];
  std::snprintf(name, sizeof name, "UPDATE-%lX.INI", static_cast<unsigned long>(os.ProcessId()));
  std::memset(UpdateIniPath, 0, sizeof UpdateIniPath);
  if (!CopyToField(UpdateIniPath, sizeof UpdateIniPath, temp) ||
      !AppendPathComponent(UpdateIniPath, sizeof UpdateIniPath, name)) {
    std::memset(UpdateIniPath, 0, sizeof UpdateIniPath);
    ShowUpdaterError(kMsgUpdateIniMissing);
    return kExitIncomplete;
  }
  // Whatever already has this process's name is nobody's copy of ours: gone
  // first, so that nothing of it (its security descriptor included) carries
  // over to the copy, and a link there is removed itself.
  if (os.GetFileAttributes(UpdateIniPath) != platform::kInvalidAttributes)
    os.DeleteFile(UpdateIniPath);
  if (!ExtractArchiveMember(UpdateIniPath, "UPDATE.INI", false)) {
    ShowUpdaterError(kMsgUpdateIniMissing);
    return kExitIncomplete;
  }

  // The getter has shown which key is missing.
  if (!GetUpdateIniString(kSection, "CompanyName", Updater.CompanyName, kNameField) ||
      !GetUpdateIniString(kSection, "GameTitle", Updater.GameTitle, kNameField) ||
      !GetUpdateIniString(kSection, "GameClass", Updater.GameClass, kNameField) ||
      !GetUpdateIniString(kSection, "GameDir", Updater.GameDir, kNameField))
    return kExitIncomplete;
  QuietMissingKeys = 1;
  ReadOptional("GameTitleA", Updater.GameTitleA, kNameField);
  ReadOptional("UpdaterVersion", Updater.UpdaterVersion, kNameField);
  ReadOptional("UpdaterTitle", Updater.UpdaterTitle, kNameField);
  ReadOptional("DataFolder", Updater.DataFolder, kNameField);
  ReadOptional("UpdateMessage", Updater.UpdateMessage, kMessageField);

  char text[kMessageField];
  if (!FindInstallation()) {
    std::snprintf(text, sizeof text, kMsgNotInstalledFormat, Updater.GameTitle);
    ShowUpdaterError(text);
    return kExitIncomplete;
  }

  if (Updater.UpdateMessage[0] != '\0') {
    TranslateStartupMessage(Updater.UpdateMessage, text, sizeof text);
    ShowUpdaterError(text);
  }

  std::memset(SetupIniPath, 0, sizeof SetupIniPath);
  if (!CopyToField(SetupIniPath, sizeof SetupIniPath, Updater.InstPath) ||
      !AppendPathComponent(SetupIniPath, sizeof SetupIniPath, "SETUP.INI") ||
      os.GetFileAttributes(SetupIniPath) == platform::kInvalidAttributes) {
    ShowUpdaterError(kMsgSetupIniMissing);
    return kExitIncomplete;
  }
  if (!LoadInstallationDescription()) return kExitIncomplete;

  ComposeCaption(Updater.UpdaterTitle, Updater.GameTitle, Updater.UpdaterVersion,
                 Updater.Caption, sizeof Updater.Caption);

  // Another copy's dialog (or any box it shows) carries the same caption.
  if (platform::Window other = os.FindWindow(nullptr, Updater.Caption)) {
    os.ShowAndRaise(other);
    return kExitIncomplete;
  }
  if (!WaitForGameToEnd(Updater.GameTitle)) return kExitIncomplete;
  if (Updater.GameTitleA[0] != '\0' && !WaitForGameToEnd(Updater.GameTitleA))
    return kExitIncomplete;

  UpdateDialog dialog;
  intptr_t end = os.RunDialog(kUpdateDialogTemplate, dialog);
  Updater.OwnerWindow = nullptr;
  // A dialog closed on its completion page, by whatever means, has completed.
  if (end == 0 || UpdateCompleted) return kExitCompleted;
  ShowUpdaterError(kMsgInterrupted);
  return kExitIncomplete;
}

}  // namespace

int RunUpdater() {
  int code = StartAndRun();
  CleanUpUpdater();
  return code;
}

void CleanUpUpdater() {
  Updater.Archive.reset();
  platform::Os().DeleteFile(UpdateIniPath);
}

void TranslateStartupMessage(const char* message, char* out, size_t size) {
  if (size == 0) return;
  const char* p = message;
  size_t length = 0;
  while (*p != '\0') {
    const char* next = platform::CharNext(p);
    size_t width = size_t(next - p);
    if (width == 1 && p[0] == '\\' && p[1] == 'n') {
      if (length + 1 >= size) break;
      out[length++] = '\r';
      p += 2;
      continue;
    }
    if (width >= size - length) break;
    std::memcpy(out + length, p, width);
    length += width;
    p = next;
  }
  out[length] = '\0';
}

void ComposeCaption(const char* updaterTitle, const char* gameTitle, const char* version,
                    char* out, size_t size) {
  if (updaterTitle[0] != '\0')
    std::snprintf(out, size, "%s", updaterTitle);
  else
    std::snprintf(out, size, kCaptionFormat, gameTitle, version);
}
