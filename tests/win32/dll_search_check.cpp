// The planted DLL beside this program loads by name before the search is
// restricted, and no longer after: the restriction is what keeps a download
// folder's DLLs out of the elevated updater.
#include <cstdio>

#include "platform/win32/win32_platform.h"

namespace {

bool LoadsPlanted() {
  HMODULE planted = LoadLibraryA("qa_planted.dll");
  if (!planted) return false;
  FreeLibrary(planted);
  return true;
}

}  // namespace

int main() {
  int passed = 0, failed = 0;
  auto check = [&](bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    ok ? ++passed : ++failed;
  };
  check(LoadsPlanted(), "the planted DLL loads from the program's folder by default");
  platform::RestrictDllSearchToSystem();
  check(!LoadsPlanted(), "the planted DLL does not load once the search is restricted");
  check(LoadLibraryA("version.dll") != nullptr, "a system DLL still loads by name");
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}
