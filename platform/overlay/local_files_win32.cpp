#include <windows.h>

#include "platform/overlay/local_files.h"

namespace platform {
namespace local {
namespace {

// UTF-8 to UTF-16, absolute and in the "\\?\" form so that paths past
// MAX_PATH work (a share's "\\server" keeps its form).
std::wstring Wide(const std::string& path) {
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), int(path.size()), nullptr, 0);
  if (n <= 0 && !path.empty()) return std::wstring();
  std::wstring wide(size_t(n), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), int(path.size()), &wide[0], n);
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  if (wide.compare(0, 4, L"\\\\?\\") == 0 || wide.compare(0, 2, L"\\\\") == 0) return wide;
  DWORD need = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (need == 0) return wide;
  std::wstring full(need, L'\0');
  DWORD got = GetFullPathNameW(wide.c_str(), need, &full[0], nullptr);
  full.resize(got);
  return L"\\\\?\\" + full;
}

std::string Narrow(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(size_t(n - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  return out;
}

class Win32Reader : public ReadableFile {
 public:
  Win32Reader(HANDLE file, uint64_t size, uint64_t time) : file_(file), size_(size), time_(time) {}
  ~Win32Reader() override { CloseHandle(file_); }
  Win32Reader(const Win32Reader&) = delete;
  Win32Reader& operator=(const Win32Reader&) = delete;
  bool Read(void* buffer, uint32_t size, uint32_t* got) override {
    DWORD n = 0;
    BOOL ok = ReadFile(file_, buffer, size, &n, nullptr);
    *got = n;
    return ok != FALSE;
  }
  bool Seek(uint64_t offset) override {
    LARGE_INTEGER to;
    to.QuadPart = offset;
    return SetFilePointerEx(file_, to, nullptr, FILE_BEGIN) != FALSE;
  }
  bool Size(uint64_t* size) override {
    *size = size_;
    return true;
  }
  bool LastWriteTime(uint64_t* time) override {
    *time = time_;
    return true;
  }

 private:
  HANDLE file_;
  uint64_t size_, time_;
};

}  // namespace

bool StatPath(const std::string& path, Stat* stat, bool follow) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  std::wstring wide = Wide(path);
  if (wide.empty() || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return false;
  stat->exists = true;
  stat->folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  stat->readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  stat->size = stat->folder ? 0 : (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stat->time = (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  if (!follow && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    stat->other = "a link (a reparse point)";
  return true;
}

bool ListFolder(const std::string& folder, std::vector<std::string>* names) {
  std::wstring pattern = Wide(folder);
  if (pattern.empty()) return false;
  pattern += pattern.back() == L'\\' ? L"*" : L"\\*";
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(pattern.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0)
      names->push_back(Narrow(found.cFileName));
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return true;
}

std::unique_ptr<ReadableFile> OpenRead(const std::string& path, uint64_t size, uint64_t time) {
  std::wstring wide = Wide(path);
  if (wide.empty()) return nullptr;
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32Reader>(file, size, time);
}

uint64_t FreeSpace(const std::string& folder) {
  std::wstring wide = Wide(folder);
  if (!wide.empty() && wide.back() != L'\\') wide += L'\\';
  ULARGE_INTEGER free;
  if (wide.empty() || !GetDiskFreeSpaceExW(wide.c_str(), &free, nullptr, nullptr)) return 0;
  return free.QuadPart;
}

}  // namespace local
}  // namespace platform
