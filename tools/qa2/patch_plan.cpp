#include "tools/qa2/patch_plan.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "archive/archive.h"
#include "archive/patch.h"
#include "archive/patch_coder.h"
#include "archive/sha256.h"
#include "platform/ini_text.h"
#include "platform/tool_support.h"
#include "settings/list_syntax.h"
#include "tools/qa2/check_support.h"
#include "tools/qa2/cli.h"
#include "updater/entries.h"

namespace qa2 {
namespace {

namespace fs = std::filesystem;

constexpr size_t kField = 260;
constexpr size_t kList = 1024;

using Content = FileContent;

struct Entry {
  UpdateItem item;
  std::string key;
  bool modeDigit;
};

// A member with a patch candidate per content the bases hold.
struct Plan {
  size_t member;  // index into the folder's members
  Content now;
  std::vector<Content> contents;
  std::vector<std::vector<size_t>> candidates;  // per content: indexes into the builder's list
  bool patchable = true;          // no d entry, not --keep-whole
  bool everyTargetHeld = true;
  bool onlyWhereItIs = true;      // every entry is o, or OverwriteOnly
};

constexpr size_t kNone = ~size_t(0);
constexpr uint64_t kBothTuningsMax = uint64_t(256) << 20;
constexpr uint64_t kRawAlsoMax = uint64_t(1) << 20;

bool ReadUpdateIni(const std::vector<FolderMember>& members, platform::IniText* ini) {
  for (const FolderMember& m : members) {
    if (!ArchiveNamesEqual(m.member.name.c_str(), "UPDATE.INI")) continue;
    std::ifstream in(fs::u8path(m.path), std::ios::binary);
    *ini = platform::IniText(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    return true;
  }
  return false;
}

}  // namespace

int PrepareFolder(const char* command, const std::string& updateDir, const std::string& outPath,
                  const PatchPlanOptions& patches, const BuildOptions& buildOptions, bool allowEmpty, bool storeAll,
                  SpoolFile* spool, ArchiveBuilder* builder, std::vector<FolderMember>* members,
                  std::vector<std::unique_ptr<SpoolFile>>* scratch, FILE* out) {
  if (!patches.bases.empty())
    return PrepareWithPatches(command, updateDir, outPath, patches, buildOptions, spool, builder, members, scratch,
                              out);
  if (int rc = CollectMembers(command, updateDir, allowEmpty, members)) return rc;
  std::vector<MemberSpec> specs;
  std::vector<std::string> paths;
  for (const FolderMember& m : *members) {
    specs.push_back(m.member);
    specs.back().store = storeAll;
    paths.push_back(m.path);
  }
  BuildReport report;
  // Kept by the builder past this function, for writing stored members.
  OpenMember open = [paths](size_t i, std::string* why) { return OpenMemberFile(paths[i], why); };
  if (!builder->Prepare(specs, open, spool, buildOptions, &report))
    return ReportBuildFailure(command, report, paths, std::string());
  return kExitOk;
}

bool StubAppliesPatches(const std::vector<uint8_t>& stub) {
  const char* name = kPatchTableName;
  return std::search(stub.begin(), stub.end(), name, name + sizeof kPatchTableName) != stub.end();
}

int PrepareWithPatches(const char* command, const std::string& updateDir, const std::string& outPath,
                       const PatchPlanOptions& options, const BuildOptions& buildOptions, SpoolFile* spool,
                       ArchiveBuilder* builder, std::vector<FolderMember>* members,
                       std::vector<std::unique_ptr<SpoolFile>>* scratch, FILE* out) {
  std::vector<FolderMember> folder;
  if (int rc = CollectMembers(command, updateDir, false, &folder)) return rc;
  for (const std::string& name : options.keepWhole) {
    bool known = false;
    for (const FolderMember& m : folder) known = known || ArchiveNamesEqual(m.member.name.c_str(), name.c_str());
    if (!known) return Fail(command, kExitUsage, "--keep-whole " + platform::Cp932ToUtf8(name) + ": no such member in " + updateDir);
  }
  platform::IniText ini{std::string()};
  if (!ReadUpdateIni(folder, &ini)) return Fail(command, kExitUsage, updateDir + " holds no UPDATE.INI");
  const std::string dataFolder = ReadIniValue(ini, "SETUP", "DataFolder", kField).text;
  const bool overwriteOnly = ParseInt32(ReadIniValue(ini, "UPDATE", "OverwriteOnly", kField).text.c_str()) != 0;
  std::vector<Entry> entries;
  for (int n = 0; n < 16; ++n) {
    char key[32];
    std::snprintf(key, sizeof key, "UpdateFile%02i", n);
    const IniValue value = ReadIniValue(ini, "UPDATE", key, kList);
    if (!value.given) break;
    Entry e{};
    e.key = key;
    e.modeDigit = !ParseUpdateEntry(value.text.c_str(), -1, &e.item);
    for (int mode = 0; mode < 10 && e.modeDigit; ++mode)
      if (ParseUpdateEntry(value.text.c_str(), mode, &e.item)) break;
    if (e.item.path[0] != '\0') entries.push_back(e);
  }
  bool digits = false;
  for (const Entry& e : entries) digits = digits || e.modeDigit;
  if (digits)
    std::fprintf(stderr,
                 "qa2 %s: warning: entries name install modes; each mode's players need a --base of "
                 "their own version, or the updater refuses them\n",
                 command);

  // Every target's content in every base.
  std::vector<Plan> plans;
  for (size_t i = 0; i < folder.size(); ++i) {
    const std::string& name = folder[i].member.name;
    if (ArchiveNamesEqual(name.c_str(), "UPDATE.INI")) continue;
    Plan plan{};
    plan.member = i;
    plan.patchable = true;
    plan.everyTargetHeld = true;
    plan.onlyWhereItIs = true;
    std::vector<std::string> targets;
    for (const Entry& e : entries) {
      if (!ArchiveNamesEqual(e.item.path + e.item.nameOffset, name.c_str())) continue;
      if (e.item.kind == Data) plan.patchable = false;
      if (e.item.kind == Data) continue;
      if (e.item.kind != Overwrite && !overwriteOnly) plan.onlyWhereItIs = false;
      const std::string target = dataFolder.empty() ? std::string(e.item.path) : dataFolder + "\\" + e.item.path;
      bool seen = false;
      for (const std::string& t : targets) seen = seen || ArchiveNamesEqual(t.c_str(), target.c_str());
      if (!seen) targets.push_back(target);
    }
    if (targets.empty()) continue;
    for (const std::string& k : options.keepWhole)
      if (ArchiveNamesEqual(k.c_str(), name.c_str())) plan.patchable = false;
    std::string error;
    if (!ReadFileContent(folder[i].path, &plan.now, &error)) return Fail(command, kExitIo, error);
    for (const std::string& base : options.bases) {
      for (const std::string& target : targets) {
        std::string twins;
        const fs::path found = ResolveWindowsPath(fs::u8path(base), target, &twins);
        if (!twins.empty())
          return Fail(command, kExitUsage, "--base " + base + ": " + twins + " are one name to Windows; keep one");
        std::error_code ec;
        if (found.empty() || !fs::is_regular_file(found, ec)) {
          plan.everyTargetHeld = false;
          continue;
        }
        Content c;
        if (!ReadFileContent(found.u8string(), &c, &error)) return Fail(command, kExitIo, error);
        if (c == plan.now || std::find(plan.contents.begin(), plan.contents.end(), c) != plan.contents.end()) continue;
        plan.contents.push_back(c);
      }
    }
    if (!plan.contents.empty()) plans.push_back(std::move(plan));
  }

  // The candidates: a patch per content, beside the folder's members.
  std::vector<MemberSpec> specs;
  std::vector<std::string> paths;
  for (const FolderMember& m : folder) {
    specs.push_back(m.member);
    paths.push_back(m.path);
  }
  std::vector<FolderMember> patchFiles;
  std::string error;
  // A patch file as a member the builder may keep, named for now by the
  // order it was tried in.
  auto addCandidate = [&](const SpoolFile& file, bool store, const FolderMember& member,
                          std::vector<size_t>* candidates) {
    FolderMember p;
    p.path = file.path();
    p.shown = p.member.name = PatchMemberName(unsigned(patchFiles.size() + 1));
    p.member.size = file.end();
    p.member.fileTime = member.member.fileTime;
    p.member.store = store;
    candidates->push_back(specs.size());
    specs.push_back(p.member);
    paths.push_back(p.path);
    patchFiles.push_back(p);
  };
  for (Plan& plan : plans) {
    plan.candidates.assign(plan.contents.size(), {});
    if (!plan.patchable) continue;
    const FolderMember& member = folder[plan.member];
    platform::MappedFile now;
    if (!now.Open(member.path, &error)) return Fail(command, kExitIo, "cannot read " + member.path + ": " + error);
    // Both tunings where the file is small enough for the second pass to
    // cost little; the smaller patch is kept.
    std::vector<PatchTuning> tunings = {kPatchForData};
    if (now.size() <= kBothTuningsMax) tunings.push_back(kPatchForCode);
    for (size_t c = 0; c < plan.contents.size(); ++c) {
      platform::MappedFile old;
      if (!old.Open(plan.contents[c].path, &error)) {
        // A 32-bit qa2 cannot map files of several GB: the member then
        // travels whole for this content.
        std::fprintf(stderr, "qa2 %s: warning: cannot read %s to patch from (%s); %s travels whole\n", command,
                     plan.contents[c].path.c_str(), error.c_str(), member.shown.c_str());
        continue;
      }
      for (const PatchTuning& tuning : tunings) {
        scratch->emplace_back(new SpoolFile(outPath, "patch"));
        SpoolFile& file = *scratch->back();
        if (!file.Open(&error)) return Fail(command, kExitIo, error);
        std::string writeError;
        if (!MakePatch(old.data(), old.size(), now.data(), now.size(),
                       [&](const uint8_t* d, size_t n) { return file.Append(d, n, &writeError); }, nullptr, tuning))
          return writeError.empty() ? Fail(command, kExitInternal, "out of memory while patching " + member.shown)
                                    : Fail(command, kExitIo, writeError);
        if (!file.Flush(&error)) return Fail(command, kExitIo, error);
        SpoolFile* chosen = &file;
        bool packed = false;
        if (file.end() <= kPatchLzmaMax) {
          // The LZMA form: read back from the raw stream's file.
          scratch->emplace_back(new SpoolFile(outPath, "patch"));
          SpoolFile& lzma = *scratch->back();
          if (!lzma.Open(&error)) return Fail(command, kExitIo, error);
          uint64_t at = 0;
          const bool ok = PackPatch(
              [&](uint8_t* buffer, size_t capacity, size_t* got) {
                *got = size_t(std::min<uint64_t>(capacity, file.end() - at));
                if (*got > 0 && !file.ReadAt(at, buffer, *got, &error)) return false;
                at += *got;
                return true;
              },
              file.end(), [&](const uint8_t* d, size_t n) { return lzma.Append(d, n, &writeError); });
          if (!ok || !lzma.Flush(&error))
            return Fail(command, kExitIo, !writeError.empty() ? writeError : !error.empty() ? error
                                                                : "cannot code the patch of " + member.shown);
          chosen = &lzma;
          packed = true;
          // A small patch may come out smaller as it is: both are tried.
          if (file.end() <= kRawAlsoMax) addCandidate(file, false, member, &plan.candidates[c]);
        }
        addCandidate(*chosen, packed, member, &plan.candidates[c]);  // LZMA leaves nothing for the archive's coder
      }
    }
  }
  BuildReport report;
  // Kept by the builder past this function, for writing stored members.
  OpenMember open = [paths](size_t i, std::string* why) { return OpenMemberFile(paths[i], why); };
  if (!builder->Prepare(specs, open, spool, buildOptions, &report))
    return ReportBuildFailure(command, report, paths, error);

  // Keep what pays; the table says which content each patch starts from.
  std::vector<bool> keep(specs.size(), true);
  for (size_t i = folder.size(); i < specs.size(); ++i) keep[i] = false;
  std::vector<PatchTarget> table;
  size_t patched = 0;
  for (Plan& plan : plans) {
    const FolderMember& member = folder[plan.member];
    const uint64_t whole = builder->storedSize(plan.member);
    std::string line = member.shown + ": whole " + std::to_string(whole) + " B";
    size_t kept = 0;
    PatchTarget t;
    std::memcpy(t.name, member.member.name.data(), member.member.name.size());
    t.newSize = plan.now.size;
    std::memcpy(t.newHash, plan.now.hash, kSha256Size);
    t.fileTime = member.member.fileTime;
    for (size_t c = 0; c < plan.contents.size(); ++c) {
      PatchBase b;
      b.size = plan.contents[c].size;
      std::memcpy(b.hash, plan.contents[c].hash, kSha256Size);
      line += "; from " + std::to_string(b.size) + " B ";
      size_t k = kNone;
      for (size_t candidate : plan.candidates[c])
        if (k == kNone || builder->storedSize(candidate) < builder->storedSize(k)) k = candidate;
      if (k == kNone) {
        line += "no patch";
      } else {
        const uint64_t size = builder->storedSize(k);
        line += "patch " + std::to_string(size) + " B";
        if (size < whole) {
          keep[k] = true;
          // Named in the order kept, whatever was tried.
          const std::string name = PatchMemberName(unsigned(++patched));
          builder->RenameMember(k, name);
          patchFiles[k - folder.size()].member.name = name;
          patchFiles[k - folder.size()].shown = name;
          std::memcpy(b.patch, name.data(), name.size());
          ++kept;
        }
      }
      t.bases.push_back(b);
    }
    const bool dropWhole = kept == plan.contents.size() && (plan.everyTargetHeld || plan.onlyWhereItIs);
    if (dropWhole) keep[plan.member] = false;
    line += kept == 0 ? "; kept whole" : dropWhole ? "; kept patches only" : "; kept patches and whole";
    if (out) std::fprintf(out, "%s\n", line.c_str());
    if (kept > 0 || options.gate) {
      t.flags = kPatchGated;
      table.push_back(t);
    }
  }
  if (patched == 0 && !options.gate)
    std::fprintf(stderr,
                 "qa2 %s: warning: --base patched nothing and without --gate nothing is checked; the "
                 "update is built as without --base\n",
                 command);

  std::vector<size_t> order;
  members->clear();
  for (size_t i = 0; i < specs.size(); ++i) {
    if (!keep[i]) continue;
    order.push_back(i);
    members->push_back(i < folder.size() ? folder[i] : patchFiles[i - folder.size()]);
  }
  std::vector<BuildMember> extra;
  if (!table.empty()) {
    BuildMember m;
    m.name = kPatchTableName;
    m.data = StorePatchTable(table);
    // The time of the newest member, as a file of the update would have.
    for (const FolderMember& f : folder) m.fileTime = std::max(m.fileTime, f.member.fileTime);
    scratch->emplace_back(new SpoolFile(outPath, "table"));
    SpoolFile& file = *scratch->back();
    if (!file.Open(&error) || !file.Append(m.data.data(), m.data.size(), &error) || !file.Flush(&error))
      return Fail(command, kExitIo, error);
    FolderMember f;
    f.path = file.path();
    f.shown = m.name;
    f.member.name = m.name;
    f.member.size = m.data.size();
    f.member.fileTime = m.fileTime;
    members->push_back(f);
    extra.push_back(std::move(m));
  }
  std::vector<std::string> keptPaths;
  for (const FolderMember& m : *members) keptPaths.push_back(m.path);
  if (!builder->Relayout(order, extra, buildOptions, &report))
    return ReportBuildFailure(command, report, keptPaths, error);
  return kExitOk;
}

}  // namespace qa2
