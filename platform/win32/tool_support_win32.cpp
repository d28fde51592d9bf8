#include <windows.h>
#include <shellapi.h>

#include "platform/tool_support.h"

namespace platform {
namespace {

std::wstring Widen(UINT codePage, DWORD flags, const std::string& text, bool* ok) {
  *ok = true;
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(codePage, flags, text.data(), int(text.size()), nullptr, 0);
  if (n <= 0) {
    *ok = false;
    return std::wstring();
  }
  std::wstring wide(size_t(n), L'\0');
  MultiByteToWideChar(codePage, flags, text.data(), int(text.size()), &wide[0], n);
  return wide;
}

// usedDefault: whether some character had no form (not asked for UTF-8,
// which has one for every character).
std::string Narrow(UINT codePage, DWORD flags, const std::wstring& wide, BOOL* usedDefault) {
  if (wide.empty()) return std::string();
  int n = WideCharToMultiByte(codePage, flags, wide.data(), int(wide.size()), nullptr, 0, nullptr,
                              usedDefault);
  if (n <= 0) return std::string();
  std::string text(size_t(n), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), int(wide.size()), &text[0], n, nullptr, usedDefault);
  return text;
}

}  // namespace

bool Utf8ToCp932(const std::string& text, std::string* out) {
  bool ok = false;
  std::wstring wide = Widen(CP_UTF8, MB_ERR_INVALID_CHARS, text, &ok);
  if (!ok) return false;
  BOOL usedDefault = FALSE;
  std::string result = Narrow(932, WC_NO_BEST_FIT_CHARS, wide, &usedDefault);
  if (usedDefault || (result.empty() && !wide.empty())) return false;
  *out = result;
  return true;
}

std::string Cp932ToUtf8(const std::string& text) {
  bool ok = false;
  std::wstring wide = Widen(932, 0, text, &ok);
  return ok ? Narrow(CP_UTF8, 0, wide, nullptr) : text;
}

std::vector<std::string> ToolArguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 0; i < count; ++i) args.push_back(Narrow(CP_UTF8, 0, wide[i], nullptr));
  LocalFree(wide);
  return args;
}

bool FileTimeOfPath(const std::string& utf8Path, uint64_t* fileTime) {
  bool ok = false;
  std::wstring wide = Widen(CP_UTF8, MB_ERR_INVALID_CHARS, utf8Path, &ok);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!ok || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return false;
  *fileTime = (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  return true;
}

namespace {

std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring wide = n && text ? std::wstring(text, n) : std::wstring();
  if (text) LocalFree(text);
  while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'.'))
    wide.pop_back();
  std::string message = Narrow(CP_UTF8, 0, wide, nullptr);
  return message.empty() ? "system error " + std::to_string(code) : message;
}

}  // namespace

std::string LastErrorText() { return SystemMessage(GetLastError()); }

MappedFile::~MappedFile() { Close(); }

void MappedFile::Close() {
  if (view_) UnmapViewOfFile(view_);
  view_ = nullptr;
  data_ = nullptr;
  size_ = 0;
}

bool MappedFile::Open(const std::string& utf8Path, std::string* error) {
  Close();
  static const uint8_t kEmpty[1] = {0};
  bool ok = false;
  std::wstring wide = Widen(CP_UTF8, MB_ERR_INVALID_CHARS, utf8Path, &ok);
  if (!ok) {
    *error = "the name is not UTF-8";
    return false;
  }
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = SystemMessage(GetLastError());
    return false;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) {
    *error = SystemMessage(GetLastError());
    CloseHandle(file);
    return false;
  }
  if (size.QuadPart == 0) {
    CloseHandle(file);
    data_ = kEmpty;
    return true;
  }
  if (uint64_t(size.QuadPart) > SIZE_MAX) {
    CloseHandle(file);
    *error = "too large to map in a 32-bit process";
    return false;
  }
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  DWORD mapError = GetLastError();
  CloseHandle(file);
  if (!mapping) {
    *error = SystemMessage(mapError);
    return false;
  }
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  mapError = GetLastError();
  CloseHandle(mapping);  // the view keeps the mapping
  if (!view) {
    *error = SystemMessage(mapError);
    return false;
  }
  view_ = view;
  data_ = static_cast<const uint8_t*>(view);
  size_ = uint64_t(size.QuadPart);
  return true;
}

}  // namespace platform
