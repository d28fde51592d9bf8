// Windows' own answers on names, for the name stage's probe: what a path
// resolves to and whether two member names are one. Win32 only.
#pragma once

#include <string>

namespace platform {

// GetFileAttributesA, then FindFirstFileA for the name the entry has on
// disk: *kind "absent", "file" or "folder"; *name empty when the search
// finds nothing (a path ending in a separator).
void SystemNameAnswer(const std::string& path, std::string* kind, std::string* name);

// lstrcmpiA(a, b) == 0.
bool SystemNamesEqual(const std::string& a, const std::string& b);

}  // namespace platform
