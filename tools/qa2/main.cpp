// qa2: the update author's tool for update archives.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "platform/tool_support.h"
#include "tools/qa2/cli.h"
#include "archive/sha256.h"
#include "tools/qa2/stub.h"

namespace {

int Usage(FILE* to) {
  std::fprintf(to, "usage: qa2 COMMAND [ARGS...]\n       qa2 --version\n\ncommands:\n");
  for (const qa2::Command& c : qa2::Commands())
    std::fprintf(to, "  %-10s %s\n", c.name, c.synopsis);
  std::fprintf(to, "\n'qa2 COMMAND --help' describes one command.\n%s", qa2::kExitCodesHelp);
  return to == stdout ? qa2::kExitOk : qa2::kExitUsage;
}

// The version, and the digest of the stub `qa2 build` puts archives into, so
// that an author can tell which updater a qa2 makes.
int Version() {
  std::printf("qa2 %s\n", QA2_VERSION);
  const uint8_t* stub = nullptr;
  size_t size = 0;
  if (!qa2::CarriedStub(&stub, &size)) {
    std::printf("updater stub: none carried (qa2 build needs --stub)\n");
    return qa2::kExitOk;
  }
  Sha256 sha;
  sha.Update(stub, size);
  std::printf("updater stub: %zu bytes, SHA-256 %s\n", size, sha.HexDigest().c_str());
  return qa2::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  // UTF-8 from here on, whatever the system's code page.
  const std::vector<std::string> all = platform::ToolArguments(argc, argv);
  platform::UseToolFiles();
  if (all.size() < 2) return Usage(stderr);
  std::string name = all[1];
  if (name == "--help" || name == "-h" || name == "help") return Usage(stdout);
  if (name == "--version") return Version();
  std::vector<std::string> args(all.begin() + 2, all.end());
  for (const qa2::Command& c : qa2::Commands()) {
    if (name != c.name) continue;
    if (qa2::WantsHelp(args)) return qa2::PrintHelp(c);
    // Unwinding drops every half-written output (OutputFile, spools).
    try {
      return c.run(args);
    } catch (const std::bad_alloc&) {
      return qa2::Fail(c.name, qa2::kExitInternal, "out of memory");
    } catch (const std::exception& e) {
      return qa2::Fail(c.name, qa2::kExitInternal, std::string("internal failure: ") + e.what());
    }
  }
  std::fprintf(stderr, "qa2: unknown command '%s'\n", name.c_str());
  return Usage(stderr);
}
