// The update-folder check. UPDATE.INI is read through the same INI reading
// (platform/ini_text.h), field sizes, list scanner and entry readers
// (updater/entries.h) as the updater's, so what the check reports is what the
// updater will do. Portable: the folder is listed with std::filesystem.
//
// Errors are what makes the updater stop, fail part way, or silently skip
// what the author wrote; warnings are what works but is likely unmeant.
#include "tools/qa2/check.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <system_error>
#include <vector>

#include "archive/builder.h"
#include "platform/ini_text.h"
#include "platform/tool_support.h"
#include "settings/list_syntax.h"
#include "tools/qa2/check_support.h"
#include "tools/qa2/cp932.h"
#include "updater/entries.h"

namespace qa2 {
namespace {

namespace fs = std::filesystem;

constexpr char kIniName[] = "UPDATE.INI";
constexpr size_t kField = 260;         // names and paths
constexpr size_t kMessageBuffer = 1024; // UpdateMessage, UpdateFileXX
// The longest joined path AppendPathComponent accepts: 259 bytes and two zeros.
constexpr size_t kJoinedMax = 258;
// Room below which an entry's path leaves too little for the player's own
// installation path ("C:\Program Files (x86)\MAKER\GAME" is some 40 bytes).
constexpr size_t kInstallRoomWarning = 100;
constexpr int kModes = 10;  // install-mode digits

// Sections of docs/authoring.md that the reports point to.
constexpr char kSeeFolder[] = "docs/authoring.md#the-update-folder";
constexpr char kSeeSetup[] = "docs/authoring.md#setup-keys";
constexpr char kSeeUpdate[] = "docs/authoring.md#update-keys";
constexpr char kSeeEntries[] = "docs/authoring.md#update-entries";
constexpr char kSeeCopies[] = "docs/authoring.md#copy-entries";
constexpr char kSeeSpace[] = "docs/authoring.md#free-space";
constexpr char kSeeText[] = "docs/authoring.md#text-and-code-page-932";
constexpr char kSeeLimits[] = "docs/authoring.md#limits";

struct FolderFile {
  std::string shown;  // the name as the system gives it (UTF-8)
  std::string cp932;  // the member name it becomes; empty when it has none
  uint64_t size = 0;
  bool used = false;
};

using Value = IniValue;

struct KeySpec {
  const char* name;
  size_t field;
  bool required;
  Severity whenCut;  // a path or name cut is an error, a shown text a warning
};

const KeySpec kSetupKeys[] = {
    {"CompanyName", kField, true, Severity::Error},
    {"GameTitle", kField, true, Severity::Warning},
    {"GameClass", kField, true, Severity::Warning},
    {"GameDir", kField, true, Severity::Error},
    {"GameTitleA", kField, false, Severity::Error},
    {"UpdaterVersion", kField, false, Severity::Warning},
    {"UpdaterTitle", kField, false, Severity::Warning},
    {"DataFolder", kField, false, Severity::Error},
    {"UpdateMessage", kMessageBuffer, false, Severity::Warning},
};

std::string KeyName(const char* prefix, int n) {
  char key[32];
  std::snprintf(key, sizeof key, "%s%02i", prefix, n);
  return key;
}

bool StartsWithNoCase(const std::string& text, const char* prefix, size_t* rest) {
  size_t n = std::strlen(prefix);
  if (text.size() < n || !platform::SameIniName(text.substr(0, n), prefix)) return false;
  *rest = n;
  return true;
}

class Checker {
 public:
  Checker(const std::string& dir, FILE* out) : dir_(dir), out_(out) {}

  CheckSummary Run() {
    if (ListFolder() && ReadIni()) {
      CheckSections();
      CheckComments();
      CheckSetup();
      CheckUpdate();
      CheckUnusedFiles();
    }
    findings_.Print(out_, kIniName);
    summary_.errors = findings_.errors();
    summary_.warnings = findings_.warnings();
    return summary_;
  }

 private:
  void Report(const std::string& file, int line, Severity severity, const std::string& text) {
    findings_.Report(file, line, severity, text);
  }
  void Ini(int line, Severity severity, const std::string& text) {
    Report(kIniName, line, severity, text);
  }

  // --- the folder: what `qa2 build` packs

  bool ListFolder() {
    std::error_code ec;
    fs::directory_iterator it(fs::u8path(dir_), ec), end;
    if (ec) {
      Report(dir_, 0, Severity::Error, "cannot read the folder: " + ec.message());
      summary_.unreadable = true;
      return false;
    }
    std::vector<fs::directory_entry> entries;
    for (; it != end; it.increment(ec)) {
      if (ec) break;
      entries.push_back(*it);
    }
    if (ec) {
      Report(dir_, 0, Severity::Error, "cannot read the folder: " + ec.message());
      summary_.unreadable = true;
      return false;
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                return a.path().filename().u8string() < b.path().filename().u8string();
              });
    for (const fs::directory_entry& e : entries) {
      std::string shown = e.path().filename().u8string();
      if (e.is_directory(ec)) {
        Report(shown, 0, Severity::Warning,
               "a subfolder: only the files at the folder's top level are packed" + See(kSeeFolder));
        continue;
      }
      if (!e.is_regular_file(ec)) {
        Report(shown, 0, Severity::Warning, "not a regular file: it is not packed" + See(kSeeFolder));
        continue;
      }
      FolderFile file;
      file.shown = shown;
      file.size = e.file_size(ec);
      if (ec) {
        Report(shown, 0, Severity::Error, "cannot read the file's size: " + ec.message());
        summary_.unreadable = true;
        continue;
      }
      CheckFileName(&file);
      files_.push_back(file);
    }
    // Only the compressed size counts, which the build alone knows.
    uint64_t total = 0;
    for (const FolderFile& f : files_) total += f.size;
    if (total > kMaxUpdaterImage)
      Report(dir_, 0, Severity::Warning,
             "the files take " + std::to_string(total) + " bytes: UPDATE.EXE starts only if they compress to "
             "less than 1.5 GiB in all (qa2 build refuses a larger one)" + See(kSeeLimits));
    return true;
  }

  // The names `qa2 build` refuses.
  void CheckFileName(FolderFile* file) {
    std::string cp932;
    if (!platform::Utf8ToCp932(file->shown, &cp932)) {
      Report(file->shown, 0, Severity::Error,
             "the name has no code page 932 form, so it cannot name an archive member" + See(kSeeFolder));
      return;
    }
    BuildError error = CheckMemberName(cp932);
    if (error != BuildError::None) {
      Report(file->shown, 0, Severity::Error,
             std::string("cannot name an archive member: ") + DescribeBuildError(error) + See(kSeeFolder));
      return;
    }
    for (const FolderFile& other : files_)
      if (!other.cp932.empty() && SameMemberName(other.cp932, cp932)) {
        Report(file->shown, 0, Severity::Error,
               "the same member name as " + other.shown + " (case is ignored)" + See(kSeeFolder));
        return;
      }
    if (file->size > 0xFFFFFFFFu) {
      Report(file->shown, 0, Severity::Error, "larger than 4 GiB - 1 bytes, the archive's limit" + See(kSeeFolder));
      return;
    }
    file->cp932 = cp932;
  }

  FolderFile* FindMember(const std::string& member) {
    for (FolderFile& f : files_)
      if (!f.cp932.empty() && SameMemberName(f.cp932, member)) return &f;
    return nullptr;
  }

  bool ReadIni() {
    FolderFile* file = FindMember(kIniName);
    if (!file) {
      Report(kIniName, 0, Severity::Error,
             "the folder has no UPDATE.INI: the updater stops with \"UPDATE.INI not found at "
             "UPDATE.QA2\"" + See(kSeeFolder));
      return false;
    }
    file->used = true;
    std::ifstream in(fs::u8path(dir_) / fs::u8path(file->shown), std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      Report(kIniName, 0, Severity::Error, "cannot read the file");
      summary_.unreadable = true;
      return false;
    }
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0)
      Ini(1, Severity::Error,
          "the file begins with a UTF-8 byte-order mark, which hides its first line from the "
          "updater; save it as code page 932 without one (tail -c +4 UPDATE.INI | iconv -f "
          "UTF-8 -t CP932 > UPDATE.NEW, then replace UPDATE.INI with UPDATE.NEW)" + See(kSeeText));
    ini_ = platform::IniText(std::move(content));
    return true;
  }

  // --- reading as the updater's getter does

  Value Read(const char* section, const std::string& key, size_t field) {
    return ReadIniValue(ini_, section, key, field);
  }

  // A value that is not code page 932 shows or names something else.
  void CheckText(const Value& v, const std::string& key) {
    if (!v.present) return;
    if (LooksLikeUtf8(v.text))
      Ini(v.line, Severity::Error,
          key + " is UTF-8 text, not code page 932: the updater would show or use other "
          "characters; convert the file (iconv -f UTF-8 -t CP932 UPDATE.INI > UPDATE.NEW, then "
          "replace UPDATE.INI with UPDATE.NEW)" + See(kSeeText));
    else if (!IsCp932Text(v.text))
      Ini(v.line, Severity::Error,
          key + " holds bytes that are no code page 932 character" + See(kSeeText));
  }

  void CheckCut(const Value& v, const std::string& key, size_t field, Severity severity,
                const char* anchor) {
    if (v.length <= field - 1) return;
    Ini(v.line, severity,
        key + " is " + std::to_string(v.length) + " bytes long; its field holds " +
            std::to_string(field - 1) + ", so the updater cuts it" + See(anchor));
  }

  // Keys of a section that the updater never reads: repeated ones, and those
  // `known` does not accept, with the name `suggest` finds near them.
  template <typename Known, typename Suggest>
  void CheckKeys(const char* section, Known known, Suggest suggest) {
    std::vector<platform::IniEntry> entries = ini_.Entries(section);
    for (size_t i = 0; i < entries.size(); ++i) {
      const platform::IniEntry& e = entries[i];
      bool repeated = false;
      for (size_t j = 0; j < i && !repeated; ++j) {
        if (!platform::SameIniName(entries[j].key, e.key)) continue;
        repeated = true;
        Ini(e.line, Severity::Warning,
            e.key + " is given again: the updater reads only the first, on line " +
                std::to_string(entries[j].line));
      }
      if (!repeated && !known(e)) {
        std::string near = suggest(e.key);
        Ini(e.line, Severity::Warning,
            "[" + std::string(section) + "] " + e.key + " is no key the updater reads" +
                (near.empty() ? "" : "; did you mean " + near + "?") +
                See(std::strcmp(section, "SETUP") == 0 ? kSeeSetup : kSeeUpdate));
      }
    }
  }

  // --- the file as a whole

  // Sections the updater never reads: repeated ones, and misspelt or unknown
  // names. A misspelling of a section the file lacks is kept for the report
  // of the missing section, at the misspelt line.
  void CheckSections() {
    const std::vector<std::string> known = {"SETUP", "UPDATE"};
    std::vector<platform::IniEntry> sections = ini_.Sections();
    for (size_t i = 0; i < sections.size(); ++i) {
      const platform::IniEntry& s = sections[i];
      const std::string shown = "[" + Cp932ToShown(s.key) + "]";
      bool isKnown = false;
      for (const std::string& k : known) isKnown = isKnown || platform::SameIniName(s.key, k);
      if (isKnown) {
        for (size_t j = 0; j < i; ++j)
          if (platform::SameIniName(sections[j].key, s.key)) {
            Ini(s.line, Severity::Warning,
                shown + " is given again: the updater reads only the first, on line " +
                    std::to_string(sections[j].line) + See(kSeeText));
            break;
          }
        continue;
      }
      std::string near = ClosestName(s.key, known);
      if (!near.empty() && ini_.SectionLine(near.c_str()) == 0 && !misspelt_.count(near)) {
        misspelt_[near] = s;
        continue;
      }
      Ini(s.line, Severity::Warning,
          shown + " is no section the updater reads" +
              (near.empty() ? "" : "; did you mean [" + near + "]?") + See(kSeeText));
    }
  }

  // Where a missing section is reported: at its misspelling, if any.
  int MissingSectionLine(const char* section) const {
    auto it = misspelt_.find(section);
    return it == misspelt_.end() ? 1 : it->second.line;
  }
  std::string MissingSection(const char* section) const {
    auto it = misspelt_.find(section);
    std::string text = std::string("no [") + section + "] section";
    if (it != misspelt_.end())
      text = "[" + Cp932ToShown(it->second.key) + "] is no section the updater reads; did you mean [" +
             section + "]? There is " + text;
    return text;
  }

  // A ';' after a value is part of it: INI comments start their line. For
  // a path or a name that is an error, for a shown text or a number that
  // still reads alike a warning. The value's other reports are left out.
  void CheckComments() {
    for (const char* section : {"SETUP", "UPDATE"})
      for (const platform::IniEntry& e : ini_.Entries(section)) {
        size_t at = TrailingCommentAt(e.value);
        if (at == std::string::npos) continue;
        comments_.insert(e.line);
        bool harmless = false;
        for (const KeySpec& spec : kSetupKeys)
          harmless = harmless || (std::strcmp(section, "SETUP") == 0 &&
                                  platform::SameIniName(e.key, spec.name) && spec.whenCut == Severity::Warning);
        std::string meant = e.value.substr(0, at);
        std::string reading;
        if (platform::SameIniName(e.key, "RequiredDiskSpace") || platform::SameIniName(e.key, "OverwriteOnly")) {
          harmless = ParseInt32(meant.c_str()) == ParseInt32(e.value.c_str());
          reading = ", which the updater reads as " + std::to_string(ParseInt32(e.value.c_str()));
        }
        Ini(e.line, harmless ? Severity::Warning : Severity::Error,
            e.key + ": " + Quote(e.value.substr(at)) + " is part of the value, not a comment (a comment "
            "is a line of its own that starts with ';'), so the value is " + Quote(e.value) + reading + See(kSeeText));
      }
  }

  // --- [SETUP]

  void CheckSetup() {
    int sectionLine = ini_.SectionLine("SETUP");
    auto stops = [](const char* key) {
      return std::string(": the updater stops at start with \"SETUP : ") + key + " キーが存在しません\"" +
             See(kSeeSetup);
    };
    if (sectionLine == 0) {
      Ini(MissingSectionLine("SETUP"), Severity::Error,
          MissingSection("SETUP") + stops(kSetupKeys[0].name));
      return;
    }
    for (const KeySpec& spec : kSetupKeys) {
      Value v = Read("SETUP", spec.name, spec.field);
      if (spec.required && !v.present) {
        Ini(v.given ? v.line : sectionLine, Severity::Error,
            std::string("[SETUP] ") + spec.name + (v.given ? " is empty" : " is missing") + stops(spec.name));
        continue;
      }
      CheckText(v, spec.name);
      CheckCut(v, spec.name, spec.field, spec.whenCut, kSeeSetup);
      if (std::strcmp(spec.name, "DataFolder") == 0) {
        dataFolder_ = v.text;
        if (MemberNameOffset(v.text.c_str()) != 0)
          Ini(v.line, Severity::Warning,
              "DataFolder has more than one level: the updater creates only the last, so the "
              "others must exist in every installation" + See(kSeeSetup));
      }
    }
    std::vector<std::string> names;
    for (const KeySpec& spec : kSetupKeys) names.push_back(spec.name);
    CheckKeys(
        "SETUP",
        [&](const platform::IniEntry& e) {
          for (const std::string& name : names)
            if (platform::SameIniName(e.key, name)) return true;
          return false;
        },
        [&](const std::string& key) { return ClosestName(key, names); });
  }

  // --- [UPDATE]

  struct ReadEntry {
    Value value;
    int n;
  };

  // Reads a numbered list as the procedure does: from 00 up to the first
  // missing key, 16 at most. *endKey is the key that ended it.
  std::vector<ReadEntry> ReadList(const char* prefix, size_t field, Value* end, int* endNumber) {
    std::vector<ReadEntry> list;
    *endNumber = kMaxItems;
    for (int n = 0; n < kMaxItems; ++n) {
      Value v = Read("UPDATE", KeyName(prefix, n), field);
      if (!v.present) {
        *end = v;
        *endNumber = n;
        break;
      }
      list.push_back({v, n});
    }
    return list;
  }

  // The keys of a numbered list that the procedure never reaches.
  void CheckListNumbers(const char* prefix, const std::vector<ReadEntry>& list, const Value& end,
                        int endNumber, const char* anchor) {
    std::set<std::string> seen;
    for (const platform::IniEntry& e : ini_.Entries("UPDATE")) {
      size_t rest = 0;
      if (!StartsWithNoCase(e.key, prefix, &rest)) continue;
      std::string digits = e.key.substr(rest);
      if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) continue;
      std::string folded = e.key;
      for (char& c : folded) c = (c >= 'a' && c <= 'z') ? char(c - 32) : c;
      if (!seen.insert(folded).second) continue;  // reported as repeated
      bool read = false;
      for (const ReadEntry& r : list) read = read || r.value.line == e.line;
      if (read) continue;
      long number = digits.size() > 3 ? 1000 : std::stol(digits);
      if (number >= kMaxItems) {
        Ini(e.line, Severity::Error,
            e.key + " is never read: the updater reads " + KeyName(prefix, 0) + " to " +
                KeyName(prefix, kMaxItems - 1) + " only" + See(anchor));
      } else if (digits.size() != 2) {
        Ini(e.line, Severity::Error,
            e.key + " is never read: the updater reads the key " + KeyName(prefix, int(number)) +
                ", with two digits" + See(anchor));
      } else if (number > endNumber) {
        std::string why = end.given ? " is empty, on line " + std::to_string(end.line)
                                    : " is missing";
        Ini(e.line, Severity::Error,
            e.key + " is never read: the list ends where " + KeyName(prefix, endNumber) + why + See(anchor));
      }
    }
  }

  // How an entry names its install mode: the modes 0-9 it applies to.
  template <typename Parse>
  std::vector<int> ModesOf(Parse parse) {
    std::vector<int> modes;
    for (int m = 0; m < kModes; ++m)
      if (parse(m)) modes.push_back(m);
    return modes;
  }

  // The room an item's relative path leaves for the installation (or data)
  // path it is joined to.
  void CheckJoinedRoom(const Value& v, const std::string& key, size_t relative, const char* base,
                       const char* anchor) {
    // Shortest base: a drive root "C:\", which takes no separator.
    if (relative + 3 > kJoinedMax) {
      Ini(v.line, Severity::Error,
          key + ": the path is " + std::to_string(relative) + " bytes; joined to any " + base +
              " it passes the 259 bytes of the updater's path field" + See(anchor));
      return;
    }
    size_t room = kJoinedMax - 1 - relative;
    if (room < kInstallRoomWarning)
      Ini(v.line, Severity::Warning,
          key + ": the path leaves " + std::to_string(room) + " bytes for the " + base +
              " itself; a longer one makes the write fail" + See(anchor));
  }

  void CheckUpdateEntry(const ReadEntry& r, std::vector<uint64_t>* bytesPerMode) {
    const Value& v = r.value;
    const std::string key = KeyName("UpdateFile", r.n);
    if (comments_.count(v.line)) {
      // Reported as a comment; the file its author meant is not unused.
      UpdateItem item{};
      std::string meant = v.text.substr(0, TrailingCommentAt(v.text));
      meant.erase(meant.find_last_not_of(" \t") + 1);
      ParseUpdateEntry(meant.c_str(), 0, &item);
      if (FolderFile* file = FindMember(item.path + item.nameOffset)) file->used = true;
      return;
    }
    CheckText(v, key);
    CheckCut(v, key, kMessageBuffer, Severity::Error, kSeeEntries);

    UpdateItem item{};
    std::vector<int> modes = ModesOf([&](int m) { return ParseUpdateEntry(v.text.c_str(), m, &item); });
    // Without a mode digit every mode reads the entry alike.
    ParseUpdateEntry(v.text.c_str(), modes.size() == 1 ? modes[0] : 0, &item);

    size_t tokens = 0;
    {
      char token[kField];
      const char* cursor = v.text.c_str();
      while (NextListToken(&cursor, token)) ++tokens;
    }
    size_t used = (modes.size() == 1 ? 1 : 0) + (item.kind != Replace ? 1 : 0) + 1;
    if (tokens > used)
      Ini(v.line, Severity::Warning,
          key + ": the text after the path is ignored (an entry is [mode,][kind,]path)" + See(kSeeEntries));
    if (item.path[0] == '\0') {
      Ini(v.line, Severity::Error, key + " names no path: the write fails" + See(kSeeEntries));
      return;
    }
    size_t relative = std::strlen(item.path) + (dataFolder_.empty() ? 0 : dataFolder_.size() + 1);
    CheckJoinedRoom(v, key, relative, item.kind == Data ? "data path" : "installation path", kSeeEntries);

    const std::string member = item.path + item.nameOffset;
    BuildError nameError = CheckMemberName(member);
    if (nameError != BuildError::None) {
      Ini(v.line, Severity::Error,
          key + ": " + Quote(member) + " cannot name an archive member: " + DescribeBuildError(nameError) +
              See(kSeeEntries));
      return;
    }
    FolderFile* file = FindMember(member);
    if (!file) {
      // An Overwrite item, or any under OverwriteOnly, whose target is not
      // installed is skipped before the member is looked for.
      if (item.kind == Overwrite || overwriteOnly_)
        Ini(v.line, Severity::Error,
            key + ": the folder has no file " + Quote(member) + ", so the update stops there with "
            "\"ファイルの書き込みに失敗しました\" where the installation holds the target (where it does "
            "not, the entry is skipped)" + See(kSeeEntries));
      else
        Ini(v.line, Severity::Error,
            key + ": the folder has no file " + Quote(member) + ", so the update stops there with "
            "\"ファイルの書き込みに失敗しました\"" + See(kSeeEntries));
      return;
    }
    file->used = true;
    for (int m : modes) (*bytesPerMode)[size_t(m)] += file->size;
  }

  void CheckCopyEntry(const ReadEntry& r) {
    const Value& v = r.value;
    const std::string key = KeyName("CopyFile", r.n);
    if (comments_.count(v.line)) return;
    CheckText(v, key);
    CheckCut(v, key, kField, Severity::Error, kSeeCopies);

    CopyItem item{};
    std::vector<int> modes = ModesOf([&](int m) { return ParseCopyEntry(v.text.c_str(), m, &item); });
    if (modes.empty()) {
      // A comma in second place makes the first character a mode, digit or not.
      int mode = int(uint8_t(v.text[0])) - '0';
      Ini(v.line, Severity::Warning,
          key + ": the install mode " + Quote(v.text.substr(0, 1)) + " is no digit: the entry applies "
          "only to install mode " + std::to_string(mode) + See(kSeeCopies));
      ParseCopyEntry(v.text.c_str(), mode, &item);
    }
    if (item.disk < 0 || item.disk > 9) {
      char disk = char(item.disk + '0');
      Ini(v.line, Severity::Error,
          key + ": the disk " + Quote(std::string(1, disk)) + " is not 0 to 9: no disc is ever found, "
          "and the player is asked for it again and again" + See(kSeeCopies));
    }
    if (item.path[0] == '\0') {
      Ini(v.line, Severity::Error, key + " names no path on the disc: the copy fails" + See(kSeeCopies));
      return;
    }
    // The source is the disc's root ("Q:") joined with the path.
    size_t length = std::strlen(item.path);
    if (length + 3 > kJoinedMax)
      Ini(v.line, Severity::Error,
          key + ": the path is " + std::to_string(length) + " bytes; joined to the disc's drive it "
          "passes the 259 bytes of the updater's path field" + See(kSeeCopies));
    else
      CheckJoinedRoom(v, key, length, "installation path", kSeeCopies);
  }

  void CheckUpdate() {
    int sectionLine = ini_.SectionLine("UPDATE");
    Value updateEnd, copyEnd;
    int updateEndNumber = 0, copyEndNumber = 0;
    std::vector<ReadEntry> updates = ReadList("UpdateFile", kMessageBuffer, &updateEnd, &updateEndNumber);
    std::vector<ReadEntry> copies = ReadList("CopyFile", kField, &copyEnd, &copyEndNumber);

    if (updates.empty() && copies.empty())
      Ini(sectionLine ? sectionLine : MissingSectionLine("UPDATE"), Severity::Error,
          (sectionLine ? std::string() : MissingSection("UPDATE") + ": ") +
              "no UpdateFile00 and no CopyFile00, so the update stops with \"No 'UpdateFileXX' and "
              "'CopyFileXX'\"" + See(kSeeUpdate));

    CheckListNumbers("UpdateFile", updates, updateEnd, updateEndNumber, kSeeEntries);
    CheckListNumbers("CopyFile", copies, copyEnd, copyEndNumber, kSeeCopies);

    summary_.updateEntries = int(updates.size());
    summary_.copyEntries = int(copies.size());
    std::vector<uint64_t> bytesPerMode(kModes, 0);
    overwriteOnly_ = ParseInt32(Read("UPDATE", "OverwriteOnly", kField).text.c_str()) != 0;
    for (const ReadEntry& r : updates) CheckUpdateEntry(r, &bytesPerMode);
    for (const ReadEntry& r : copies) CheckCopyEntry(r);
    int busiestMode = int(std::max_element(bytesPerMode.begin(), bytesPerMode.end()) - bytesPerMode.begin());
    summary_.bytesWritten = bytesPerMode[size_t(busiestMode)];

    CheckNumber(Read("UPDATE", "OverwriteOnly", kField), "OverwriteOnly", kSeeUpdate, false);
    Value space = Read("UPDATE", "RequiredDiskSpace", kField);
    if (CheckNumber(space, "RequiredDiskSpace", kSeeSpace, true)) {
      uint32_t required = uint32_t(ParseInt32(space.text.c_str()));
      if (required != 0 && required < summary_.bytesWritten) {
        std::string mode = bytesPerMode[0] == bytesPerMode[size_t(busiestMode)]
                               ? std::string()
                               : " in install mode " + std::to_string(busiestMode);
        Ini(space.line, Severity::Warning,
            "RequiredDiskSpace is " + std::to_string(required) + " bytes, less than the " +
                std::to_string(summary_.bytesWritten) + " the update writes" + mode +
                ": with less room the update stops part way" + See(kSeeSpace));
      }
    }

    CheckKeys(
        "UPDATE",
        [](const platform::IniEntry& e) {
          size_t rest = 0;
          if (StartsWithNoCase(e.key, "UpdateFile", &rest) || StartsWithNoCase(e.key, "CopyFile", &rest))
            return e.key.size() > rest && e.key.find_first_not_of("0123456789", rest) == std::string::npos;
          return platform::SameIniName(e.key, "RequiredDiskSpace") ||
                 platform::SameIniName(e.key, "OverwriteOnly");
        },
        [](const std::string& key) {
          // A numbered key keeps its number: UpdateFiel03 is near UpdateFile03.
          size_t digits = key.find_last_not_of("0123456789") + 1;
          if (digits < key.size()) {
            std::string near = ClosestName(key.substr(0, digits), {"UpdateFile", "CopyFile"});
            if (!near.empty()) return near + key.substr(digits);
          }
          return ClosestName(key, {"RequiredDiskSpace", "OverwriteOnly"});
        });
  }

  // A number as the updater converts it; false when it is not one. A byte
  // count is used unsigned: -1 reads as 4294967295.
  bool CheckNumber(const Value& v, const char* key, const char* anchor, bool bytes) {
    if (!v.present || comments_.count(v.line)) return false;
    const std::string& t = v.text;
    size_t start = (t[0] == '+') ? 1 : 0;
    bool digits = t.size() > start && t.find_first_not_of("0123456789", start) == std::string::npos;
    int32_t read = ParseInt32(t.c_str());
    std::string used = bytes ? std::to_string(uint32_t(read)) + " bytes" : std::to_string(read);
    if (!digits) {
      Ini(v.line, Severity::Error,
          std::string(key) + " " + Quote(t) + " is not a plain number: the updater reads it as " +
              used + See(anchor));
      return false;
    }
    if (ParseUInt64(t.c_str() + start) > uint64_t(INT32_MAX)) {
      Ini(v.line, Severity::Error,
          std::string(key) + " " + t + " is beyond the updater's 32-bit reading, which takes it as " +
              used + See(anchor));
      return false;
    }
    return true;
  }

  void CheckUnusedFiles() {
    for (const FolderFile& f : files_)
      if (!f.used && !f.cp932.empty())
        Report(f.shown, 0, Severity::Warning,
               "no UpdateFileXX entry uses this file: it only makes the update larger" + See(kSeeEntries));
  }

  std::string dir_;
  FILE* out_;
  CheckSummary summary_;
  Findings findings_;
  std::vector<FolderFile> files_;
  platform::IniText ini_{std::string()};
  std::string dataFolder_;
  bool overwriteOnly_ = false;  // [UPDATE] OverwriteOnly is on
  std::map<std::string, platform::IniEntry> misspelt_;  // missing section -> its misspelling
  std::set<int> comments_;  // lines of values with a ';' after them
};

}  // namespace

CheckSummary CheckUpdateFolder(const std::string& dir, FILE* out) { return Checker(dir, out).Run(); }

std::string CleanCheckLine(const CheckSummary& summary) {
  auto entries = [](int n, const char* kind) {
    return std::to_string(n) + " " + kind + (n == 1 ? " entry" : " entries");
  };
  return std::string(kIniName) + ": ok, " + entries(summary.updateEntries, "update") + ", " +
         entries(summary.copyEntries, "copy");
}

}  // namespace qa2
