#include <windows.h>

#include "platform/system_names.h"

namespace platform {

void SystemNameAnswer(const std::string& path, std::string* kind, std::string* name) {
  *kind = "absent";
  name->clear();
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  *kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? "folder" : "file";
  // A search for a name ending in a separator finds nothing; only the
  // attributes tell.
  if (!path.empty() && (path.back() == '\\' || path.back() == '/')) return;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  *name = found.cFileName;
  FindClose(search);
}

bool SystemNamesEqual(const std::string& a, const std::string& b) {
  return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

}  // namespace platform
