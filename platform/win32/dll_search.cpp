#include "platform/win32/win32_platform.h"

namespace platform {

void RestrictDllSearchToSystem() {
  // Looked up by name: systems before the loader update that brought it lack
  // the export, and the program must still start there.
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesProc)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesProc>(reinterpret_cast<void*>(
                                 GetProcAddress(kernel, "SetDefaultDllDirectories")))
                           : nullptr;
  const DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  if (setDefault && setDefault(kSearchSystem32)) return;
  // Drops at least the current folder from the search.
  SetDllDirectoryA("");
}

}  // namespace platform
