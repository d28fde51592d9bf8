#include "settings/settings.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "settings/messages.h"
#include "updater/state.h"

char SetupIniPath[260];
char UpdateIniPath[260];
int32_t QuietMissingKeys;

void ResetSettingsState() {
  std::memset(SetupIniPath, 0, sizeof SetupIniPath);
  std::memset(UpdateIniPath, 0, sizeof UpdateIniPath);
  QuietMissingKeys = 0;
  CurrentDisk = 0;
}

int ShowSettingsError(const char* text) {
  return platform::Os().MessageBox(Updater.OwnerWindow, text, "INSTCMMN",
                                   platform::kBoxIconError | platform::kBoxOk);
}

namespace {

// Both getters go by the count of bytes copied, so an empty value is missing.
// The whole buffer is zero past the value afterwards: the list scanner relies
// on a zero after the terminating one.
bool ReadValue(const char* section, const char* key, char* buffer, uint32_t size,
               const char* path) {
  if (size == 0) return false;
  std::memset(buffer, 0, size);
  uint32_t count = platform::Os().ReadProfileString(section, key, "", buffer, size, path);
  if (count > size - 1) count = size - 1;
  std::memset(buffer + count, 0, size - count);
  return count != 0;
}

}  // namespace

int GetSetupString(const char* key, char* buffer, uint32_t size) {
  if (ReadValue("SETUP", key, buffer, size, SetupIniPath)) return 1;
  if (!QuietMissingKeys) {
    char message[kMessageField];
    std::snprintf(message, sizeof message, kMsgSetupKeyMissingFormat, key);
    ShowSettingsError(message);
  }
  return 0;
}

int GetUpdateIniString(const char* section, const char* key, char* buffer, uint32_t size) {
  if (ReadValue(section, key, buffer, size, UpdateIniPath)) return 1;
  if (!QuietMissingKeys) {
    char message[kMessageField];
    std::snprintf(message, sizeof message, kMsgUpdateKeyMissingFormat, section, key);
    ShowSettingsError(message);
  }
  return 0;
}

int GetSetupInt(const char* key, int32_t* value) {
  char text[20];
  if (!GetSetupString(key, text, sizeof text)) return 0;
  *value = ParseInt32(text);
  return 1;
}
