// qa2 check [UPDATE_DIR] [--install DIR]
#include <cstdio>

#include "tools/qa2/check.h"
#include "tools/qa2/cli.h"
#include "tools/qa2/install_check.h"

namespace qa2 {
namespace {

void PrintCounts(int errors, int warnings) {
  std::fprintf(stderr, "qa2 check: %d error%s, %d warning%s\n", errors, errors == 1 ? "" : "s",
               warnings, warnings == 1 ? "" : "s");
}

}  // namespace

int RunCheck(const std::vector<std::string>& args) {
  std::string dir, install;
  bool haveInstall = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--install") {
      if (i + 1 >= args.size() || haveInstall)
        return Fail("check", kExitUsage, "--install expects one DIR (see qa2 check --help)");
      install = args[++i];
      haveInstall = true;
      continue;
    }
    if (a.size() > 1 && a[0] == '-')
      return Fail("check", kExitUsage, "unknown option " + a + " (see qa2 check --help)");
    if (!dir.empty()) return Fail("check", kExitUsage, "unexpected argument " + a);
    dir = a;
  }
  if (dir.empty() && !haveInstall)
    return Fail("check", kExitUsage, "expects UPDATE_DIR or --install DIR (see qa2 check --help)");

  int errors = 0, warnings = 0;
  bool unreadable = false;
  if (!dir.empty()) {
    CheckSummary summary = CheckUpdateFolder(dir, stdout);
    if (!summary.errors && !summary.warnings && !summary.unreadable)
      std::printf("%s\n", CleanCheckLine(summary).c_str());
    errors += summary.errors;
    warnings += summary.warnings;
    unreadable = unreadable || summary.unreadable;
  }
  if (haveInstall) {
    InstallCheckSummary summary = CheckInstallation(install, stdout);
    if (!summary.errors && !summary.warnings && !summary.unreadable)
      std::printf("%s\n", CleanInstallLine(summary).c_str());
    errors += summary.errors;
    warnings += summary.warnings;
    unreadable = unreadable || summary.unreadable;
  }
  std::fflush(stdout);
  if (errors || warnings) PrintCounts(errors, warnings);
  if (unreadable) return kExitIo;
  return errors ? kExitBadArchive : kExitOk;
}

}  // namespace qa2
