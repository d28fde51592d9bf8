// Each finding here is one that only the pair shows: the update folder and
// the installation each check clean on their own.
#include "tools/qa2/install_match.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/codepage.h"
#include "platform/ini_text.h"
#include "platform/name_fold.h"
#include "platform/tool_support.h"
#include "settings/list_syntax.h"
#include "tools/qa2/check_support.h"
#include "tools/qa2/cp932.h"
#include "tools/qa2/install_check.h"
#include "updater/entries.h"
#include "updater/messages.h"

namespace qa2 {
namespace {

namespace fs = std::filesystem;

constexpr size_t kName = 260;
constexpr size_t kList = 1024;
constexpr size_t kPathMax = 259;
constexpr int kModes = 10;
constexpr char kSeeNames[] = "docs/authoring.md#how-the-installation-is-found";
constexpr char kSeeEntries[] = "docs/authoring.md#update-entries";
constexpr char kSeePatches[] = "docs/authoring.md#patches";
// ファイルの書き込みに失敗しました
constexpr char kWriteFailedUtf8[] = "\"ファイルの書き込みに失敗しました\"";

// The file in `dir` that Windows would open as `name` (case ignored).
bool FindFile(const std::string& dir, const char* name, fs::path* found) {
  std::error_code ec;
  for (fs::directory_iterator it(fs::u8path(dir), ec), end; !ec && it != end; it.increment(ec))
    if (platform::SameIniName(it->path().filename().u8string(), name) && it->is_regular_file(ec)) {
      *found = it->path();
      return true;
    }
  return false;
}

bool ReadIni(const std::string& dir, const char* name, platform::IniText* ini) {
  fs::path path;
  if (!FindFile(dir, name, &path)) return false;
  std::ifstream in(path, std::ios::binary);
  *ini = platform::IniText(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
  return true;
}

// The child of `folder` that Windows would find as `name` (code page 932):
// letter case ignored. Registry key names compare alike. Empty when there is none.
fs::path FindChild(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string cp932;
    if (platform::Utf8ToCp932(it->path().filename().u8string(), &cp932) &&
        platform::SameNameIgnoringCase(cp932.c_str(), name.c_str()))
      return it->path();
  }
  return fs::path();
}

// The folder components of a target path as the updater splits it.
std::vector<std::string> FolderParts(const std::string& path, size_t nameOffset) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i < nameOffset; ++i) {
    if (platform::IsLeadByte(uint8_t(path[i])) && i + 1 < nameOffset) {
      part += path.substr(i, 2);
      ++i;
    } else if (path[i] == '\\') {
      parts.push_back(part);
      part.clear();
    } else {
      part += path[i];
    }
  }
  return parts;
}

class Matcher {
 public:
  Matcher(const std::string& updateDir, const std::string& installDir, const InstallMatchOptions& options)
      : updateDir_(updateDir), installDir_(installDir), options_(options) {}

  CheckSummary Run(FILE* out) {
    if (!ReadIni(updateDir_, "UPDATE.INI", &update_) || !ReadIni(installDir_, "SETUP.INI", &setup_)) {
      return summary_;  // each folder's own check says what is missing
    }
    CheckNames();
    CheckEntries();
    findings_.Print(out, "UPDATE.INI");
    summary_.errors = findings_.errors();
    summary_.warnings = findings_.warnings();
    CheckShippedSetupIni(out);
    return summary_;
  }

 private:
  void CheckNames() {
    const IniValue title = ReadIniValue(update_, "SETUP", "GameTitle", kName);
    const IniValue company = ReadIniValue(update_, "SETUP", "CompanyName", kName);
    const IniValue gameDir = ReadIniValue(update_, "SETUP", "GameDir", kName);
    const IniValue installedCompany = ReadIniValue(setup_, "SETUP", "CompanyName", kName);
    const IniValue installedGameDir = ReadIniValue(setup_, "SETUP", "GameDir", kName);
    char notInstalled[kList];
    std::snprintf(notInstalled, sizeof notInstalled, kMsgNotInstalledFormat, title.text.c_str());
    const std::string key = "HKEY_CURRENT_USER\\Software\\" + company.text + "\\" + gameDir.text;
    auto compare = [&](const char* name, const IniValue& mine, const IniValue& theirs) {
      if (!mine.present || !theirs.present || platform::SameNameIgnoringCase(mine.text.c_str(), theirs.text.c_str()))
        return;
      findings_.Report("UPDATE.INI", mine.line, Severity::Error,
                       std::string(name) + " " + Quote(mine.text) + " is not the installation's " +
                           Quote(theirs.text) + " (SETUP.INI line " + std::to_string(theirs.line) +
                           "): the updater looks for the game under " + platform::Cp932ToUtf8(key) +
                           ", which its installer did not write, and every player sees \"" +
                           platform::Cp932ToUtf8(notInstalled) + "\"; write " + name + "=" +
                           platform::Cp932ToUtf8(theirs.text) + See(kSeeNames));
    };
    compare("CompanyName", company, installedCompany);
    compare("GameDir", gameDir, installedGameDir);
  }

  void CheckEntries() {
    const std::string dataFolder = ReadIniValue(update_, "SETUP", "DataFolder", kName).text;
    const bool overwriteOnly = ParseInt32(ReadIniValue(update_, "UPDATE", "OverwriteOnly", kName).text.c_str()) != 0;
    for (int n = 0; n < 16; ++n) {
      char key[32];
      std::snprintf(key, sizeof key, "UpdateFile%02i", n);
      const IniValue value = ReadIniValue(update_, "UPDATE", key, kList);
      if (!value.present) break;
      UpdateItem item{};
      bool applies = false;
      for (int mode = 0; mode < kModes && !applies; ++mode)
        if (!options_.mode || *options_.mode == mode) applies = ParseUpdateEntry(value.text.c_str(), mode, &item);
      if (!applies || item.path[0] == '\0') continue;
      const std::string path = item.path;
      CheckFolder(key, value.line, item, dataFolder, overwriteOnly);
      if (!options_.bases.empty() && item.kind != Data) CheckVersion(key, value.line, item, dataFolder);
      if (!options_.instPath.empty() && item.kind != Data) {
        std::string joined = options_.instPath;
        for (const std::string& part : {dataFolder, path}) {
          if (part.empty()) continue;
          const char last = joined.empty() ? '\\' : joined.back();
          if (last != '\\' && last != '/') joined += '\\';
          joined += part;
        }
        if (joined.size() > kPathMax)
          findings_.Report("UPDATE.INI", value.line, Severity::Error,
                           std::string(key) + ": its target " + platform::Cp932ToUtf8(joined) + " is " +
                               std::to_string(joined.size()) + " bytes, past the 259 a Windows path holds, so " +
                               "the write fails with " + kWriteFailedUtf8 + "; shorten the entry's path by " +
                               std::to_string(joined.size() - kPathMax) + " bytes" + See(kSeeEntries));
      }
    }
  }

  // The folders inside an entry's path must exist: the updater makes only
  // the data subfolder.
  void CheckFolder(const char* key, int line, const UpdateItem& item, const std::string& dataFolder,
                   bool overwriteOnly) {
    const std::string& baseDir = item.kind == Data ? options_.dataFolder : installDir_;
    if (baseDir.empty()) return;
    fs::path at = fs::u8path(baseDir);
    std::string shown;
    if (!dataFolder.empty()) {
      fs::path made = FindChild(at, dataFolder);
      if (made.empty()) {
        // Made by the update itself; what lies below it does not exist yet.
        if (FolderParts(item.path, size_t(item.nameOffset)).empty()) return;
        at.clear();
      } else {
        at = made;
      }
      shown = dataFolder;
    }
    for (const std::string& part : FolderParts(item.path, size_t(item.nameOffset))) {
      shown += (shown.empty() ? "" : "\\") + part;
      fs::path next = at.empty() ? fs::path() : FindChild(at, part);
      std::error_code ec;
      if (!next.empty() && fs::is_directory(next, ec)) {
        at = next;
        continue;
      }
      const std::string where = item.kind == Data ? "the data folder" : "the installation";
      if (item.kind == Overwrite || overwriteOnly)
        findings_.Report("UPDATE.INI", line, Severity::Note,
                         std::string(key) + ": " + where + " has no folder " + Quote(shown) +
                             ", so the entry is skipped" + See(kSeeEntries));
      else
        findings_.Report("UPDATE.INI", line, Severity::Error,
                         std::string(key) + ": " + where + " has no folder " + Quote(shown) +
                             ", and the updater makes none but the data subfolder, so the write fails with " +
                             kWriteFailedUtf8 + "; name a folder " + where + " has, or copy the folder " +
                             "from the disc with a CopyFileXX entry" + See(kSeeEntries));
      return;
    }
  }

  // A file the installation holds that neither a base nor the update has:
  // built against these bases, the update's version gate refuses it.
  void CheckVersion(const char* key, int line, const UpdateItem& item, const std::string& dataFolder) {
    const std::string target = dataFolder.empty() ? std::string(item.path) : dataFolder + "\\" + item.path;
    std::string twins, error;
    std::error_code ec;
    const fs::path installed = ResolveWindowsPath(fs::u8path(installDir_), target, &twins);
    FileContent have, other;
    if (installed.empty() || !fs::is_regular_file(installed, ec) || !ReadFileContent(installed.u8string(), &have, &error))
      return;
    fs::path member;
    if (FindFile(updateDir_, item.path + item.nameOffset, &member) &&
        ReadFileContent(member.u8string(), &other, &error) && other == have)
      return;
    for (const std::string& base : options_.bases) {
      const fs::path held = ResolveWindowsPath(fs::u8path(base), target, &twins);
      if (!held.empty() && fs::is_regular_file(held, ec) && ReadFileContent(held.u8string(), &other, &error) &&
          other == have)
        return;
    }
    char refused[kList];
    std::snprintf(refused, sizeof refused, kMsgWrongVersionFormat, item.path);
    findings_.Report("UPDATE.INI", line, Severity::Error,
                     std::string(key) + ": the installation's " + Quote(target) + " (" + std::to_string(have.size) +
                         " bytes) is neither the new version nor any --base's, so an update built with these bases " +
                         "refuses it with \"" + platform::Cp932ToUtf8(refused) + "\" wherever the member travels as " +
                         "patches (or with --gate); build with its version as a --base too" + See(kSeePatches));
  }

  // A SETUP.INI written over the installation's is what the next start of
  // the updater (and the game) loads.
  void CheckShippedSetupIni(FILE* out) {
    if (!ReadIniValue(update_, "SETUP", "DataFolder", kName).text.empty()) return;
    bool ships = false;
    for (int n = 0; n < 16 && !ships; ++n) {
      char key[32];
      std::snprintf(key, sizeof key, "UpdateFile%02i", n);
      const IniValue value = ReadIniValue(update_, "UPDATE", key, kList);
      if (!value.present) break;
      UpdateItem item{};
      for (int mode = 0; mode < kModes && !ships; ++mode)
        ships = ParseUpdateEntry(value.text.c_str(), mode, &item) && item.kind != Data &&
                platform::SameIniName(item.path, "SETUP.INI");
    }
    fs::path shipped;
    if (!ships || !FindFile(updateDir_, "SETUP.INI", &shipped)) return;
    const InstallCheckSummary s =
        CheckInstallation(updateDir_, out, (fs::u8path(updateDir_) / shipped.filename()).u8string());
    summary_.errors += s.errors;
    summary_.warnings += s.warnings;
  }

  std::string updateDir_, installDir_;
  InstallMatchOptions options_;
  platform::IniText update_{std::string()}, setup_{std::string()};
  Findings findings_;
  CheckSummary summary_;
};

}  // namespace

CheckSummary CheckUpdateAgainstInstallation(const std::string& updateDir, const std::string& installDir,
                                            const InstallMatchOptions& options, FILE* out) {
  return Matcher(updateDir, installDir, options).Run(out);
}

}  // namespace qa2
