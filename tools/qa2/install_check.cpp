// The installation check. SETUP.INI is read through the updater's INI reading
// (platform/ini_text.h), field sizes, list scanner and number conversions, key
// by key in the loader's order (settings/installation.cpp), so that what it
// reports is what start-up will do. A required key missing ends the updater
// without a message: start-up has silenced the getters' boxes before it loads
// the description, so these are the findings an author cannot see otherwise.
#include "tools/qa2/install_check.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "platform/ini_text.h"
#include "settings/list_syntax.h"
#include "settings/messages.h"
#include "tools/qa2/check_support.h"
#include "tools/qa2/cp932.h"

namespace qa2 {
namespace {

namespace fs = std::filesystem;

constexpr size_t kName = 260;     // names: 259 bytes and a zero
constexpr size_t kList = 1024;    // list values and messages
constexpr size_t kNumber = 20;    // integers are read through 20 bytes
constexpr char kSee[] = "docs/authoring.md#the-installations-setupini";
constexpr char kSilent[] =
    ": the updater ends at start without any message (its missing-key box is silenced by then)";

std::string Indexed(const char* prefix, int i) { return prefix + std::to_string(i); }

struct ListScan {
  int tokens = 0;
  bool limitReached = false;   // more tokens than the loader reads
  bool endedEarly = false;     // an empty item ended the list before its text
  bool tokenCut = false;       // a name longer than 259 bytes
};

// Scans `value` as the loader does, up to `limit` tokens.
ListScan ScanList(const std::string& value, int limit) {
  ListScan scan;
  std::vector<char> buffer(value.begin(), value.end());
  buffer.push_back('\0');
  buffer.push_back('\0');
  const char* cursor = buffer.data();
  char token[kName];
  for (;;) {
    const char* before = cursor;
    if (scan.tokens == limit) {
      char rest[kName];
      scan.limitReached = NextListToken(&cursor, rest) != 0;
      break;
    }
    if (!NextListToken(&cursor, token)) {
      // Stopped on an empty item: is there text after it?
      const char* p = cursor;
      while (*p == ',' || *p == ' ') ++p;
      scan.endedEarly = *p != '\0' && *p != '\r' && *p != '\n';
      break;
    }
    if (ListTokenTextLength(before) > kName - 1) scan.tokenCut = true;
    ++scan.tokens;
  }
  return scan;
}

class InstallChecker {
 public:
  InstallChecker(const std::string& dir, FILE* out, const std::string& shownAs)
      : dir_(dir), out_(out), shownAs_(shownAs) {}

  InstallCheckSummary Run() {
    if (ReadFile()) {
      if (ini_.SectionLine("SETUP") == 0)
        NoSection();
      else
        CheckKeys();
    }
    findings_.Print(out_, summary_.fileName);
    summary_.errors = findings_.errors();
    summary_.warnings = findings_.warnings();
    return summary_;
  }

 private:
  void Report(int line, Severity severity, const std::string& text) {
    findings_.Report(summary_.fileName, line, severity, text);
  }

  // Windows finds SETUP.INI whatever its case.
  bool ReadFile() {
    summary_.fileName = "SETUP.INI";
    std::error_code ec;
    fs::directory_iterator it(fs::u8path(dir_), ec), end;
    if (ec) {
      findings_.Report(dir_, 0, Severity::Error, "cannot read the folder: " + ec.message());
      summary_.unreadable = true;
      return false;
    }
    fs::path found;
    for (; it != end; it.increment(ec)) {
      if (ec) break;
      std::string name = it->path().filename().u8string();
      if (platform::SameIniName(name, "SETUP.INI") && it->is_regular_file(ec)) found = it->path();
    }
    if (found.empty()) {
      Report(0, Severity::Error,
             "the installation folder has no SETUP.INI: the updater stops with \"インストール先に "
             "\"SETUP.INI\" ファイルが見つかりません\"" + See(kSee));
      return false;
    }
    summary_.fileName = shownAs_.empty() ? found.filename().u8string() : shownAs_;
    std::ifstream in(found, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      Report(0, Severity::Error, "cannot read the file");
      summary_.unreadable = true;
      return false;
    }
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0)
      Report(1, Severity::Error,
             "the file begins with a UTF-8 byte-order mark, which hides its first line from the "
             "updater" + See(kSee));
    ini_ = platform::IniText(std::move(content));
    return true;
  }

  void NoSection() {
    int line = 1;
    std::string text = "no [SETUP] section";
    for (const platform::IniEntry& s : ini_.Sections())
      if (!ClosestName(s.key, {"SETUP"}).empty()) {
        line = s.line;
        text = "[" + Cp932ToShown(s.key) + "] is not [SETUP]; there is " + text;
        break;
      }
    Report(line, Severity::Error, text + ", so every key is missing" + kSilent + See(kSee));
  }

  IniValue Read(const std::string& key, size_t field) {
    IniValue v = ReadIniValue(ini_, "SETUP", key, field);
    known_.push_back(key);
    if (v.given && v.length > field - 1)
      Report(v.line, Severity::Warning,
             key + " is " + std::to_string(v.length) + " bytes long; the updater reads " +
                 std::to_string(field - 1) + " of them" + See(kSee));
    if (v.present && LooksLikeUtf8(v.text))
      Report(v.line, Severity::Warning,
             key + " is UTF-8 text, not code page 932: the updater would show or use other "
                   "characters" + See(kSee));
    return v;
  }

  // A required key; false (after the report) when it is missing or empty.
  bool Required(const IniValue& v, const std::string& key) {
    if (v.present) return true;
    Report(v.given ? v.line : ini_.SectionLine("SETUP"), Severity::Error,
           "[SETUP] " + key + (v.given ? " is empty" : " is missing") + kSilent + See(kSee));
    return false;
  }

  // An integer as GetSetupInt reads it; the value, or `fallback` when absent.
  int32_t Number(const IniValue& v, const std::string& key) {
    int32_t read = ParseInt32(v.text.c_str());
    const std::string& t = v.text;
    size_t start = (!t.empty() && (t[0] == '+' || t[0] == '-')) ? 1 : 0;
    bool plain = t.size() > start && t.find_first_not_of("0123456789", start) == std::string::npos;
    if (v.present && (!plain || v.length > kNumber - 1))
      Report(v.line, Severity::Warning,
             key + " " + Quote(t) + " is not a plain number: the updater reads it as " +
                 std::to_string(read) + See(kSee));
    return read;
  }

  // A list: refused without its first token (`refusal` is the box the
  // loader shows then); names past `limit`, after an empty item, or cut are
  // warned about.
  int List(const IniValue& v, const std::string& key, int limit, int needed, const std::string& refusal) {
    ListScan scan = ScanList(v.text, limit);
    if (scan.tokens < needed) {
      Report(v.line, Severity::Error,
             key + " " + Quote(v.text) + " has " + std::to_string(scan.tokens) + " of the " +
                 std::to_string(needed) + " item" + (needed == 1 ? "" : "s") +
                 " it needs: the updater stops with \"" + Cp932ToShown(refusal) + "\"" + See(kSee));
      return scan.tokens;
    }
    if (scan.limitReached)
      Report(v.line, Severity::Warning,
             key + ": only the first " + std::to_string(limit) + " items are read" + See(kSee));
    if (scan.endedEarly)
      Report(v.line, Severity::Warning,
             key + ": an empty item ends the list, so what follows it is never read" + See(kSee));
    if (scan.tokenCut)
      Report(v.line, Severity::Warning, key + ": a name longer than 259 bytes is cut" + See(kSee));
    return scan.tokens;
  }

  // The loader's own box for a list, as code page 932.
  std::string KeyError(const std::string& key) {
    char text[kList];
    std::snprintf(text, sizeof text, kMsgListErrorFormat, key.c_str());
    return text;
  }

  void CheckKeys() {
    for (const char* key : {"CompanyName", "GameTitle", "GameDir", "GameExe", "UninstExe"})
      Required(Read(key, kName), key);

    IniValue bmp = Read("SetupBmp", kList);
    if (Required(bmp, "SetupBmp")) List(bmp, "SetupBmp", 20, 1, kMsgSetupBmpsError);

    IniValue selects = Read("InstallSelects", kNumber);
    if (Required(selects, "InstallSelects")) {
      int32_t n = Number(selects, "InstallSelects");
      if (n > 3) {
        Report(selects.line, Severity::Error,
               "InstallSelects is " + std::to_string(n) + ", more than 3: the updater stops with \"" +
                   Cp932ToShown(kMsgInstallSelectOver) + "\"" + See(kSee));
        selectsRefused_ = true;
      } else {
        summary_.installChoices = n > 0 ? n : 0;
        for (int i = 0; i < n; ++i) {
          const std::string title = Indexed("InstallTitle", i), files = Indexed("InstallFiles", i);
          Required(Read(title, kName), title);
          IniValue list = Read(files, kList);
          if (Required(list, files)) List(list, files, 40, 1, KeyError(files));
        }
      }
    }

    IniValue shortcuts = Read("Shortcuts", kNumber);
    if (Required(shortcuts, "Shortcuts")) {
      int32_t n = Number(shortcuts, "Shortcuts");
      if (n > 10) {
        Report(shortcuts.line, Severity::Error,
               "Shortcuts is " + std::to_string(n) + ", more than 10: the updater stops with \"" +
                   Cp932ToShown(kMsgShortcutsOver) + "\"" + See(kSee));
        shortcutsRefused_ = true;
      } else {
        summary_.shortcuts = n > 0 ? n : 0;
        for (int i = 0; i < n; ++i) {
          const std::string key = Indexed("Shortcut", i);
          IniValue v = Read(key, kName);
          if (Required(v, key)) List(v, key, 3, 2, KeyError(key));
        }
      }
    }

    // Optional from here on.
    Read("GameClass", kName);
    Number(Read("DefaultSelect", kNumber), "DefaultSelect");
    for (int i = 0; i < summary_.installChoices; ++i) Read(Indexed("InstallSize", i), kNumber);
    for (int i = 0; i < 10; ++i) Read(Indexed("DiskCheckFile", i), kName);
    IniValue exec = Read("ExecApp", kName);
    if (exec.present) List(exec, "ExecApp", 2, 2, KeyError("ExecApp"));
    Number(Read("InstallDirectX", kNumber), "InstallDirectX");
    Read("InstallDXMessage", kList);
    Read("SelectSetupMessage", kList);
    IniValue uninstall = Read("AdditionalUninstallFiles", kList);
    if (uninstall.present) List(uninstall, "AdditionalUninstallFiles", 20, 0, "");
    Number(Read("UseCompanyNameForShortcutGroup", kNumber), "UseCompanyNameForShortcutGroup");
    CheckUnread();
  }

  // Keys the loader never asks for: repeated, numbered past their count,
  // or unknown (with the known name nearest to them).
  void CheckUnread() {
    std::vector<platform::IniEntry> entries = ini_.Entries("SETUP");
    std::vector<std::string> names = known_;
    for (const char* numbered : {"InstallTitle", "InstallFiles", "InstallSize", "Shortcut"}) names.push_back(numbered);
    for (size_t i = 0; i < entries.size(); ++i) {
      const platform::IniEntry& e = entries[i];
      bool repeated = false;
      for (size_t j = 0; j < i && !repeated; ++j)
        if (platform::SameIniName(entries[j].key, e.key)) {
          repeated = true;
          Report(e.line, Severity::Warning,
                 e.key + " is given again: the updater reads only the first, on line " +
                     std::to_string(entries[j].line));
        }
      if (repeated) continue;
      bool read = false;
      for (const std::string& k : known_) read = read || platform::SameIniName(e.key, k);
      if (read) continue;
      size_t digits = e.key.find_last_not_of("0123456789") + 1;
      const std::string stem = e.key.substr(0, digits);
      if (digits < e.key.size() && digits > 0) {
        // Numbered past their count. After a refused count the loader has
        // stopped, and that is the report.
        const char* countKey = nullptr;
        int count = 0;
        bool refused = false;
        for (const char* s : {"InstallTitle", "InstallFiles", "InstallSize"})
          if (platform::SameIniName(stem, s)) {
            countKey = "InstallSelects";
            count = summary_.installChoices;
            refused = selectsRefused_;
          }
        if (platform::SameIniName(stem, "Shortcut")) {
          countKey = "Shortcuts";
          count = summary_.shortcuts;
          refused = shortcutsRefused_;
        }
        if (platform::SameIniName(stem, "DiskCheckFile")) countKey = "";
        if (refused) continue;
        if (countKey) {
          std::string why = *countKey == '\0' ? std::string("the disks are 0 to 9")
                            : std::string(countKey) + " is " + std::to_string(count) +
                                  (count ? ", so the updater reads " + stem + "0 to " + stem +
                                               std::to_string(count - 1)
                                         : std::string());
          Report(e.line, Severity::Warning, e.key + " is never read: " + why + See(kSee));
          continue;
        }
      }
      std::string near = ClosestName(e.key, known_);
      if (near.empty() && digits < e.key.size()) {
        near = ClosestName(stem, {"InstallTitle", "InstallFiles", "InstallSize", "Shortcut", "DiskCheckFile"});
        if (!near.empty()) near += e.key.substr(digits);
      }
      Report(e.line, Severity::Warning,
             "[SETUP] " + e.key + " is no key the installation description has" +
                 (near.empty() ? "" : "; did you mean " + near + "?") + See(kSee));
    }
  }

  std::string dir_;
  FILE* out_;
  InstallCheckSummary summary_;
  Findings findings_;
  platform::IniText ini_{std::string()};
  std::string shownAs_;
  std::vector<std::string> known_;  // the keys the loader reads, in order
  bool selectsRefused_ = false;
  bool shortcutsRefused_ = false;
};

}  // namespace

InstallCheckSummary CheckInstallation(const std::string& dir, FILE* out, const std::string& shownAs) {
  return InstallChecker(dir, out, shownAs).Run();
}

std::string CleanInstallLine(const InstallCheckSummary& summary) {
  auto count = [](int n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
  };
  return summary.fileName + ": ok, " + count(summary.installChoices, "install choice") + ", " +
         count(summary.shortcuts, "shortcut");
}

}  // namespace qa2
