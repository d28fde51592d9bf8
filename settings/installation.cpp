#include "settings/installation.h"

#include <cstdio>
#include <cstring>

#include "settings/messages.h"
#include "settings/settings.h"

InstallationDescription Installation;

void ResetInstallationDescription() {
  std::memset(&Installation, 0, sizeof Installation);
  GameNames& names = Updater;
  std::memset(&names, 0, sizeof names);
}

namespace {

constexpr int kMaxSetupBmps = 20;
constexpr int kMaxSelects = 3;
constexpr int kMaxInstallFiles = 40;
constexpr int kMaxShortcuts = 10;
constexpr int kDiskCheckFiles = 10;
constexpr int kMaxUninstallFiles = 20;

constexpr uint32_t kDxSetupCore = 0x10000;       // DSETUP_DXCORE
constexpr uint32_t kDxSetupDDrawDrv = 0x8;       // DSETUP_DDRAWDRV
constexpr uint32_t kDxSetupDSoundDrv = 0x10;     // DSETUP_DSOUNDDRV

// The loader's own messages name the key whose list was being scanned.
int FailList(const char* key) {
  char message[kMessageField];
  std::snprintf(message, sizeof message, kMsgListErrorFormat, key);
  ShowSettingsError(message);
  return 0;
}

}  // namespace

// Reads in a fixed order, the required keys (with the getters' boxes) first,
// and stops at the first failure. Nothing read so far is rolled back: the
// updater does not go on after a failed load. Some fields are deliberately
// left alone and rely on the record's zero start (SetupBmpLast at the limit,
// ExecApp's second entry, AdditionalUninstallFilesCount without its key).
int LoadInstallationDescription() {
  InstallationDescription& d = Installation;
  char value[kMessageField];
  char key[64];
  const char* cursor;

  if (!GetSetupString("CompanyName", Updater.CompanyName, kNameField)) return 0;
  if (!GetSetupString("GameTitle", Updater.GameTitle, kNameField)) return 0;
  if (!GetSetupString("GameDir", Updater.GameDir, kNameField)) return 0;
  if (!GetSetupString("GameExe", d.GameExe, kNameField)) return 0;
  if (!GetSetupString("UninstExe", d.UninstExe, kNameField)) return 0;

  if (!GetSetupString("SetupBmp", value, sizeof value)) return 0;
  cursor = value;
  int bmps = 0;
  while (bmps < kMaxSetupBmps && NextListToken(&cursor, d.SetupBmp[bmps])) ++bmps;
  if (bmps == 0) {
    ShowSettingsError(kMsgSetupBmpsError);
    return 0;
  }
  if (bmps < kMaxSetupBmps) {
    d.SetupBmp[bmps][0] = '\0';
    d.SetupBmpLast = bmps - 1;
  }

  if (!GetSetupInt("InstallSelects", &d.InstallSelects)) return 0;
  if (d.InstallSelects > kMaxSelects) {
    ShowSettingsError(kMsgInstallSelectOver);
    return 0;
  }
  for (int i = 0; i < d.InstallSelects; ++i) {
    std::snprintf(key, sizeof key, "InstallTitle%i", i);
    if (!GetSetupString(key, d.InstallTitle[i], kNameField)) return 0;
    std::snprintf(key, sizeof key, "InstallFiles%i", i);
    if (!GetSetupString(key, value, sizeof value)) return 0;
    // A disk prefix in one choice's list does not carry over to the next.
    d.InstallFilesNeedDisk[i] = 0;
    CurrentDisk = 0;
    cursor = value;
    int files = 0;
    while (files < kMaxInstallFiles && NextListToken(&cursor, d.InstallFiles[i][files])) {
      d.InstallFilesDisk[i][files] = CurrentDisk;
      if (CurrentDisk != 0) d.InstallFilesNeedDisk[i] = 1;
      ++files;
    }
    if (files == 0) return FailList(key);
    if (files < kMaxInstallFiles) d.InstallFiles[i][files][0] = '\0';
  }

  if (!GetSetupInt("Shortcuts", &d.Shortcuts)) return 0;
  if (d.Shortcuts > kMaxShortcuts) {
    ShowSettingsError(kMsgShortcutsOver);
    return 0;
  }
  for (int i = 0; i < d.Shortcuts; ++i) {
    std::snprintf(key, sizeof key, "Shortcut%i", i);
    if (!GetSetupString(key, value, kNameField)) return 0;
    cursor = value;
    if (!NextListToken(&cursor, d.Shortcut[i][0])) return FailList(key);
    if (!NextListToken(&cursor, d.Shortcut[i][1])) return FailList(key);
    if (!NextListToken(&cursor, d.Shortcut[i][2])) d.Shortcut[i][2][0] = '\0';
  }

  // Everything from here on is optional.
  QuietMissingKeys = 1;

  if (!GetSetupString("GameClass", Updater.GameClass, kNameField))
    std::memcpy(Updater.GameClass, Updater.GameTitle, kNameField);

  if (!GetSetupInt("DefaultSelect", &d.DefaultSelect)) d.DefaultSelect = 0;

  for (int i = 0; i < d.InstallSelects; ++i) {
    char size[20];
    std::snprintf(key, sizeof key, "InstallSize%i", i);
    d.InstallSize[i] = GetSetupString(key, size, sizeof size) ? ParseUInt64(size) : 0;
  }

  for (int i = 0; i < kDiskCheckFiles; ++i) {
    std::snprintf(key, sizeof key, "DiskCheckFile%i", i);
    GetSetupString(key, d.DiskCheckFile[i], kNameField);
  }

  if (!GetSetupString("ExecApp", value, kNameField)) {
    d.ExecApp[0][0] = '\0';
  } else {
    cursor = value;
    if (!NextListToken(&cursor, d.ExecApp[0])) return FailList("ExecApp");
    if (!NextListToken(&cursor, d.ExecApp[1])) return FailList("ExecApp");
  }

  int32_t directX = 0;
  if (GetSetupInt("InstallDirectX", &directX)) {
    // Any value, even one that reads as 0, asks for the DirectX core.
    d.InstallDirectX = kDxSetupCore;
    if (directX & 1) d.InstallDirectX += kDxSetupDDrawDrv;
    if (directX & 2) d.InstallDirectX += kDxSetupDSoundDrv;
  } else {
    d.InstallDirectX = 0;
  }

  if (!GetSetupString("InstallDXMessage", d.InstallDXMessage, kMessageField))
    std::memcpy(d.InstallDXMessage, kDefaultInstallDXMessage, sizeof kDefaultInstallDXMessage);
  if (!GetSetupString("SelectSetupMessage", d.SelectSetupMessage, kMessageField))
    std::memcpy(d.SelectSetupMessage, kDefaultSelectSetupMessage,
                sizeof kDefaultSelectSetupMessage);

  if (GetSetupString("AdditionalUninstallFiles", value, sizeof value)) {
    d.AdditionalUninstallFilesCount = 0;
    cursor = value;
    while (d.AdditionalUninstallFilesCount < kMaxUninstallFiles &&
           NextListToken(&cursor, d.AdditionalUninstallFiles[d.AdditionalUninstallFilesCount]))
      ++d.AdditionalUninstallFilesCount;
  }

  int32_t useCompany = 0;
  d.UseCompanyNameForShortcutGroup = 0;
  if (GetSetupInt("UseCompanyNameForShortcutGroup", &useCompany) && useCompany != 0)
    d.UseCompanyNameForShortcutGroup = 1;

  return 1;
}
