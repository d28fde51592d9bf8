// The machine a preview runs the updater on: files through an OverlayFiles
// (nothing on disk changes), a registry that answers the game's key with the
// given InstPath, DataPath and InstMode, CD-ROM drives for the given letters,
// a chosen free space, every box answered OK, no other window, no other
// process, and a player who presses Next, Next, then Done.
//
// Where the real run would wait for the player's own choice (a disc that no
// drive holds, the disk-space page), the preview records it in waiting()
// and ends the wait the way that stops soonest (Cancel, Abort); what is shown
// after that is not recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/overlay/overlay_files.h"
#include "platform/platform.h"

namespace platform {

struct PreviewSettings {
  std::string instPath;  // code page 932; empty: "C:\Games\<GameDir>"
  std::string dataPath;  // empty: as instPath, or "C:\Save\<GameDir>" with a dataFolder
  std::string installFolder, dataFolder;  // local, UTF-8; dataFolder may be empty
  int32_t instMode = 0;
  std::map<char, std::string> cdroms;  // letter -> local folder
  bool freeGiven = false;
  uint64_t freeBytes = 0;  // on the installation's drive, when given
  const uint8_t* archive = nullptr;  // resource "UPDATE" 102, not owned; none when the size is 0
  size_t archiveSize = 0;
  uint32_t processId = 0x1234;
};

struct PreviewText {
  enum Kind { Box, Page } kind;
  std::string text, caption;  // code page 932
  uint32_t style = 0;         // boxes
};

// One profile read: the file, the section, the key and what was found.
struct ProfileRead {
  std::string path, section, key;
  bool found = false;
  std::string value;
};

class PreviewPlatform : public Platform {
 public:
  explicit PreviewPlatform(PreviewSettings settings);

  OverlayFiles& files() { return files_; }
  const PreviewSettings& settings() const { return settings_; }
  // The key the updater opened ("Software\Company\GameDir"), and the paths it
  // was answered with; empty before the updater asked.
  const std::string& registryKey() const { return registryKey_; }
  const std::string& instPath() const { return settings_.instPath; }
  const std::string& dataPath() const { return settings_.dataPath; }
  // Boxes and dialog texts, in the order shown.
  const std::vector<PreviewText>& texts() const { return texts_; }
  // Why the real run would wait for the player ("disc", "space"), or empty.
  const std::string& waiting() const { return waiting_; }
  // The installation drive's free space before the run.
  uint64_t freeBefore() const { return freeBefore_; }
  // Called once the updater has opened the registry key (paths known), so
  // that the caller can mount folders or note what it assumed.
  std::function<void(PreviewPlatform&)> onInstallationKnown;

  // --- Platform
  uint32_t GetFileAttributes(const char* path) override { return files_.GetFileAttributes(path); }
  bool SetFileAttributes(const char* path, uint32_t attributes) override {
    return files_.SetFileAttributes(path, attributes);
  }
  bool CreateDirectory(const char* path) override { return files_.CreateDirectory(path); }
  bool DeleteFile(const char* path) override { return files_.DeleteFile(path); }
  std::unique_ptr<ReadableFile> OpenForRead(const char* path) override {
    return files_.OpenForRead(path);
  }
  std::unique_ptr<ReplacementFile> BeginReplacement(const char* path) override {
    return files_.BeginReplacement(path);
  }
  void FindFiles(const char* pattern, std::vector<std::string>* names) override {
    files_.FindFiles(pattern, names);
  }
  FreeSpaceQuery DiskFreeSpaceEx(const char* root, uint64_t* freeToCaller, uint64_t* totalBytes,
                                 uint64_t* totalFree) override;
  bool DiskFreeSpace(const char*, uint32_t*, uint32_t*, uint32_t*, uint32_t*) override {
    return false;
  }
  uint32_t DriveType(const char* root) override;
  void GetTempFolder(char out[260]) override;
  uint32_t ProcessId() override { return settings_.processId; }
  bool ProcessIsAlive(uint32_t pid) override { return pid == settings_.processId; }
  ShellCopyResult ShellCopy(Window owner, const char* from, const char* to,
                            uint32_t flags) override;
  uint32_t ReadProfileString(const char* section, const char* key, const char* fallback,
                             char* buffer, uint32_t size, const char* path) override;
  // The last key read: where start-up ends without a message, the key or
  // value that ended it.
  const ProfileRead& lastProfileRead() const { return lastProfileRead_; }
  std::unique_ptr<RegistryKey> OpenUserKey(const char* subkey) override;
  void InitializeCom() override {}
  bool FindOwnResource(const char* type, int name, const uint8_t** data,
                       uint32_t* size) override;
  int MessageBox(Window owner, const char* text, const char* caption, uint32_t style) override;
  Window FindWindow(const char*, const char*) override { return nullptr; }
  void ShowAndRaise(Window) override {}
  void SetWindowText(Window, const char*) override {}
  void SetDlgItemText(Window dialog, int id, const char* text) override;
  void EnableDlgItem(Window dialog, int id, bool enable) override;
  void FocusDlgItem(Window, int) override {}
  void EndDialog(Window dialog, intptr_t code) override;
  void SetCursor(Cursor) override {}
  void PumpPendingMessages() override {}
  intptr_t RunDialog(int templateId, DialogHandler& handler) override;

 private:
  char InstDrive() const;
  char DataDrive() const;

  PreviewSettings settings_;
  OverlayFiles files_;
  ProfileRead lastProfileRead_;
  std::string registryKey_;
  std::vector<PreviewText> texts_;
  std::string waiting_;
  uint64_t freeBefore_ = 0, dataFreeBefore_ = 0;
  std::map<int, bool> enabled_;
  bool ended_ = false;
  intptr_t endCode_ = 0;
};

// The temporary folder the preview's updater sees (virtual).
constexpr char kPreviewTempFolder[] = "C:\\Users\\Player\\AppData\\Local\\Temp\\";

}  // namespace platform
