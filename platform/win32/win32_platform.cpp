// The real platform: the ANSI Win32 calls the updater is specified against.
#include "platform/win32/win32_platform.h"

#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace platform {
namespace {

uint64_t FromFileTime(const FILETIME& ft) {
  return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
FILETIME ToFileTime(uint64_t t) {
  FILETIME ft;
  ft.dwLowDateTime = DWORD(t);
  ft.dwHighDateTime = DWORD(t >> 32);
  return ft;
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) CloseHandle(h_);
  }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

class Win32File : public ReadableFile {
 public:
  explicit Win32File(HANDLE h) : handle_(h) {}
  bool Read(void* buffer, uint32_t size, uint32_t* got) override {
    DWORD n = 0;
    BOOL ok = ReadFile(handle_.get(), buffer, size, &n, nullptr);
    *got = n;
    return ok != FALSE;
  }
  bool Seek(uint32_t offset) override {
    // Offsets past 2 GiB are unsigned here; the high half stays zero.
    LONG high = 0;
    DWORD r = SetFilePointer(handle_.get(), LONG(offset), &high, FILE_BEGIN);
    return !(r == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
  }
  bool Size(uint64_t* size) override {
    DWORD high = 0;
    DWORD low = GetFileSize(handle_.get(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    *size = (uint64_t(high) << 32) | low;
    return true;
  }
  bool LastWriteTime(uint64_t* time) override {
    FILETIME write;
    if (!GetFileTime(handle_.get(), nullptr, nullptr, &write)) return false;
    *time = FromFileTime(write);
    return true;
  }

 private:
  Handle handle_;
};

class Win32Key : public RegistryKey {
 public:
  explicit Win32Key(HKEY key) : key_(key) {}
  ~Win32Key() override { RegCloseKey(key_); }
  long QueryValue(const char* name, void* data, uint32_t* size) override {
    DWORD n = *size;
    LONG r = RegQueryValueExA(key_, name, nullptr, nullptr, static_cast<BYTE*>(data), &n);
    *size = n;
    return r;
  }

 private:
  HKEY key_;
};

typedef BOOL(WINAPI* FreeSpaceExProc)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                      PULARGE_INTEGER);

// The update dialog's procedure: a thin adapter over the portable handler.
INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  DialogHandler* handler =
      reinterpret_cast<DialogHandler*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      handler = reinterpret_cast<DialogHandler*>(lParam);
      SetWindowLongPtrA(dialog, DWLP_USER, LONG_PTR(handler));
      handler->OnInit(dialog);
      return 0;
    case WM_COMMAND:
      if (handler) handler->OnCommand(dialog, uintptr_t(wParam));
      return 0;
    case WM_SETCURSOR:
      if (handler && handler->OnSetCursor(dialog)) {
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
        return 1;
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace

class Win32Platform : public Platform {
 public:
  uint32_t GetFileAttributes(const char* path) override { return GetFileAttributesA(path); }
  bool SetFileAttributes(const char* path, uint32_t attributes) override {
    return SetFileAttributesA(path, attributes) != FALSE;
  }
  bool CreateDirectory(const char* path) override {
    return CreateDirectoryA(path, nullptr) != FALSE;
  }
  bool DeleteFile(const char* path) override { return DeleteFileA(path) != FALSE; }

  std::unique_ptr<ReadableFile> OpenForRead(const char* path) override {
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32File>(h);
  }

  bool WriteFileReplacing(const char* path, const void* data, uint32_t size,
                          const uint64_t* time) override {
    DWORD existing = GetFileAttributesA(path);
    if (existing != INVALID_FILE_ATTRIBUTES &&
        (existing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
      return false;
    // Beside the destination, so that the final rename stays on one volume.
    char temp[MAX_PATH + 32];
    int n = std::snprintf(temp, sizeof temp, "%s.~%lx.tmp", path, GetCurrentProcessId());
    if (n < 0 || n >= MAX_PATH) return false;
    bool ok;
    {
      Handle file(CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.valid()) return false;
      DWORD written = 0;
      ok = WriteFile(file.get(), data, size, &written, nullptr) && written == size;
      if (ok && time) {
        FILETIME ft = ToFileTime(*time);
        ok = SetFileTime(file.get(), &ft, &ft, &ft) != FALSE;
      }
      if (ok) ok = FlushFileBuffers(file.get()) != FALSE;
    }
    if (ok) ok = MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    if (!ok) DeleteFileA(temp);
    return ok;
  }

  FreeSpaceQuery DiskFreeSpaceEx(const char* root, uint64_t* freeToCaller, uint64_t* totalBytes,
                                 uint64_t* totalFree) override {
    // Looked up until found once; then kept for the rest of the process.
    static FreeSpaceExProc query = nullptr;
    if (query == nullptr) {
      HMODULE kernel = LoadLibraryA("kernel32.dll");
      if (kernel) {
        query = reinterpret_cast<FreeSpaceExProc>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "GetDiskFreeSpaceExA")));
        FreeLibrary(kernel);  // kernel32 stays loaded for the process anyway
      }
    }
    if (query == nullptr) return FreeSpaceQuery::Unavailable;
    ULARGE_INTEGER a, b, c;
    if (!query(root, &a, &b, &c)) return FreeSpaceQuery::Failed;
    *freeToCaller = a.QuadPart;
    *totalBytes = b.QuadPart;
    *totalFree = c.QuadPart;
    return FreeSpaceQuery::Ok;
  }

  bool DiskFreeSpace(const char* root, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector,
                     uint32_t* freeClusters, uint32_t* totalClusters) override {
    DWORD a, b, c, d;
    if (!GetDiskFreeSpaceA(root, &a, &b, &c, &d)) return false;
    *sectorsPerCluster = a;
    *bytesPerSector = b;
    *freeClusters = c;
    *totalClusters = d;
    return true;
  }

  uint32_t DriveType(const char* root) override {
    // GetDriveTypeA wants the root folder; "Q:" alone names the current
    // folder of that drive, which answers the same.
    char path[4] = {root[0], root[1], '\\', '\0'};
    return GetDriveTypeA(path);
  }

  void GetTempFolder(char out[260]) override { GetTempPathA(260, out); }
  uint32_t ProcessId() override { return GetCurrentProcessId(); }

  ShellCopyResult ShellCopy(Window owner, const char* from, const char* to,
                            uint32_t flags) override {
    // Both names are double-zero-terminated lists of one name.
    std::string source(from), target(to);
    source.push_back('\0');
    target.push_back('\0');
    SHFILEOPSTRUCTA op;
    std::memset(&op, 0, sizeof op);
    op.hwnd = static_cast<HWND>(owner);
    op.wFunc = FO_COPY;
    op.pFrom = source.c_str();
    op.pTo = target.c_str();
    op.fFlags = FILEOP_FLAGS(flags);
    ShellCopyResult result;
    result.result = SHFileOperationA(&op);
    result.aborted = op.fAnyOperationsAborted != FALSE;
    return result;
  }

  uint32_t ReadProfileString(const char* section, const char* key, const char* fallback,
                             char* buffer, uint32_t size, const char* path) override {
    return GetPrivateProfileStringA(section, key, fallback, buffer, size, path);
  }

  std::unique_ptr<RegistryKey> OpenUserKey(const char* subkey) override {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return nullptr;
    return std::make_unique<Win32Key>(key);
  }

  void InitializeCom() override { (void)CoInitialize(nullptr); }

  bool FindOwnResource(const char* type, int name, const uint8_t** data,
                       uint32_t* size) override {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(name), type);
    if (!info) return false;
    DWORD bytes = SizeofResource(module, info);
    if (!bytes) return false;
    HGLOBAL loaded = LoadResource(module, info);
    if (!loaded) return false;
    const void* locked = LockResource(loaded);
    if (!locked) return false;
    *data = static_cast<const uint8_t*>(locked);
    *size = bytes;
    return true;
  }

  int MessageBox(Window owner, const char* text, const char* caption, uint32_t style) override {
    return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
  }
  Window FindWindow(const char* windowClass, const char* title) override {
    // WC_DIALOG is the atom 32770.
    return FindWindowA(windowClass ? windowClass : MAKEINTRESOURCEA(32770), title);
  }
  void ShowAndRaise(Window window) override {
    ShowWindow(static_cast<HWND>(window), SW_SHOW);
    SetForegroundWindow(static_cast<HWND>(window));
  }
  void SetWindowText(Window window, const char* text) override {
    SetWindowTextA(static_cast<HWND>(window), text);
  }
  void SetDlgItemText(Window dialog, int id, const char* text) override {
    SetDlgItemTextA(static_cast<HWND>(dialog), id, text);
  }
  void EnableDlgItem(Window dialog, int id, bool enable) override {
    EnableWindow(GetDlgItem(static_cast<HWND>(dialog), id), enable ? TRUE : FALSE);
  }
  void FocusDlgItem(Window dialog, int id) override {
    SetFocus(GetDlgItem(static_cast<HWND>(dialog), id));
  }
  void EndDialog(Window dialog, intptr_t code) override {
    ::EndDialog(static_cast<HWND>(dialog), code);
  }
  void SetCursor(Cursor cursor) override {
    ::SetCursor(LoadCursorA(nullptr, cursor == Cursor::Wait ? IDC_WAIT : IDC_ARROW));
  }
  intptr_t RunDialog(int templateId, DialogHandler& handler) override {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), nullptr,
                           UpdateDialogProc, reinterpret_cast<LPARAM>(&handler));
  }
};

Platform& Win32() {
  static Win32Platform instance;
  return instance;
}

namespace {
Platform* current = nullptr;
}

Platform& Os() { return current ? *current : Win32(); }
void SetOs(Platform* platform) { current = platform; }

}  // namespace platform
