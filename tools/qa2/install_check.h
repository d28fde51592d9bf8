// Checking an installation's SETUP.INI the way start-up and the installation
// description read it: `qa2 check --install DIR`.
#pragma once

#include <cstdio>
#include <string>

namespace qa2 {

struct InstallCheckSummary {
  int errors = 0;
  int warnings = 0;
  bool unreadable = false;  // the folder or SETUP.INI could not be read
  std::string fileName;     // SETUP.INI as the folder spells it
  int installChoices = 0;   // InstallSelects as read (0 for none)
  int shortcuts = 0;
};

// Checks the installation folder `dir`. Each finding is printed to `out` as
// "SETUP.INI:LINE: error|warning: ...". Errors are what ends the updater at
// start; warnings what loads but is likely unmeant or cut. `shownAs`, when
// given, names the file in the findings (a SETUP.INI an update ships).
InstallCheckSummary CheckInstallation(const std::string& dir, FILE* out, const std::string& shownAs = "");

// "SETUP.INI: ok, N install choices, M shortcuts"
std::string CleanInstallLine(const InstallCheckSummary& summary);

}  // namespace qa2
