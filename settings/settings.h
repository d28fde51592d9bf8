// Typed reading of the two INI files (the installation's SETUP.INI and the
// temporary copy of UPDATE.INI), the list syntax of their values, and the
// settings module's own error box (caption "INSTCMMN").
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/list_syntax.h"

// Module state: one instance for the process, zero at start (CurrentDisk is
// declared with the list syntax).
extern char SetupIniPath[260];   // set by start-up before the first SETUP.INI read
extern char UpdateIniPath[260];  // set by start-up before the first UPDATE.INI read
extern int32_t QuietMissingKeys; // 1: getters fail silently; never set back to 0

// Back to the process-start state (tests).
void ResetSettingsState();

// The settings error box: owner Updater.OwnerWindow, caption "INSTCMMN",
// error icon, OK. Returns the box's result.
int ShowSettingsError(const char* text);

// Reads `key` of [SETUP] in SetupIniPath into `buffer` (zero-filled first,
// value cut to size - 1). 1 for a non-empty value; 0 otherwise, after the box
// "SETUP.INI : %s キーが存在しません" unless QuietMissingKeys is set.
int GetSetupString(const char* key, char* buffer, uint32_t size);

// The same for any section of UpdateIniPath; the box names section and key.
int GetUpdateIniString(const char* section, const char* key, char* buffer, uint32_t size);

// Reads `key` of [SETUP] through a 20-byte buffer and converts it with
// ParseInt32. 1 and the value, or 0 with *value unchanged.
int GetSetupInt(const char* key, int32_t* value);
