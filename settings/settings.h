// Typed reading of the two INI files (the installation's SETUP.INI and the
// temporary copy of UPDATE.INI), the list syntax of their values, and the
// settings module's own error box (caption "INSTCMMN").
#pragma once

#include <cstddef>
#include <cstdint>

// Module state: one instance for the process, zero at start.
extern char SetupIniPath[260];   // set by start-up before the first SETUP.INI read
extern char UpdateIniPath[260];  // set by start-up before the first UPDATE.INI read
extern int32_t QuietMissingKeys; // 1: getters fail silently; never set back to 0
extern int32_t CurrentDisk;      // disk number of the last prefix the scanner met

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

// The next token of a list value at *cursor (see the list syntax in
// settings.cpp): 1 with the token in `token` (at most 259 bytes and a zero)
// and the cursor advanced, or 0 at the end of the list with both untouched.
// A disk prefix "d:" sets CurrentDisk.
int NextListToken(const char** cursor, char token[260]);

// The standard decimal conversion (atoi/strtol): leading white space, one
// sign, digits up to the first other byte; no digits gives 0; clamped to
// the 32-bit range.
int32_t ParseInt32(const char* text);
// The unsigned 64-bit conversion (strtoull): a minus sign negates modulo
// 2^64; clamped to 2^64 - 1 on overflow.
uint64_t ParseUInt64(const char* text);
