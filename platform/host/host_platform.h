// The host platform: real files on a POSIX system behind Windows-style
// paths, and a scripted stand-in for everything else (boxes, windows, the
// dialog, the registry, drives, free space, resources). Tests set it up and
// inspect it; the author's tools use its defaults (boxes print to stderr).
//
// Paths: "X:\a\b" maps to the host folder given to MapDrive('X', ...);
// other paths are taken relative to the host's current folder. Backslashes
// become '/', stepping over double-byte characters.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/tool_support.h"

namespace platform {

struct BoxRecord {
  Window owner;
  std::string text;
  std::string caption;
  uint32_t style;
};

struct HostWindow {
  Window id;
  std::string windowClass;  // empty: the system's dialog class
  std::string title;
  int raised = 0;           // times ShowAndRaise was called on it
};

// What one dialog looks like right now, as the scripted user sees it.
struct HostDialog {
  Window window = nullptr;
  std::string title;
  std::map<int, std::string> texts;    // control id -> text
  std::map<int, bool> enabled;         // control id -> enabled
  int focus = 0;
  // The progress bar, as the player would see it over time: "show", "hide",
  // "remove" and each position, with the replacements begun and the copies
  // made before it.
  struct ProgressEvent {
    std::string what;
    uint32_t position;
    int writes;
    size_t copies;
  };
  std::vector<ProgressEvent> progress;
  bool ended = false;
  intptr_t endCode = 0;
  DialogHandler* handler = nullptr;

  bool Enabled(int id) const {
    auto it = enabled.find(id);
    return it == enabled.end() || it->second;
  }
  std::string Text(int id) const {
    auto it = texts.find(id);
    return it == texts.end() ? std::string() : it->second;
  }
  // Delivers a button click (the command word of control `id`).
  void Press(int id) { handler->OnCommand(window, uintptr_t(id)); }
};

struct CopyRecord {
  Window owner;
  std::string from, to;
  uint32_t flags;
};

class HostPlatform : public Platform {
 public:
  HostPlatform();
  ~HostPlatform() override;

  // --- scripting
  void MapDrive(char letter, const std::string& hostFolder, uint32_t type = 3 /* fixed */);
  // Host path of a Windows-style path.
  std::string HostPath(const char* path) const;
  // Free space of a drive as the queries report it; unset: the host's own.
  void SetFreeSpace(char letter, uint64_t bytes) { freeSpace_[Upper(letter)] = bytes; }
  void SetExtendedFreeSpaceQuery(bool available) { extendedQuery_ = available; }
  // Cluster figures reported by the older query for every drive.
  void SetClusters(uint32_t sectorsPerCluster, uint32_t bytesPerSector, uint32_t freeClusters,
                   uint32_t totalClusters);
  // Fails the n-th replacement from now (1 = the next), after part of the
  // content has been written beside the target.
  void FailWriteNumber(int n) { failWriteCountdown_ = n; }
  int writes() const { return writes_; }
  // Fails the n-th file operation from now (1 = the next), whatever its
  // kind: opening or reading a file, creating or writing a replacement,
  // setting its times, putting it in place, setting attributes, deleting.
  void FailFileOperationNumber(int n) { failOperationCountdown_ = n; }
  // Every file operation so far, as "kind path" (Windows-style path); the
  // failed one marked with a leading '!'.
  const std::vector<std::string>& fileOperations() const { return operations_; }
  // Hidden and system, which host files lack: kept here by host path, set
  // with SetFileAttributes, lost when the file is deleted or replaced.
  uint32_t Marks(const std::string& hostPath) const;
  void SetMarks(const std::string& hostPath, uint32_t attributes);
  // Off for the tools' instance, whose writes come in many pieces.
  bool recordFileOperations = true;
  // Replacements written on a thread of their own from their second piece
  // on, and synced before the rename. On for the tools' instance; scripted
  // tests keep the plain synchronous writes unless they ask for it.
  bool writeBehind = false;
  // Whether a process id runs; unset: asks the host (kill with signal 0).
  std::function<bool(uint32_t)> processAlive;
  // Called on every PumpPendingMessages, so that tests can act meanwhile
  // (press buttons of the busy dialog).
  std::function<void()> onPump;
  int pumps = 0;
  // Counts one file operation; false when it is the one to fail.
  bool FileOperation(const char* kind, const std::string& path);
  void SetTempFolder(const std::string& folder) { tempFolder_ = folder; }
  // The id that names this platform's files beside a destination; tests
  // script it (4242 unless set), the tools' instance has the real one.
  void SetProcessId(uint32_t pid) { pid_ = pid; }
  void SetResource(const std::string& type, int name, std::vector<uint8_t> bytes);
  void SetRegistryValue(const std::string& key, const std::string& name,
                        std::vector<uint8_t> bytes);
  void SetRegistryString(const std::string& key, const std::string& name,
                         const std::string& value);  // stored with its zero
  void SetRegistryDword(const std::string& key, const std::string& name, uint32_t value);
  Window AddWindow(const std::string& windowClass, const std::string& title);
  void RemoveWindow(Window window);
  const std::vector<HostWindow>& windows() const { return windows_; }

  // Answers each box; the default answers OK (and prints the box to stderr
  // when echoBoxes is on). The responder may act, e.g. remove a window.
  std::function<int(const BoxRecord&)> boxResponder;
  bool echoBoxes = false;
  const std::vector<BoxRecord>& boxes() const { return boxes_; }

  // The scripted user of a modal dialog: called once after initialisation,
  // then again after every action, until the dialog has ended or the script
  // returns false (then RunDialog returns -1 as if the window had gone).
  std::function<bool(HostDialog&)> dialogScript;
  HostDialog* dialog() { return dialog_; }
  // The last dialog run, as it was when it ended.
  const HostDialog& lastDialog() const { return lastDialog_; }
  Cursor cursor() const { return cursor_; }
  bool failDialogCreation = false;

  // Shell copy: by default a real copy; a result set here is returned
  // instead (without copying).
  std::optional<ShellCopyResult> copyOutcome;
  const std::vector<CopyRecord>& copies() const { return copies_; }
  // Called on every copy, before it runs, so tests can act meanwhile.
  std::function<void(const CopyRecord&)> onCopy;

  int comInitialised = 0;
  const std::vector<std::string>& registryKeysOpened() const { return keysOpened_; }
  const std::vector<std::string>& profileReads() const { return profileReads_; }
  // Every DeleteFile call's path, whether it deleted anything or not.
  const std::vector<std::string>& deletions() const { return deletions_; }

  // --- Platform
  uint32_t GetFileAttributes(const char* path) override;
  bool SetFileAttributes(const char* path, uint32_t attributes) override;
  bool CreateDirectory(const char* path) override;
  bool DeleteFile(const char* path) override;
  std::unique_ptr<ReadableFile> OpenForRead(const char* path) override;
  std::unique_ptr<ReplacementFile> BeginReplacement(const char* path) override;
  void FindFiles(const char* pattern, std::vector<std::string>* names) override;
  FreeSpaceQuery DiskFreeSpaceEx(const char* root, uint64_t* freeToCaller, uint64_t* totalBytes,
                                 uint64_t* totalFree) override;
  bool DiskFreeSpace(const char* root, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector,
                     uint32_t* freeClusters, uint32_t* totalClusters) override;
  uint32_t DriveType(const char* root) override;
  void GetTempFolder(char out[260]) override;
  uint32_t ProcessId() override { return pid_; }
  bool ProcessIsAlive(uint32_t pid) override;
  ShellCopyResult ShellCopy(Window owner, const char* from, const char* to,
                            uint32_t flags) override;
  uint32_t ReadProfileString(const char* section, const char* key, const char* fallback,
                             char* buffer, uint32_t size, const char* path) override;
  std::unique_ptr<RegistryKey> OpenUserKey(const char* subkey) override;
  void InitializeCom() override { ++comInitialised; }
  bool FindOwnResource(const char* type, int name, const uint8_t** data,
                       uint32_t* size) override;
  int MessageBox(Window owner, const char* text, const char* caption, uint32_t style) override;
  Window FindWindow(const char* windowClass, const char* title) override;
  void ShowAndRaise(Window window) override;
  void SetWindowText(Window window, const char* text) override;
  void SetDlgItemText(Window dialog, int id, const char* text) override;
  void EnableDlgItem(Window dialog, int id, bool enable) override;
  void FocusDlgItem(Window dialog, int id) override;
  void EndDialog(Window dialog, intptr_t code) override;
  void SetCursor(Cursor cursor) override { cursor_ = cursor; }
  void PumpPendingMessages() override;
  intptr_t RunDialog(int templateId, DialogHandler& handler) override;
  bool FileSize(const char* path, uint64_t* size) override;
  void ShowProgressBar(Window dialog, bool show) override;
  void SetProgressBar(Window dialog, uint32_t position) override;
  void RemoveProgressBar(Window dialog) override;

 private:
  static char Upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
  HostDialog* DialogOf(Window window);

  struct Drive {
    std::string folder;
    uint32_t type;
  };
  std::map<char, Drive> drives_;
  std::map<char, uint64_t> freeSpace_;
  bool extendedQuery_ = true;
  std::optional<std::vector<uint32_t>> clusters_;
  int failWriteCountdown_ = 0;
  int failOperationCountdown_ = 0;
  std::vector<std::string> operations_;
  std::map<std::string, uint32_t> marks_;
  int writes_ = 0;
  std::string tempFolder_;
  uint32_t pid_ = 4242;
  std::map<std::pair<std::string, int>, std::vector<uint8_t>> resources_;
  // Keys and value names are compared without regard to ASCII case.
  std::map<std::string, std::map<std::string, std::vector<uint8_t>>> registry_;
  std::vector<std::string> keysOpened_;
  std::vector<std::string> profileReads_;
  std::vector<std::string> deletions_;
  std::vector<HostWindow> windows_;
  uintptr_t nextWindow_ = 0x1000;
  std::vector<BoxRecord> boxes_;
  std::vector<CopyRecord> copies_;
  HostDialog* dialog_ = nullptr;
  HostDialog lastDialog_;
  Cursor cursor_ = Cursor::Arrow;
};

// Host paths of Windows-style file times.
uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);
void UnixFromFileTime(uint64_t fileTime, int64_t* seconds, int64_t* nanoseconds);

// The host's INI reader, with GetPrivateProfileStringA's observable behaviour.
uint32_t ReadIniString(const std::string& hostPath, const char* section, const char* key,
                       const char* fallback, char* buffer, uint32_t size);

}  // namespace platform
