// Resolves every query of a list as a path below one folder and prints what
// was found, in one canonical form: natively through the preview's overlay,
// in the Win32 build through the system's own calls (GetFileAttributesA, and
// FindFirstFileA for the name the entry has on disk), so that
// scripts/test-stages/47-name-differential.sh can compare them line by line.
//
// Usage: name_probe WINDOWS_ROOT [LOCAL_ROOT] QUERIES
//   WINDOWS_ROOT  the folder as Windows names it (Z:\...), in both builds,
//                 so that path lengths agree; LOCAL_ROOT (native only) the
//                 folder it stands for.
// Queries: one relative path a line, code page 932 with \xHH escapes; '#'
// starts a comment line. Output: "QUERY -> absent|file|folder NAME". A line
// "=A|B" asks instead whether two member names are one: natively as the
// archive's lookup compares them, in the Win32 build by lstrcmpiA.
// Output: "=A|B -> same|differ".
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/names/name_text.h"

#ifdef _WIN32
#include "platform/system_names.h"
#else
#include "platform/overlay/overlay_files.h"
#endif


int main(int argc, char** argv) {
#ifdef _WIN32
  if (argc != 3) {
    std::fprintf(stderr, "usage: name_probe WINDOWS_ROOT QUERIES\n");
    return 2;
  }
  const std::string root = argv[1];
  std::ifstream queries(argv[2], std::ios::binary);
#else
  if (argc != 4) {
    std::fprintf(stderr, "usage: name_probe WINDOWS_ROOT LOCAL_ROOT QUERIES\n");
    return 2;
  }
  const std::string root = argv[1];
  platform::OverlayFiles files;
  files.Mount(root, argv[2]);
  std::ifstream queries(argv[3], std::ios::binary);
#endif
  std::string line;
  while (std::getline(queries, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::string a, b;
    if (names::MemberQuery(line, &a, &b)) {
#ifdef _WIN32
      const bool same = platform::SystemNamesEqual(a, b);
#else
      const bool same = platform::SameNameIgnoringCase(a.c_str(), b.c_str());
#endif
      std::printf("%s\n", names::MemberAnswer(line, same).c_str());
      continue;
    }
    const std::string path = root + "\\" + names::Unescape(line);
    std::string kind = "absent", name;
#ifdef _WIN32
    platform::SystemNameAnswer(path, &kind, &name);
#else
    names::OverlayAnswer(files, path, &kind, &name);
#endif
    std::printf("%s\n", names::Answer(line, kind, name).c_str());
  }
  return 0;
}
