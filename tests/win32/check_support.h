// What the Win32 check programs share: a line per check and a count of
// failures, and a file's whole content.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace win32_check {

inline int passed = 0, failed = 0;

inline void Check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  ok ? ++passed : ++failed;
}

// "<none>" when the file cannot be opened.
inline std::string ReadAll(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<none>";
  std::string out;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  CloseHandle(h);
  return out;
}

// The summary line; the program's exit code.
inline int Finish() {
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}

}  // namespace win32_check
