#include "tools/qa2/preview.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "archive/archive.h"
#include "archive/builder.h"
#include "platform/codepage.h"
#include "platform/ini_text.h"
#include "platform/overlay/preview_platform.h"
#include "platform/tool_support.h"
#include "settings/installation.h"
#include "settings/list_syntax.h"
#include "settings/settings.h"
#include "tools/qa2/cli.h"
#include "updater/dialog.h"
#include "updater/observer.h"
#include "updater/startup.h"
#include "updater/state.h"

namespace qa2 {

const char kPreviewUnknowns[] =
    "not known to a preview: whether another copy of the updater or the game is running "
    "(both make it ask or stop), and the player's own choices; it assumes neither runs and "
    "that the player presses 次へ, 次へ, 完了 and answers every box with OK";

namespace {

namespace fs = std::filesystem;
using platform::OverlayFiles;

std::string U(const std::string& cp932) { return platform::Cp932ToUtf8(cp932); }

// What the procedure told about each entry, in the order read.
class Recorder : public ProcedureObserver {
 public:
  explicit Recorder(platform::PreviewPlatform& os) : os_(os) {}

  struct Entry {
    std::string key, value;  // code page 932
    bool copy = false;
    int index = -1;          // in its table; -1 for another install mode
  };
  struct Item {
    bool decided = false;
    std::string target;  // empty: did not fit
    ItemAction action = ItemAction::Skip;
    OverlayFiles::Entry before;
    bool rewritten = false;
    RewriteResult rewrite = RewriteResult::Rewritten;
    bool extracted = false;
    ExtractOutcome outcome;
    uint64_t memberTime = 0;
    bool gated = false;
    GateVerdict verdict = GateVerdict::AsToday;
    std::string gateTarget, patch;
  };
  struct Copy {
    bool started = false, done = false, fits = true;
    std::string source, destination;
    OverlayFiles::Entry sourceBefore;
    size_t firstChange = 0, endChange = 0;
    platform::ShellCopyResult result;
  };

  void OnEntry(const char* key, const char* value, int index) override {
    entries.push_back(Entry{key, value, std::strncmp(key, "Copy", 4) == 0, index});
  }
  void OnItemDecided(int index, const char* target, ItemAction action) override {
    Item& item = items[index];
    item.decided = true;
    item.target = target ? target : "";
    item.action = action;
    if (target) item.before = os_.files().Look(target);
  }
  void OnItemGated(int index, const char* target, GateVerdict verdict, const PatchTarget& record, int base) override {
    Item& item = items[index];
    item.gated = true;
    item.verdict = verdict;
    item.gateTarget = target;
    if (base >= 0) item.patch = record.bases[size_t(base)].patch;
  }
  void OnItemRewritten(int index, const char*, RewriteResult result) override {
    items[index].rewritten = true;
    items[index].rewrite = result;
  }
  void OnItemExtracted(int index, const char*, const ExtractOutcome& outcome) override {
    Item& item = items[index];
    item.extracted = true;
    item.outcome = outcome;
    const UpdateItem& u = Tables.Items[index];
    uint64_t offset = 0;
    if (Updater.Archive) {
      int32_t member = FindArchiveMember(*Updater.Archive, u.path + u.nameOffset, &offset);
      if (member >= 0) item.memberTime = Updater.Archive->entry(uint32_t(member)).fileTime;
    }
  }
  void OnCopyStarting(int index, const char* source, const char* destination) override {
    Copy& copy = copies[index];
    copy.started = true;
    copy.source = source;
    copy.destination = destination;
    copy.sourceBefore = os_.files().Look(source);
    copy.firstChange = os_.files().changes().size();
  }
  void OnCopyDone(int index, bool fits, const platform::ShellCopyResult& result) override {
    Copy& copy = copies[index];
    copy.done = true;
    copy.endChange = os_.files().changes().size();
    copy.fits = fits;
    copy.result = result;
  }

  std::vector<Entry> entries;
  std::map<int, Item> items;
  std::map<int, Copy> copies;

 private:
  platform::PreviewPlatform& os_;
};

void ResetUpdaterState() {
  Updater.Reset();
  ResetSettingsState();
  ResetInstallationDescription();
  std::memset(&Tables, 0, sizeof Tables);
  UpdateCompleted = false;
  DialogStep = 0;
  DialogBusy = 0;
}

// The target an entry names, joined as the procedure joins it.
std::string JoinTarget(const char* base, const char* folder, const char* path) {
  char target[kNameField];
  if (!CopyToField(target, sizeof target, base) ||
      (folder && !AppendPathComponent(target, sizeof target, folder)) ||
      !AppendPathComponent(target, sizeof target, path))
    return std::string();
  return target;
}

std::optional<uint32_t> RequiredDiskSpace(const uint8_t* image, size_t size) {
  if (size == 0 || size > UINT32_MAX) return std::nullopt;
  std::unique_ptr<UpdateArchive> archive = OpenUpdateArchive(ArchiveSource{image, uint32_t(size)});
  if (!archive) return std::nullopt;
  uint64_t offset = 0;
  int32_t index = FindArchiveMember(*archive, "UPDATE.INI", &offset);
  if (index < 0) return std::nullopt;
  DecodeError decode;
  MemoryBlock ini = ReadArchiveMember(*archive, image, size, uint32_t(index), &decode);
  if (!ini.ok()) return std::nullopt;
  platform::IniEntry entry;
  if (!platform::IniText(std::string(reinterpret_cast<const char*>(ini.data()), ini.size()))
           .Find("UPDATE", "RequiredDiskSpace", &entry))
    return std::nullopt;
  return uint32_t(ParseInt32(entry.value.c_str()));
}

std::string Time(uint64_t fileTime) { return FormatFileTime(fileTime) + " UTC"; }

class Builder {
 public:
  Builder(platform::PreviewPlatform& os, const Recorder& recorder, PreviewReport& report)
      : os_(os), rec_(recorder), report_(report) {}

  void Build() {
    // A run that stopped at start-up read no entries.
    for (const Recorder::Entry& e : rec_.entries) {
      if (e.index < 0) OtherMode(e);
      else if (e.copy) CopyLines(e);
      else ItemLine(e);
    }
    for (const OverlayFiles::Change& c : os_.files().changes()) {
      std::string local = os_.files().LocalPath(c.path);
      if (local.empty()) continue;  // the temporary folder
      if (c.kind == OverlayFiles::Change::Deleted) report_.deletions.push_back(local);
      if (c.kind == OverlayFiles::Change::Attributes)
        report_.attributes.push_back({local, c.oldAttributes, c.newAttributes});
    }
    for (const PreviewFile& f : report_.files)
      if (f.writes) report_.bytesWritten += f.bytes;
  }

 private:
  PreviewFile Line(const Recorder::Entry& e, const std::string& target) {
    PreviewFile f;
    f.entry = e.key;
    f.target = U(target);
    f.path = target.empty() ? std::string() : os_.files().LocalPath(target);
    return f;
  }

  void OtherMode(const Recorder::Entry& e) {
    // Read as the entry's own install mode would, to name its target.
    std::string target;
    int32_t mode = -1;
    for (int32_t m = 0; m <= 9 && mode < 0; ++m) {
      if (e.copy) {
        CopyItem item;
        if (ParseCopyEntry(e.value.c_str(), m, &item)) {
          mode = m;
          target = JoinTarget(Updater.InstPath, nullptr, item.path);
        }
      } else {
        UpdateItem item;
        if (ParseUpdateEntry(e.value.c_str(), m, &item)) {
          mode = m;
          target = JoinTarget(item.kind == Data ? Updater.DataPath : Updater.InstPath,
                              Updater.DataFolder, item.path);
        }
      }
    }
    PreviewFile f = Line(e, target);
    f.action = "other-mode";
    f.why = mode >= 0 ? "for install mode " + std::to_string(mode) + "; this installation is mode " +
                            std::to_string(Updater.InstMode)
                      : "for another install mode than " + std::to_string(Updater.InstMode);
    report_.files.push_back(f);
  }

  void ItemLine(const Recorder::Entry& e) {
    const UpdateItem& u = Tables.Items[e.index];
    const std::string member = U(u.path + u.nameOffset);
    auto it = rec_.items.find(e.index);
    if (it != rec_.items.end() && it->second.gated && it->second.verdict == GateVerdict::WrongVersion) {
      PreviewFile f = Line(e, it->second.gateTarget);
      f.action = "wrong-version";
      f.why = "the installed file is neither the new version of member " + member +
              " nor one the update's patches start from; the update stops before writing anything";
      report_.files.push_back(f);
      return;
    }
    if (it == rec_.items.end() || !it->second.decided) {
      PreviewFile f = Line(e, JoinTarget(u.kind == Data ? Updater.DataPath : Updater.InstPath,
                                         Updater.DataFolder, u.path));
      f.action = "not-reached";
      f.why = "the update stopped before this entry";
      report_.files.push_back(f);
      return;
    }
    const Recorder::Item& item = it->second;
    PreviewFile f = Line(e, item.target);
    if (item.target.empty()) {
      f.action = "fail";
      f.why = "the target's path is longer than 259 bytes; the update stops";
    } else if (item.gated && item.verdict == GateVerdict::AlreadyNew && item.action != ItemAction::Skip) {
      f.action = "already-new";
      f.why = "the installed file is already the new version of member " + member +
              " (same size and SHA-256); it is left untouched, its times and attributes too";
    } else if (item.gated && item.verdict == GateVerdict::LeftNewer && item.action != ItemAction::Skip) {
      f.action = "keep-newer";
      f.why = "u entry: the installed file (" + Time(item.before.time) + ") is later than member " + member +
              ", which the update carries only as patches";
    } else if (item.action == ItemAction::Skip) {
      f.action = "skip-absent";
      f.why = std::string(item.before.folder ? "a folder is there, not a file" : "no file is installed there") +
              (u.kind == Overwrite ? " (o entry)" : " (OverwriteOnly)");
    } else if (item.rewritten && item.rewrite == RewriteResult::Rewritten) {
      f.action = "rewrite";
      f.writes = true;
      f.bytes = item.before.size;
      f.why = "d entry: the player's file is kept and written back with its own bytes (its time becomes now)";
    } else if (item.rewritten && item.rewrite == RewriteResult::WriteFailed) {
      f.action = "keep";
      f.why = "d entry: the player's file cannot be written back (read-only); it stays as it is";
    } else {
      Extracted(item, member, &f);
    }
    report_.files.push_back(f);
  }

  void Extracted(const Recorder::Item& item, const std::string& member, PreviewFile* f) {
    const ExtractOutcome& o = item.outcome;
    const bool existed = item.before.exists && !item.before.folder;
    const std::string readOnly = existed && (item.before.attributes & platform::kAttrReadOnly)
                                     ? "; its read-only attribute is cleared" : "";
    const std::string prefix = item.action == ItemAction::KeepOrExtract ? "d entry, no readable file installed: " : "";
    switch (o.status) {
      case ExtractStatus::Written:
        f->writes = true;
        f->bytes = os_.files().Look(item.target).size;
        if (item.gated && item.verdict == GateVerdict::Patch) {
          f->action = "patch";
          f->why = "the installed file is the " + std::to_string(item.before.size) +
                   "-byte version that patch " + U(item.patch) + " starts from; it is patched to the new version of member " +
                   member + readOnly;
        } else if (!existed) {
          f->action = "new";
          f->why = prefix + "no file is installed there; member " + member + " is written";
        } else if (item.before.time > item.memberTime) {
          f->action = "replace-newer";
          f->why = "the installed file (" + Time(item.before.time) + ") is later than member " + member +
                   " (" + Time(item.memberTime) + "), but this entry replaces regardless (a u entry would keep it)" +
                   readOnly;
        } else if (item.action == ItemAction::ExtractIfNewer) {
          f->action = "replace";
          f->why = "u entry: the installed file (" + Time(item.before.time) + ") is not later than member " +
                   member + " (" + Time(item.memberTime) + ")" + readOnly;
        } else {
          f->action = "replace";
          f->why = "member " + member + " replaces the installed file" + readOnly;
        }
        break;
      case ExtractStatus::LeftNewer:
        f->action = "keep-newer";
        f->why = "u entry: the installed file (" + Time(item.before.time) + ") is later than member " + member +
                 " (" + Time(item.memberTime) + ")" + readOnly;
        break;
      case ExtractStatus::NotFound:
        f->action = "member-missing";
        f->why = "the archive has no member " + member + "; the update stops";
        break;
      case ExtractStatus::NoSpace:
        f->action = "fail";
        f->why = "not enough space on " + std::string(o.drive) + " (" + std::to_string(o.shortfall) +
                 " bytes short); the update stops";
        break;
      case ExtractStatus::DestinationIsFolder:
        f->action = "fail";
        f->why = "a folder has the target's name; the update stops";
        break;
      case ExtractStatus::CorruptMember:
        f->action = "fail";
        f->why = "member " + member + " does not decode; the update stops";
        break;
      case ExtractStatus::NoMemory:
        f->action = "fail";
        f->why = "no memory for member " + member + "; the update stops";
        break;
      case ExtractStatus::WriteFailed: {
        f->action = "fail";
        f->why = "the file cannot be written";
        if (!item.before.exists) {
          std::string folder = item.target;
          size_t cut = 0;
          for (size_t i = 0; i < folder.size(); ++i) {
            if (platform::IsLeadByte(uint8_t(folder[i])) && i + 1 < folder.size()) ++i;
            else if (folder[i] == '\\') cut = i;
          }
          if (!os_.files().Look(folder.substr(0, cut)).folder)
            f->why = "its folder " + U(folder.substr(0, cut)) + " does not exist (only DataFolder is created)";
        }
        f->why += "; the update stops";
        break;
      }
    }
  }

  void CopyLines(const Recorder::Entry& e) {
    const CopyItem& c = Tables.Copies[e.index];
    auto it = rec_.copies.find(e.index);
    if (it == rec_.copies.end() || (!it->second.started && it->second.fits)) {
      PreviewFile f = Line(e, JoinTarget(Updater.InstPath, nullptr, c.path));
      if (os_.waiting() == "disc" && !waitShown_) {
        waitShown_ = true;
        f.action = "wait-disc";
        f.why = "disc " + std::to_string(c.disk) + " is in no --cdrom drive (its check file " +
                U(Installation.DiskCheckFile[c.disk >= 0 && c.disk <= 9 ? c.disk : 0]) +
                " is found on none); the player is asked for it";
      } else {
        f.action = "not-reached";
        f.why = "the update stopped before this entry";
      }
      report_.files.push_back(f);
      return;
    }
    const Recorder::Copy& copy = it->second;
    if (!copy.fits) {
      PreviewFile f = Line(e, JoinTarget(Updater.InstPath, nullptr, c.path));
      f.action = "fail";
      f.why = "a path of the copy is longer than 259 bytes; the update stops";
      report_.files.push_back(f);
      return;
    }
    const auto& changes = os_.files().changes();
    for (size_t i = copy.firstChange; i < copy.endChange && i < changes.size(); ++i) {
      const OverlayFiles::Change& ch = changes[i];
      if (ch.kind != OverlayFiles::Change::Copied) continue;
      PreviewFile f = Line(e, ch.path);
      f.writes = true;
      f.from = U(ch.from);
      f.bytes = ch.size;
      f.action = ch.existed ? "replace" : "new";
      f.why = std::string("copied from the disc") + (ch.existed ? ", over the installed file" : "");
      report_.files.push_back(f);
    }
    if (copy.result.result != 0) {
      PreviewFile f = Line(e, copy.destination);
      f.from = U(copy.source);
      if (!copy.sourceBefore.exists) {
        f.action = "disc-missing";
        f.why = U(copy.source) + " is not on the disc; the update stops";
      } else {
        f.action = "fail";
        f.why = "the copy fails; the update stops";
      }
      report_.files.push_back(f);
    }
  }

  platform::PreviewPlatform& os_;
  const Recorder& rec_;
  PreviewReport& report_;
  bool waitShown_ = false;
};

}  // namespace

PreviewReport RunPreview(const PreviewOptions& options, const uint8_t* archive, size_t size) {
  PreviewReport report;
  report.requiredDiskSpace = RequiredDiskSpace(archive, size);
  platform::PreviewSettings settings;
  platform::Utf8ToCp932(options.instPath, &settings.instPath);
  platform::Utf8ToCp932(options.dataPath, &settings.dataPath);
  settings.installFolder = options.install;
  settings.dataFolder = options.data;
  settings.instMode = options.mode;
  for (const auto& d : options.cdroms) settings.cdroms[char(d.first & ~0x20)] = d.second;
  settings.freeGiven = options.freeBytes.has_value();
  settings.freeBytes = options.freeBytes.value_or(0);
  settings.archive = archive;
  settings.archiveSize = size;

  ResetUpdaterState();
  platform::PreviewPlatform os(std::move(settings));
  Recorder recorder(os);
  platform::SetOs(&os);
  SetProcedureObserver(&recorder);
  int code = RunUpdater();
  Builder(os, recorder, report).Build();
  SetProcedureObserver(nullptr);
  platform::SetOs(nullptr);

  report.waits = os.waiting();
  if (report.waits.empty()) report.exitCode = code;
  report.registryKey = os.registryKey().empty() ? "" : "HKEY_CURRENT_USER\\" + U(os.registryKey());
  report.instPath = U(os.instPath());
  report.dataPath = U(os.dataPath());
  report.instPathSource = options.instPath.empty() ? "default" : "--inst-path";
  report.dataPathSource = !options.dataPath.empty() ? "--data-path"
                          : options.data.empty()   ? "default: as InstPath"
                                                   : "default";
  report.instMode = options.mode;
  for (const platform::PreviewText& t : os.texts())
    report.messages.push_back({t.kind == platform::PreviewText::Box ? "box" : "page", U(t.caption), U(t.text)});
  report.freeBytes = os.freeBefore();
  report.freeSource = options.freeBytes ? "--free" : "the installation folder's own";
  report.inputError = os.files().inputError();
  if (report.exitCode && *report.exitCode == 0 && report.messages.empty()) {
    const platform::ProfileRead& last = os.lastProfileRead();
    const std::string file = U(last.path.substr(last.path.find_last_of('\\') + 1));
    report.silentEnd = "start-up ends without a message after reading " + file + " [" + U(last.section) + "] " +
                       U(last.key) + (last.found ? " = " + U(last.value) : ", which is missing or empty");
  }
  ResetUpdaterState();
  return report;
}

}  // namespace qa2
