// The planted DLL beside this program loads by name before the search is
// restricted, and no longer after: the restriction is what keeps a download
// folder's DLLs out of the elevated updater.
#include "platform/win32/win32_platform.h"
#include "tests/win32/check_support.h"

namespace {

bool LoadsPlanted() {
  HMODULE planted = LoadLibraryA("qa_planted.dll");
  if (!planted) return false;
  FreeLibrary(planted);
  return true;
}

}  // namespace

int main() {
  using win32_check::Check;
  Check(LoadsPlanted(), "the planted DLL loads from the program's folder by default");
  platform::RestrictDllSearchToSystem();
  Check(!LoadsPlanted(), "the planted DLL does not load once the search is restricted");
  Check(LoadLibraryA("version.dll") != nullptr, "a system DLL still loads by name");
  return win32_check::Finish();
}
