// The tools' file layer on Windows: the updater's platform with its file
// operations on UTF-8 paths through the wide API, so that qa2.exe reads and
// writes any name whatever the system's code page (the updater's own calls
// stay the ANSI ones).
#include <string>
#include <vector>

#include "platform/tool_support.h"
#include "platform/win32/win32_platform.h"

namespace platform {
namespace {

bool Wide(const char* utf8, std::wstring* out) {
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
  if (n <= 1) return false;
  out->assign(size_t(n), L'\0');
  if (!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &(*out)[0], n)) return false;
  out->resize(size_t(n - 1));
  return true;
}

bool LongWide(const char* utf8, std::wstring* out) { return LongWideOfUtf8(utf8, out); }
std::string Utf8(const wchar_t* wide) { return Utf8OfWide(wide); }

class ToolPlatform : public Platform {
 public:
  uint32_t GetFileAttributes(const char* path) override {
    std::wstring wide;
    return LongWide(path, &wide) ? GetFileAttributesW(wide.c_str()) : kInvalidAttributes;
  }
  bool SetFileAttributes(const char* path, uint32_t attributes) override {
    std::wstring wide;
    return LongWide(path, &wide) && SetFileAttributesW(wide.c_str(), attributes) != FALSE;
  }
  bool CreateDirectory(const char* path) override {
    std::wstring wide;
    return LongWide(path, &wide) && CreateDirectoryW(wide.c_str(), nullptr) != FALSE;
  }
  bool DeleteFile(const char* path) override {
    std::wstring wide;
    return LongWide(path, &wide) && DeleteFileW(wide.c_str()) != FALSE;
  }
  std::unique_ptr<ReadableFile> OpenForRead(const char* path) override {
    std::wstring wide;
    if (!LongWide(path, &wide)) return nullptr;
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return ReadableFileOf(h);
  }
  std::unique_ptr<ReplacementFile> BeginReplacement(const char* path) override {
    std::wstring wide;
    return LongWide(path, &wide) ? BeginWideReplacement(wide) : nullptr;
  }
  void FindFiles(const char* pattern, std::vector<std::string>* names) override {
    names->clear();
    std::wstring wide;
    if (!LongWide(pattern, &wide)) return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        names->push_back(Utf8(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }

  // Everything else is the updater's platform.
  FreeSpaceQuery DiskFreeSpaceEx(const char* root, uint64_t* freeToCaller, uint64_t* totalBytes,
                                 uint64_t* totalFree) override {
    return Win32().DiskFreeSpaceEx(root, freeToCaller, totalBytes, totalFree);
  }
  bool DiskFreeSpace(const char* root, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector,
                     uint32_t* freeClusters, uint32_t* totalClusters) override {
    return Win32().DiskFreeSpace(root, sectorsPerCluster, bytesPerSector, freeClusters,
                                 totalClusters);
  }
  uint32_t DriveType(const char* root) override { return Win32().DriveType(root); }
  void GetTempFolder(char out[260]) override { Win32().GetTempFolder(out); }
  uint32_t ProcessId() override { return Win32().ProcessId(); }
  bool ProcessIsAlive(uint32_t pid) override { return Win32().ProcessIsAlive(pid); }
  ShellCopyResult ShellCopy(Window owner, const char* from, const char* to,
                            uint32_t flags) override {
    return Win32().ShellCopy(owner, from, to, flags);
  }
  uint32_t ReadProfileString(const char* section, const char* key, const char* fallback,
                             char* buffer, uint32_t size, const char* path) override {
    return Win32().ReadProfileString(section, key, fallback, buffer, size, path);
  }
  std::unique_ptr<RegistryKey> OpenUserKey(const char* subkey) override {
    return Win32().OpenUserKey(subkey);
  }
  void InitializeCom() override { Win32().InitializeCom(); }
  bool FindOwnResource(const char* type, int name, const uint8_t** data,
                       uint32_t* size) override {
    return Win32().FindOwnResource(type, name, data, size);
  }
  int MessageBox(Window owner, const char* text, const char* caption, uint32_t style) override {
    return Win32().MessageBox(owner, text, caption, style);
  }
  Window FindWindow(const char* windowClass, const char* title) override {
    return Win32().FindWindow(windowClass, title);
  }
  void ShowAndRaise(Window window) override { Win32().ShowAndRaise(window); }
  void SetWindowText(Window window, const char* text) override {
    Win32().SetWindowText(window, text);
  }
  void SetDlgItemText(Window dialog, int id, const char* text) override {
    Win32().SetDlgItemText(dialog, id, text);
  }
  void EnableDlgItem(Window dialog, int id, bool enable) override {
    Win32().EnableDlgItem(dialog, id, enable);
  }
  void FocusDlgItem(Window dialog, int id) override { Win32().FocusDlgItem(dialog, id); }
  void EndDialog(Window dialog, intptr_t code) override { Win32().EndDialog(dialog, code); }
  void SetCursor(Cursor cursor) override { Win32().SetCursor(cursor); }
  void PumpPendingMessages() override { Win32().PumpPendingMessages(); }
  intptr_t RunDialog(int templateId, DialogHandler& handler) override {
    return Win32().RunDialog(templateId, handler);
  }
};

}  // namespace

bool LongWideOfUtf8(const char* utf8, std::wstring* out) {
  std::wstring wide;
  return Wide(utf8, &wide) && LongWidePath(wide, out);
}

std::string Utf8OfWide(const wchar_t* wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, &out[0], n, nullptr, nullptr);
  out.resize(size_t(n - 1));
  return out;
}

void UseToolFiles() {
  static ToolPlatform tool;
  SetOs(&tool);
}

}  // namespace platform
