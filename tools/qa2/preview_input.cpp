// An update folder as preview's input: the archive `qa2 build` would make of
// it, with the members stored, since a preview decodes nothing it need not.
#include <algorithm>
#include <filesystem>

#include "archive/builder.h"
#include "platform/tool_support.h"
#include "tools/qa2/cli.h"
#include "tools/qa2/preview.h"

namespace qa2 {

namespace fs = std::filesystem;

bool ArchiveFromFolder(const std::string& dir, std::vector<uint8_t>* archive, std::string* error) {
  std::vector<BuildMember> members;
  std::error_code ec;
  fs::directory_iterator it(fs::u8path(dir), ec), end;
  if (ec) {
    *error = "cannot read the folder " + dir + ": " + ec.message();
    return false;
  }
  for (; it != end; it.increment(ec)) {
    if (ec) {
      *error = "cannot read the folder " + dir + ": " + ec.message();
      return false;
    }
    std::error_code statusError;
    if (!fs::is_regular_file(it->status(statusError))) continue;  // subfolders are not packed
    const std::string path = it->path().u8string(), shown = it->path().filename().u8string();
    BuildMember m;
    m.store = true;
    if (!platform::Utf8ToCp932(shown, &m.name)) {
      *error = path + ": name '" + shown + "' has no code page 932 form";
      return false;
    }
    if (BuildError bad = CheckMemberName(m.name); bad != BuildError::None) {
      *error = path + ": member name '" + shown + "': " + DescribeBuildError(bad);
      return false;
    }
    if (!platform::FileTimeOfPath(path, &m.fileTime) || !ReadFileBytes(path, &m.data, error)) {
      if (error->empty()) *error = "cannot read " + path;
      return false;
    }
    members.push_back(std::move(m));
  }
  // qa2 build's order: code page 932 bytes, ASCII letters as capitals.
  auto upper = [](char c) { return uint8_t((c >= 'a' && c <= 'z') ? c - 32 : c); };
  std::sort(members.begin(), members.end(), [&](const BuildMember& a, const BuildMember& b) {
    return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                        [&](char x, char y) { return upper(x) < upper(y); });
  });
  BuildReport report;
  BuildOptions options;
  options.mode = CompressionMode::Fast;
  if (!BuildArchive(members, options, archive, &report)) {
    *error = (report.member < members.size() ? platform::Cp932ToUtf8(members[report.member].name) + ": " : "") +
             DescribeBuildError(report.error);
    return false;
  }
  return true;
}

}  // namespace qa2
