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
// starts a comment line. Output: "QUERY -> absent|file|folder NAME".
#include <cstdio>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/overlay/overlay_files.h"
#endif

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() + 0 && text[i + 1] == 'x' && HexDigit(text[i + 2]) >= 0 &&
        HexDigit(text[i + 3]) >= 0) {
      out += char(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3]));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string Escape(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x21 || c > 0x7E) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += char(c);
    }
  }
  return out;
}

}  // namespace

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
    const std::string path = root + "\\" + Unescape(line);
    std::string kind = "absent", name;
    // A search for a name ending in a separator finds nothing; only the
    // attributes tell.
    const bool folderForm = !path.empty() && (path.back() == '\\' || path.back() == '/');
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? "folder" : "file";
      WIN32_FIND_DATAA found;
      HANDLE search = folderForm ? INVALID_HANDLE_VALUE : FindFirstFileA(path.c_str(), &found);
      if (search != INVALID_HANDLE_VALUE) {
        name = found.cFileName;
        FindClose(search);
      }
    }
#else
    const uint32_t attributes = files.GetFileAttributes(path);
    if (attributes != platform::kInvalidAttributes) {
      kind = (attributes & platform::kAttrDirectory) ? "folder" : "file";
      if (!folderForm) name = files.FoundName(path);
    }
#endif
    std::printf("%s -> %s %s\n", line.c_str(), kind.c_str(), Escape(name).c_str());
  }
  return 0;
}
