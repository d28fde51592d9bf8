// Checking an update folder against the installation it is meant for: what
// start-up looks the game up by, and what each entry will meet there.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tools/qa2/check.h"

namespace qa2 {

struct InstallMatchOptions {
  std::optional<int> mode;  // none: every install mode
  std::string instPath;     // the installation's Windows path (code page 932); empty: unknown
  std::string dataFolder;   // the local folder DataPath stands for; empty: unknown
  std::vector<std::string> bases;  // earlier versions an update is built against (qa2 build --base)
};

// Reports, as "FILE:LINE: error|note: ...", a CompanyName or GameDir that is
// not the installation's (the updater then finds no game), an entry whose
// folder the installation lacks, a target path too long for `instPath`, and
// the findings on a SETUP.INI the update puts in place of the installation's,
// and with bases, each installed target that is neither a base's version nor
// the new one (a patched update refuses such an installation).
CheckSummary CheckUpdateAgainstInstallation(const std::string& updateDir, const std::string& installDir,
                                            const InstallMatchOptions& options, FILE* out);

}  // namespace qa2
