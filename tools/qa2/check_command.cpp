// qa2 check [UPDATE_DIR] [--install DIR [--mode N] [--inst-path WINPATH] [--data DIR] [--base DIR]...]
#include <cstdio>

#include "tools/qa2/check.h"
#include "tools/qa2/cli.h"
#include "platform/tool_support.h"
#include "tools/qa2/install_check.h"
#include "tools/qa2/install_match.h"

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
  InstallMatchOptions match;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--mode" || a == "--inst-path" || a == "--data" || a == "--base") {
      if (i + 1 >= args.size()) return Fail("check", kExitUsage, a + " needs a value (see qa2 check --help)");
      const std::string& v = args[++i];
      if (a == "--mode") {
        if (v.size() != 1 || v[0] < '0' || v[0] > '9')
          return Fail("check", kExitUsage, "--mode needs an install mode, 0 to 9");
        match.mode = v[0] - '0';
      } else if (a == "--inst-path") {
        if (!platform::Utf8ToCp932(v, &match.instPath) || match.instPath.size() < 3 || match.instPath[1] != ':' ||
            match.instPath[2] != '\\')
          return Fail("check", kExitUsage, "--inst-path needs a Windows path with a drive letter (C:\\Games\\X)");
      } else if (a == "--base") {
        match.bases.push_back(v);
      } else {
        match.dataFolder = v;
      }
      continue;
    }
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
  if ((match.mode || !match.instPath.empty() || !match.dataFolder.empty() || !match.bases.empty()) &&
      (dir.empty() || !haveInstall))
    return Fail("check", kExitUsage, "--mode, --inst-path, --data and --base check UPDATE_DIR against --install DIR");

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
  if (!dir.empty() && haveInstall) {
    CheckSummary summary = CheckUpdateAgainstInstallation(dir, install, match, stdout);
    errors += summary.errors;
    warnings += summary.warnings;
  }
  std::fflush(stdout);
  if (errors || warnings) PrintCounts(errors, warnings);
  if (unreadable) return kExitIo;
  return errors ? kExitBadArchive : kExitOk;
}

}  // namespace qa2
