// The real platform: the ANSI Win32 calls the updater is specified against.
#include "platform/win32/win32_platform.h"

#include <aclapi.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <cstring>
#include <string>

#include "platform/win32/background_writer.h"

namespace platform {

bool LongWidePath(const std::wstring& wide, std::wstring* out) {
  if (wide.empty()) return false;
  DWORD need = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (need == 0) return false;
  std::wstring full(need, L'\0');
  DWORD got = GetFullPathNameW(wide.c_str(), need, &full[0], nullptr);
  if (got == 0 || got >= need) return false;
  full.resize(got);
  if (full.compare(0, 4, L"\\\\?\\") == 0) *out = full;
  else if (full.compare(0, 2, L"\\\\") == 0) *out = L"\\\\?\\UNC\\" + full.substr(2);
  else *out = L"\\\\?\\" + full;
  return true;
}

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
  bool Seek(uint64_t offset) override {
    LONG high = LONG(offset >> 32);
    DWORD r = SetFilePointer(handle_.get(), LONG(uint32_t(offset)), &high, FILE_BEGIN);
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

// The full path of a code page 932 path in the wide form that passes
// MAX_PATH ("\\?\C:\..." or "\\?\UNC\server\..."): the files beside a
// destination of 259 bytes have longer names. The ANSI calls take the
// process's code page, so the conversion does too.
bool LongPath(const char* path, std::wstring* out) {
  int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (n <= 1) return false;
  std::wstring wide(size_t(n), L'\0');
  if (!MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, &wide[0], n)) return false;
  wide.resize(size_t(n - 1));
  return LongWidePath(wide, out);
}

bool SetTimesOf(HANDLE file, uint64_t time) {
  FILETIME ft = ToFileTime(time);
  return SetFileTime(file, &ft, &ft, &ft) != FALSE;
}

// A rename carries the new file's security descriptor to the name: the one
// it inherited from the folder. An explicit DACL that an installer put on the
// file it replaces (a save file players must write) goes onto the new file
// first; without one, or when that fails, the inherited one stays.
void KeepExplicitDacl(HANDLE file, const std::wstring& destination) {
  Handle target(CreateFileW(destination.c_str(), READ_CONTROL,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!target.valid()) return;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(target.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  bool explicitDacl = false;
  if (dacl && GetSecurityDescriptorControl(descriptor, &control, &revision)) {
    explicitDacl = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD i = 0; !explicitDacl && i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      explicitDacl = GetAce(dacl, i, &ace) &&
                     !(static_cast<ACE_HEADER*>(ace)->AceFlags & INHERITED_ACE);
    }
  }
  if (explicitDacl) {
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED)
                                         ? PROTECTED_DACL_SECURITY_INFORMATION
                                         : UNPROTECTED_DACL_SECURITY_INFORMATION);
    SetSecurityInfo(file, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
  }
  LocalFree(descriptor);
}

constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

class Win32Replacement : public ReplacementFile {
 public:
  Win32Replacement(HANDLE file, std::wstring temp, std::wstring destination, DWORD attributes)
      : file_(file), temp_(std::move(temp)), destination_(std::move(destination)),
        attributes_(attributes) {}
  ~Win32Replacement() override {
    Close();
    if (!placed_) DeleteFileW(temp_.c_str());
  }
  bool Write(const void* data, uint32_t size) override {
    if (file_ == INVALID_HANDLE_VALUE) return false;
    if (BackgroundWriter* writer = Writer()) return writer->Write(data, size);
    ++pieces_;
    DWORD written = 0;
    if (!WriteFile(file_, data, size, &written, nullptr) || written != size) return false;
    // Flushed as it goes: one flush of gigabytes before the rename would keep
    // the dialog from answering for seconds; one of kFlushStep takes a moment.
    unflushed_ += size;
    if (unflushed_ < kFlushStep) return true;
    unflushed_ = 0;
    return FlushFileBuffers(file_) != FALSE;
  }
  uint8_t* Lend(uint32_t before, uint32_t* room) override {
    if (file_ == INVALID_HANDLE_VALUE) return nullptr;
    BackgroundWriter* writer = Writer();
    *room = BackgroundWriter::kSlotSize;
    return writer ? writer->Lend(before) : nullptr;
  }
  bool WriteLent(uint32_t size) override {
    return file_ != INVALID_HANDLE_VALUE && writer_ && writer_->WriteLent(size);
  }
  bool Commit(const uint64_t* time) override {
    if (file_ == INVALID_HANDLE_VALUE) return false;
    bool ok = !writer_ || writer_->Finish();
    writer_.reset();
    ok = ok && (!time || SetTimesOf(file_, *time)) && FlushFileBuffers(file_);
    if (ok && attributes_ != INVALID_FILE_ATTRIBUTES &&
        !(attributes_ & FILE_ATTRIBUTE_REPARSE_POINT))
      KeepExplicitDacl(file_, destination_);
    if (!Close() || !ok) return false;
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    const bool hidden =
        attributes_ != INVALID_FILE_ATTRIBUTES &&
        (attributes_ & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
    if (!MoveFileExW(temp_.c_str(), destination_.c_str(), flags)) {
      // Some systems refuse to replace a hidden or system file by name.
      if (!hidden || !SetFileAttributesW(destination_.c_str(), FILE_ATTRIBUTE_NORMAL)) return false;
      if (!MoveFileExW(temp_.c_str(), destination_.c_str(), flags)) {
        SetFileAttributesW(destination_.c_str(), attributes_);
        return false;
      }
    }
    placed_ = true;
    if (time) {
      // The name may have brought back the replaced file's creation time.
      Handle placed(CreateFileW(destination_.c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!placed.valid() || !SetTimesOf(placed.get(), *time)) return false;
    }
    // The content is in place: a failure here loses only the attributes.
    if (hidden) SetFileAttributesW(destination_.c_str(), attributes_ & kKeptAttributes);
    return true;
  }

 private:
  static constexpr uint64_t kFlushStep = BackgroundWriter::kFlushStep;
  uint64_t unflushed_ = 0;
  int pieces_ = 0;  // written by the caller's thread
  bool writerTried_ = false;
  std::unique_ptr<BackgroundWriter> writer_;
  // From the second piece on, the disk works while the caller prepares the
  // next one; a file of one piece starts no thread.
  BackgroundWriter* Writer() {
    if (!writer_ && pieces_ > 0 && !writerTried_) {
      writerTried_ = true;
      // The flushes' handle is a duplicate, not a second open: the file stays
      // shared with nobody for writing.
      HANDLE self = GetCurrentProcess();
      if (!DuplicateHandle(self, file_, self, &flushFile_, 0, FALSE, DUPLICATE_SAME_ACCESS))
        flushFile_ = INVALID_HANDLE_VALUE;
      writer_ = BackgroundWriter::Start(file_, flushFile_);
    }
    return writer_.get();
  }
  bool Close() {
    writer_.reset();  // before the handles it writes to and flushes go
    if (flushFile_ != INVALID_HANDLE_VALUE) CloseHandle(flushFile_);
    flushFile_ = INVALID_HANDLE_VALUE;
    if (file_ == INVALID_HANDLE_VALUE) return true;
    bool ok = CloseHandle(file_) != FALSE;
    file_ = INVALID_HANDLE_VALUE;
    return ok;
  }
  HANDLE file_;
  HANDLE flushFile_ = INVALID_HANDLE_VALUE;
  std::wstring temp_, destination_;
  DWORD attributes_;
  bool placed_ = false;
};

std::string Narrow(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.resize(size_t(n - 1));
  return out;
}

// The progress bar's id and messages (commctrl.h's PBM_SETRANGE32, PBM_SETPOS).
constexpr int kProgressBarId = 1002;
constexpr UINT kSetRange32 = WM_USER + 6, kSetPos = WM_USER + 2;

// The common controls, loaded at run time from the system folder only: the
// updater runs elevated from a download folder, where a static import would
// find a planted comctl32.dll first. Without them there is no bar.
bool CommonControlsLoaded() {
  static int state = 0;  // 0 not tried, 1 loaded, 2 not to be had
  if (state != 0) return state == 1;
  state = 2;
  const DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  HMODULE library = LoadLibraryExA("comctl32.dll", nullptr, kSearchSystem32);
  if (!library) return false;
  struct InitCommonControlsExArgs {
    DWORD size, classes;
  } args = {sizeof args, 0x20 /* ICC_PROGRESS_CLASS */};
  typedef BOOL(WINAPI * InitProc)(const InitCommonControlsExArgs*);
  auto init = reinterpret_cast<InitProc>(reinterpret_cast<void*>(GetProcAddress(library, "InitCommonControlsEx")));
  if (init && init(&args)) state = 1;
  return state == 1;
}

// The running update dialog, whose keyboard messages the pump hands to it.
HWND runningDialog = nullptr;

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
      runningDialog = dialog;
      handler->OnInit(dialog);
      return 0;
    case WM_DESTROY:
      if (runningDialog == dialog) runningDialog = nullptr;
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

std::unique_ptr<ReadableFile> ReadableFileOf(HANDLE file) {
  return std::make_unique<Win32File>(file);
}

std::unique_ptr<ReplacementFile> BeginWideReplacement(const std::wstring& destination) {
  DWORD existing = GetFileAttributesW(destination.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES &&
      (existing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
    return nullptr;
  // Beside the destination, so that the final rename stays on one volume;
  // shared with nobody, so that no other process writes, deletes or renames
  // it while it is written.
  // Created new and never opened through a reparse point: a file or link
  // planted at this name makes the write fail instead of redirecting it.
  wchar_t suffix[24];
  swprintf(suffix, 24, L".~%lx.tmp", static_cast<unsigned long>(GetCurrentProcessId()));
  std::wstring temp = destination + suffix;
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE | WRITE_DAC, 0, nullptr,
                            CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32Replacement>(file, temp, destination, existing);
}

void PumpQueuedMessages() {
  // Bounded, so that a message that keeps coming back cannot hold the
  // update up; what is left waits for the next call.
  MSG msg;
  for (int n = 0; n < 256 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(int(msg.wParam));  // the modal loop must still see it
      return;
    }
    if (runningDialog && IsDialogMessageA(runningDialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

class Win32Platform : public Platform {
 public:
  uint32_t GetFileAttributes(const char* path) override { return GetFileAttributesA(path); }
  bool SetFileAttributes(const char* path, uint32_t attributes) override {
    return SetFileAttributesA(path, attributes) != FALSE;
  }
  bool CreateDirectory(const char* path) override {
    return CreateDirectoryA(path, nullptr) != FALSE;
  }
  bool DeleteFile(const char* path) override {
    if (std::strlen(path) < MAX_PATH) return DeleteFileA(path) != FALSE;
    std::wstring wide;
    return LongPath(path, &wide) && DeleteFileW(wide.c_str()) != FALSE;
  }

  std::unique_ptr<ReadableFile> OpenForRead(const char* path) override {
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return ReadableFileOf(h);
  }

  std::unique_ptr<ReplacementFile> BeginReplacement(const char* path) override {
    std::wstring destination;
    if (!LongPath(path, &destination)) return nullptr;
    return BeginWideReplacement(destination);
  }

  void FindFiles(const char* pattern, std::vector<std::string>* names) override {
    names->clear();
    std::wstring wide;
    if (!LongPath(pattern, &wide)) return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      names->push_back(Narrow(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
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
  bool ProcessIsAlive(uint32_t pid) override {
    // The limited right exists from Vista on; older systems know the full one.
    HANDLE process = OpenProcess(0x1000 /* PROCESS_QUERY_LIMITED_INFORMATION */, FALSE, pid);
    if (!process) process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;  // exists, not ours to see
    DWORD code = 0;
    bool alive = !GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
    CloseHandle(process);
    return alive;
  }

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
  void PumpPendingMessages() override {
    // Called between pieces of work, which at disk speed come every
    // millisecond or so: a look at the queue (a round trip to the server
    // under Wine) every few milliseconds answers the player as well.
    const DWORD now = GetTickCount();
    if (pumped_ && now - lastPump_ < kPumpInterval) return;
    pumped_ = true;
    lastPump_ = now;
    PumpQueuedMessages();
  }
  intptr_t RunDialog(int templateId, DialogHandler& handler) override {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), nullptr,
                           UpdateDialogProc, reinterpret_cast<LPARAM>(&handler));
  }
  void ShowProgressBar(Window dialog, bool show) override {
    HWND owner = static_cast<HWND>(dialog);
    HWND bar = GetDlgItem(owner, kProgressBarId);
    if (!bar) {
      if (!show || !CommonControlsLoaded()) return;
      // Between the information text and the buttons, in the template's units.
      RECT at = {16, 50, 16 + 214, 50 + 10};
      MapDialogRect(owner, &at);
      bar = CreateWindowExA(0, "msctls_progress32", "", WS_CHILD, at.left, at.top, at.right - at.left,
                            at.bottom - at.top, owner, reinterpret_cast<HMENU>(INT_PTR(kProgressBarId)),
                            GetModuleHandleA(nullptr), nullptr);
      if (!bar) return;
      SendMessageA(bar, kSetRange32, 0, LPARAM(kProgressRange));
    }
    ShowWindow(bar, show ? SW_SHOWNA : SW_HIDE);
  }
  void SetProgressBar(Window dialog, uint32_t position) override {
    // Four moves a second read as steady progress; one per piece made Wine
    // repaint a thousand times per GB (1.3 s of a 1 GB update). The end is
    // always shown.
    const DWORD now = GetTickCount();
    if (position < kProgressRange && barMoved_ && now - lastBarMove_ < kBarInterval) return;
    if (HWND bar = GetDlgItem(static_cast<HWND>(dialog), kProgressBarId)) {
      SendMessageA(bar, kSetPos, WPARAM(position), 0);
      barMoved_ = true;
      lastBarMove_ = now;
    }
  }
  void RemoveProgressBar(Window dialog) override {
    if (HWND bar = GetDlgItem(static_cast<HWND>(dialog), kProgressBarId)) DestroyWindow(bar);
  }
  bool FileSize(const char* path, uint64_t* size) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    BOOL found;
    if (std::strlen(path) < MAX_PATH) {
      found = GetFileAttributesExA(path, GetFileExInfoStandard, &data);
    } else {
      std::wstring wide;
      found = LongPath(path, &wide) && GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data);
    }
    if (!found || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    *size = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    return true;
  }

 private:
  static constexpr DWORD kPumpInterval = 5;  // ms
  static constexpr DWORD kBarInterval = 250;  // ms
  bool barMoved_ = false;
  DWORD lastBarMove_ = 0;
  bool pumped_ = false;
  DWORD lastPump_ = 0;
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
