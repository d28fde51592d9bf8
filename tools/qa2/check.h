// Checking an update folder (UPDATE.INI and the files beside it) the way the
// updater will read it: `qa2 check`, and the first step of `qa2 build`.
#pragma once

#include <cstdio>
#include <string>

namespace qa2 {

struct CheckSummary {
  int errors = 0;
  int warnings = 0;
};

// Checks the update folder `dir`. Each finding is printed to `out` as
// "UPDATE.INI:LINE: error|warning: ..." (or "NAME: ..." for a folder file).
CheckSummary CheckUpdateFolder(const std::string& dir, FILE* out);

}  // namespace qa2
