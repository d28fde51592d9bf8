// The installation description: the [SETUP] section of the installation's
// SETUP.INI, read and validated once at start-up.
#pragma once

#include <cstdint>

#include "updater/state.h"

// Its CompanyName, GameTitle, GameClass and GameDir are the fields of the
// same names in Updater (one storage): loading overwrites them there.
struct InstallationDescription {
  char GameExe[kNameField];
  char UninstExe[kNameField];
  char SetupBmp[20][kNameField];
  int32_t SetupBmpLast;
  int32_t InstallSelects;
  char InstallTitle[3][kNameField];
  char InstallFiles[3][40][kNameField];
  int32_t InstallFilesDisk[3][40];
  int32_t InstallFilesNeedDisk[3];
  int32_t Shortcuts;
  char Shortcut[10][3][kNameField];
  int32_t DefaultSelect;
  uint64_t InstallSize[3];
  char DiskCheckFile[10][kNameField];
  char ExecApp[2][kNameField];
  uint32_t InstallDirectX;
  char InstallDXMessage[kMessageField];
  char SelectSetupMessage[kMessageField];
  char AdditionalUninstallFiles[20][kNameField];
  int32_t AdditionalUninstallFilesCount;
  int32_t UseCompanyNameForShortcutGroup;
};

extern InstallationDescription Installation;

// Back to the process-start state (all zero, the four names in Updater
// included) (tests).
void ResetInstallationDescription();

// Reads and validates SetupIniPath's [SETUP] section into Installation and
// the game names of Updater. 1 when the whole section was read and valid;
// 0 after the loader's own message (or silently for a missing key while
// QuietMissingKeys is set). Nothing is rolled back on failure.
int LoadInstallationDescription();
