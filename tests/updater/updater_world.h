// A scripted machine for the updater's host tests: drive C: is a fresh host
// folder (installation in C:\GAME, data in C:\SAVE, temporary folder C:\TMP),
// the archive is laid out in memory, and the process-wide state starts clean.
#pragma once

#include <cstring>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "platform/host/host_platform.h"
#include "settings/installation.h"
#include "settings/settings.h"
#include "tests/support/archive_image.h"
#include "tests/support/temp_folder.h"
#include "updater/dialog.h"
#include "updater/procedure.h"
#include "updater/state.h"

class UpdaterWorld {
 public:
  UpdaterWorld() {
    platform::SetOs(&os);
    Updater.Reset();
    ResetSettingsState();
    ResetInstallationDescription();
    std::memset(&Tables, 0, sizeof Tables);
    UpdateCompleted = false;
    DialogStep = 0;
    DialogBusy = 0;
    for (const char* folder : {"GAME", "SAVE", "TMP"}) MakeFolder(folder);
    os.MapDrive('C', root.path());
    os.SetTempFolder("C:\\TMP\\");
    // No other updater runs unless a test says so.
    os.processAlive = [](uint32_t) { return false; };
    std::strcpy(Updater.InstPath, "C:\\GAME");
    std::strcpy(Updater.DataPath, "C:\\SAVE");
    std::strcpy(Updater.GameTitle, "GAME");
  }
  ~UpdaterWorld() {
    Updater.Archive.reset();
    platform::SetOs(nullptr);
  }

  // Host path of a file below drive C:, '/'-separated ("GAME/A.TXT").
  std::string Host(const std::string& relative) const { return root / relative; }
  void MakeFolder(const std::string& relative) { std::filesystem::create_directories(Host(relative)); }
  void Put(const std::string& relative, const std::string& content) {
    WriteTestFile(Host(relative), content);
  }
  std::string Get(const std::string& relative) const { return ReadTestFile(Host(relative)); }
  bool Exists(const std::string& relative) const { return TestFileExists(Host(relative)); }
  uint64_t WriteTime(const char* windowsPath) {
    uint64_t time = 0;
    auto file = os.OpenForRead(windowsPath);
    if (file) file->LastWriteTime(&time);
    return time;
  }
  void SetWriteTime(const char* windowsPath, const std::string& content, uint64_t time) {
    os.WriteFileReplacing(windowsPath, content.data(), uint32_t(content.size()), &time);
  }

  // The archive that Updater carries, as start-up would have opened it.
  void SetArchive(const std::vector<TestMember>& members) {
    image = LayOutArchive(members, true);
    Updater.ArchiveSource.address = image.data();
    Updater.ArchiveSource.size = uint32_t(image.size());
    Updater.Archive = OpenUpdateArchive(Updater.ArchiveSource);
  }

  // UPDATE.INI as start-up leaves it: extracted, messages about keys off.
  void SetUpdateIni(const std::string& text) {
    Put("TMP/UPDATE.INI", text);
    std::strcpy(UpdateIniPath, "C:\\TMP\\UPDATE.INI");
    QuietMissingKeys = 1;
  }

  // Runs the dialog, pressing `presses` in order (one per script turn); the
  // dialog as it ended or as the presses left it is os.lastDialog().
  intptr_t RunDialog(std::deque<int> presses) {
    os.dialogScript = [presses](platform::HostDialog& d) mutable {
      if (presses.empty()) return false;
      int id = presses.front();
      presses.pop_front();
      d.Press(id);
      return true;
    };
    UpdateDialog handler;
    return os.RunDialog(kUpdateDialogTemplate, handler);
  }

  bool ProfileKeyRead(const std::string& sectionSlashKey) const {
    for (const std::string& r : os.profileReads())
      if (r == sectionSlashKey) return true;
    return false;
  }

  TempFolder root;
  platform::HostPlatform os;
  std::vector<uint8_t> image;
};
