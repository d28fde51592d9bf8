// qa2 check UPDATE_DIR
#include <cstdio>

#include "tools/qa2/check.h"
#include "tools/qa2/cli.h"

namespace qa2 {

int RunCheck(const std::vector<std::string>& args) {
  std::string dir;
  for (const std::string& a : args) {
    if (a.size() > 1 && a[0] == '-')
      return Fail("check", kExitUsage, "unknown option " + a + " (see qa2 check --help)");
    if (!dir.empty()) return Fail("check", kExitUsage, "unexpected argument " + a);
    dir = a;
  }
  if (dir.empty()) return Fail("check", kExitUsage, "expects UPDATE_DIR (see qa2 check --help)");
  CheckSummary summary = CheckUpdateFolder(dir, stdout);
  std::fflush(stdout);
  if (!summary.errors && !summary.warnings && !summary.unreadable)
    std::printf("%s\n", CleanCheckLine(summary).c_str());
  else
    std::fprintf(stderr, "qa2 check: %d error%s, %d warning%s\n", summary.errors,
                 summary.errors == 1 ? "" : "s", summary.warnings, summary.warnings == 1 ? "" : "s");
  if (summary.unreadable) return kExitIo;
  return summary.errors ? kExitBadArchive : kExitOk;
}

}  // namespace qa2
