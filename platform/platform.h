// The operating system as the updater sees it: one narrow interface with a
// Win32 implementation (platform/win32) and a host one (platform/host: real
// POSIX files, scripted boxes, windows, registry and drives).
//
// Paths and texts are zero-terminated code page 932 byte strings, paths with
// the backslash as separator. Operations mirror the Win32 calls the updater is
// specified against; each comment says what the callers rely on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// HWND in the Win32 build; an opaque token in the host build. nullptr is "none".
using Window = void*;

constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrNormal = 0x80;

constexpr uint32_t kDriveCdRom = 5;  // GetDriveTypeA's DRIVE_CDROM

// MessageBoxA styles and answers.
constexpr uint32_t kBoxOk = 0x00;
constexpr uint32_t kBoxOkCancel = 0x01;
constexpr uint32_t kBoxIconError = 0x10;
constexpr int kAnswerOk = 1;
constexpr int kAnswerCancel = 2;

// SHFileOperationA flags the updater uses.
constexpr uint32_t kCopyNoConfirmation = 0x10;
constexpr uint32_t kCopyNoConfirmMkdir = 0x200;
constexpr uint32_t kCopyNoErrorUi = 0x400;

enum class Cursor { Arrow, Wait };

// An open file, read only. Closed when destroyed.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Reads up to `size` bytes; *got receives the count. False on a failed read.
  virtual bool Read(void* buffer, uint32_t size, uint32_t* got) = 0;
  // Moves the position to `offset` from the start.
  virtual bool Seek(uint64_t offset) = 0;
  virtual bool Size(uint64_t* size) = 0;
  // Last-write time as a 64-bit file time.
  virtual bool LastWriteTime(uint64_t* time) = 0;
};

// The new content of a file, written beside it (as "<path>.~<pid in
// hex>.tmp", created new, never through a link, opened without sharing) and
// put in its place only by Commit, which replaces a link at <path> itself.
// Destroyed uncommitted, it removes what it wrote and leaves the old file
// as it was.
class ReplacementFile {
 public:
  virtual ~ReplacementFile() = default;
  // Appends `size` bytes. False on a failed or short write.
  virtual bool Write(const void* data, uint32_t size) = 0;
  // A buffer of the file's own to make the next piece in, so that the piece
  // goes to the disk without a copy: *room bytes from the pointer, and
  // `before` bytes before it that the caller may use as it likes. nullptr
  // when the file lends none; the caller then hands its pieces to Write.
  // The same buffer until WriteLent or Write takes it.
  virtual uint8_t* Lend(uint32_t before, uint32_t* room) {
    (void)before;
    (void)room;
    return nullptr;
  }
  // Appends the first `size` bytes of the lent buffer, as Write does. They
  // stay readable and unchanged while the caller fills the next buffer.
  virtual bool WriteLent(uint32_t size) {
    (void)size;
    return false;
  }
  // Sets all three file times to *time when given, then replaces the file
  // with the content written, keeping its hidden and system attributes; the
  // times are set again once it is in place, so that no earlier file's
  // creation time comes back through the name. False when any step fails
  // but the restoring of hidden and system (the content is in place then);
  // the old content is still in place when the replacement itself failed.
  // Called once.
  virtual bool Commit(const uint64_t* time) = 0;
};

// An open registry key. Closed when destroyed.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // RegQueryValueExA with no type requested: *size goes in as the room in
  // `data` and comes out as the value's size. 0 means success; a value larger
  // than the room fails without copying.
  virtual long QueryValue(const char* name, void* data, uint32_t* size) = 0;
};

struct ShellCopyResult {
  int result = 0;        // SHFileOperationA's result: 0 for success
  bool aborted = false;  // fAnyOperationsAborted
};

// What a dialog's window procedure forwards to the portable dialog logic.
class DialogHandler {
 public:
  virtual ~DialogHandler() = default;
  virtual void OnInit(Window dialog) = 0;
  // The whole command word parameter (id in the low half, notification code
  // in the high half).
  virtual void OnCommand(Window dialog, uintptr_t command) = 0;
  // True when the handler has set the cursor and the system must not.
  virtual bool OnSetCursor(Window dialog) = 0;
};

enum class FreeSpaceQuery { Unavailable, Failed, Ok };

class Platform {
 public:
  virtual ~Platform() = default;

  // --- files and folders
  virtual uint32_t GetFileAttributes(const char* path) = 0;
  virtual bool SetFileAttributes(const char* path, uint32_t attributes) = 0;
  virtual bool CreateDirectory(const char* path) = 0;
  // Also for paths longer than 259 bytes (the files beside a destination).
  virtual bool DeleteFile(const char* path) = 0;
  // Opens an existing file for reading, sharing reads. nullptr on failure.
  virtual std::unique_ptr<ReadableFile> OpenForRead(const char* path) = 0;
  // The size of the file at `path`, looked up without opening it (a game
  // that holds it open does not stand in the way). False for none.
  virtual bool FileSize(const char* path, uint64_t* size) {
    std::unique_ptr<ReadableFile> file = OpenForRead(path);
    return file && file->Size(size);
  }
  // Starts replacing the content of `path` (which need not exist). nullptr
  // when the file beside it cannot be created (something already has its
  // name), or when `path` is a folder or read-only: such a destination is
  // not replaced. Works for every path of
  // up to 259 bytes, although the file beside it has a longer name.
  virtual std::unique_ptr<ReplacementFile> BeginReplacement(const char* path) = 0;
  // The whole new content in one piece, as BeginReplacement, Write, Commit.
  bool WriteFileReplacing(const char* path, const void* data, uint32_t size,
                          const uint64_t* time) {
    std::unique_ptr<ReplacementFile> file = BeginReplacement(path);
    return file && file->Write(data, size) && file->Commit(time);
  }
  // The names (without folder) of the files matching `pattern`, a path whose
  // last component may hold '*' wildcards. Paths may be longer than 259 bytes.
  virtual void FindFiles(const char* pattern, std::vector<std::string>* names) = 0;

  // --- disks and drives
  // GetDiskFreeSpaceExA, looked up at run time: Unavailable when the system
  // lacks it.
  virtual FreeSpaceQuery DiskFreeSpaceEx(const char* root, uint64_t* freeToCaller,
                                         uint64_t* totalBytes, uint64_t* totalFree) = 0;
  // GetDiskFreeSpaceA.
  virtual bool DiskFreeSpace(const char* root, uint32_t* sectorsPerCluster,
                             uint32_t* bytesPerSector, uint32_t* freeClusters,
                             uint32_t* totalClusters) = 0;
  // GetDriveTypeA for a root such as "Q:".
  virtual uint32_t DriveType(const char* root) = 0;
  // GetTempPathA into a 260-byte buffer (may leave it empty).
  virtual void GetTempFolder(char out[260]) = 0;
  virtual uint32_t ProcessId() = 0;
  // Whether a process of that id runs. An id that exists but cannot be
  // examined counts as running.
  virtual bool ProcessIsAlive(uint32_t pid) = 0;
  // SHFileOperationA, FO_COPY of one name to one name.
  virtual ShellCopyResult ShellCopy(Window owner, const char* from, const char* to,
                                    uint32_t flags) = 0;

  // --- settings and registry
  // GetPrivateProfileStringA: copies the value (or `fallback`) cut to size-1
  // bytes and zero-terminated; returns the bytes copied without the zero.
  virtual uint32_t ReadProfileString(const char* section, const char* key,
                                     const char* fallback, char* buffer, uint32_t size,
                                     const char* path) = 0;
  // RegOpenKeyExA(HKEY_CURRENT_USER, subkey, KEY_READ). nullptr on failure.
  virtual std::unique_ptr<RegistryKey> OpenUserKey(const char* subkey) = 0;

  // --- process and resources
  virtual void InitializeCom() = 0;
  // FindResourceA/SizeofResource/LoadResource/LockResource on the own module;
  // false when any step yields nothing (or the resource is empty).
  virtual bool FindOwnResource(const char* type, int name, const uint8_t** data,
                               uint32_t* size) = 0;

  // --- windows and boxes
  virtual int MessageBox(Window owner, const char* text, const char* caption,
                         uint32_t style) = 0;
  // FindWindowA; a null `windowClass` stands for the system's dialog class.
  virtual Window FindWindow(const char* windowClass, const char* title) = 0;
  // ShowWindow(SW_SHOW) then SetForegroundWindow.
  virtual void ShowAndRaise(Window window) = 0;
  virtual void SetWindowText(Window window, const char* text) = 0;
  virtual void SetDlgItemText(Window dialog, int id, const char* text) = 0;
  virtual void EnableDlgItem(Window dialog, int id, bool enable) = 0;
  virtual void FocusDlgItem(Window dialog, int id) = 0;
  virtual void EndDialog(Window dialog, intptr_t code) = 0;
  virtual void SetCursor(Cursor cursor) = 0;
  // Handles the messages already waiting for this thread (paints, the
  // system's pings, clicks that the busy dialog ignores) and returns without
  // waiting. A quit request is left queued for the modal loop.
  virtual void PumpPendingMessages() = 0;
  // DialogBoxParamA(instance, templateId, no owner, proc, 0); the proc
  // forwards to `handler`. Returns the end code, or -1 when the dialog cannot
  // be created.
  virtual intptr_t RunDialog(int templateId, DialogHandler& handler) = 0;

  // --- the dialog's progress bar: a standard one made at run time between
  // the information text and the buttons; none where the system's library
  // cannot be loaded, and none on platforms without windows.
  // Shows it (made at 0 the first time) or hides it.
  virtual void ShowProgressBar(Window dialog, bool show) {
    (void)dialog;
    (void)show;
  }
  // Moves it to `position`, 0 to kProgressRange.
  virtual void SetProgressBar(Window dialog, uint32_t position) {
    (void)dialog;
    (void)position;
  }
  // Destroys it; the next ShowProgressBar makes a new one.
  virtual void RemoveProgressBar(Window dialog) { (void)dialog; }
};

constexpr uint32_t kProgressRange = 65535;

// The process's platform. The Win32 build starts with the real one, the host
// build with the host one; tests may swap in their own.
Platform& Os();
// Installs `platform` (not owned) as Os(); nullptr restores the default.
void SetOs(Platform* platform);

}  // namespace platform
