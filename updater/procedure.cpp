#include "updater/procedure.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "archive/archive.h"
#include "archive/fileops.h"
#include "archive/patch.h"
#include "archive/sha256.h"
#include "platform/codepage.h"
#include "settings/installation.h"
#include "settings/settings.h"
#include "updater/messages.h"
#include "updater/observer.h"
#include "updater/progress.h"

UpdateTables Tables;
bool UpdateCompleted = false;

namespace {

constexpr char kSection[] = "UPDATE";

ProcedureObserver* Observer = nullptr;
ProgressMeter Progress;

// The version gate's findings for the current run, by item.
std::vector<PatchTarget> PatchTable;
struct ItemGate {
  GateVerdict verdict = GateVerdict::AsToday;
  const PatchTarget* target = nullptr;
  const PatchBase* base = nullptr;
};
ItemGate Gates[kMaxItems];

void OnPiece(uint64_t bytes) { Progress.Advance(bytes); }

void Fail(platform::Window dialog, const char* message) {
  Progress.End();
  ShowUpdaterError(message);
  platform::Os().EndDialog(dialog, -1);
}

void ShowCompletion(platform::Window dialog) {
  platform::Platform& os = platform::Os();
  Progress.End();
  SetInfoText(dialog, "%s", kMsgCompleted);
  os.SetDlgItemText(dialog, kButtonNext, kTextDone);
  EnableDialogButton(dialog, kButtonNext, true);
  os.FocusDlgItem(dialog, kButtonNext);
  os.SetCursor(platform::Cursor::Arrow);
  UpdateCompleted = true;
}

// Step 1. False when the drive is short: the dialog then shows the shortage
// and waits for Back or Abort. A free-space query that fails (a path without a
// drive letter, an unreachable drive) does not stop the update: each
// extraction tests its own member's room again.
bool CheckFreeSpace(platform::Window dialog) {
  char value[kNameField];
  if (!GetUpdateIniString(kSection, "RequiredDiskSpace", value, sizeof value)) return true;
  uint32_t required = uint32_t(ParseInt32(value));
  if (required == 0) return true;
  char root[3] = {Updater.InstPath[0], Updater.InstPath[0] ? Updater.InstPath[1] : '\0', '\0'};
  uint64_t freeBytes = 0, totalBytes = 0, shortfall = 0;
  if (!GetDiskFreeBytes(root, &freeBytes, &totalBytes, nullptr)) return true;
  if (!SpaceIsShort(required, freeBytes, &shortfall)) return true;
  Progress.End();
  SetInfoText(dialog, kMsgNoSpaceFormat, root, shortfall);
  EnableDialogButton(dialog, kButtonBack, true);
  EnableDialogButton(dialog, kButtonNext, false);
  EnableDialogButton(dialog, kButtonAbort, true);
  return false;
}

// Steps 4 and 5. Returns whether any key of either list was present.
bool ReadEntries() {
  Tables.ItemCount = 0;
  Tables.CopyCount = 0;
  bool anyKey = false;
  char key[32];
  char value[kMessageField];
  for (int n = 0; n < kMaxItems; ++n) {
    std::snprintf(key, sizeof key, "UpdateFile%02i", n);
    if (!GetUpdateIniString(kSection, key, value, kMessageField)) break;
    anyKey = true;
    bool taken = ParseUpdateEntry(value, Updater.InstMode, &Tables.Items[Tables.ItemCount]);
    if (Observer) Observer->OnEntry(key, value, taken ? Tables.ItemCount : -1);
    if (taken) ++Tables.ItemCount;
  }
  for (int n = 0; n < kMaxItems; ++n) {
    std::snprintf(key, sizeof key, "CopyFile%02i", n);
    if (!GetUpdateIniString(kSection, key, value, kNameField)) break;
    anyKey = true;
    bool taken = ParseCopyEntry(value, Updater.InstMode, &Tables.Copies[Tables.CopyCount]);
    if (Observer) Observer->OnEntry(key, value, taken ? Tables.CopyCount : -1);
    if (taken) ++Tables.CopyCount;
  }
  return anyKey;
}

// An item's target joined as the writing pass joins it; false when it does
// not fit.
bool ItemTarget(const UpdateItem& item, char (&target)[kNameField]) {
  const char* base = item.kind == Data ? Updater.DataPath : Updater.InstPath;
  return CopyToField(target, sizeof target, base) &&
         AppendPathComponent(target, sizeof target, Updater.DataFolder) &&
         AppendPathComponent(target, sizeof target, item.path);
}

// Whether the file at `path` holds `size` bytes whose SHA-256 is `hash`;
// read in pieces, the dialog answered between them.
bool FileHasContent(const char* path, uint64_t size, const uint8_t* hash, uint8_t* digest, bool* hashed) {
  platform::Platform& os = platform::Os();
  if (*hashed) return std::memcmp(digest, hash, kSha256Size) == 0;
  std::unique_ptr<platform::ReadableFile> file = os.OpenForRead(path);
  uint64_t actual = 0;
  if (!file || !file->Size(&actual) || actual != size) return false;
  std::vector<uint8_t> buffer(kFileChunk);
  Sha256 sha;
  for (uint64_t done = 0; done < size;) {
    uint32_t got = 0;
    if (!file->Read(buffer.data(), uint32_t(std::min<uint64_t>(buffer.size(), size - done)), &got) || got == 0)
      return false;
    sha.Update(buffer.data(), got);
    done += got;
    os.PumpPendingMessages();
  }
  sha.Digest(digest);
  *hashed = true;
  return std::memcmp(digest, hash, kSha256Size) == 0;
}

// The gate's verdict on one item whose member the patch table names.
GateVerdict JudgeItem(const UpdateItem& item, const char* target, bool overwriteOnly, const PatchTarget& record,
                      int* baseIndex) {
  platform::Platform& os = platform::Os();
  const uint32_t attributes = os.GetFileAttributes(target);
  const ItemAction action = DecideItem(item.kind, overwriteOnly, attributes);
  if (action == ItemAction::Skip) return GateVerdict::AsToday;
  const bool gated = (record.flags & kPatchGated) != 0;
  const bool present = attributes != platform::kInvalidAttributes && (attributes & platform::kAttrDirectory) == 0;
  const UpdateArchive* archive = Updater.Archive.get();
  const bool wholeCarried = archive && FindArchiveMember(*archive, item.path + item.nameOffset, nullptr) >= 0;
  if (!present) return wholeCarried || !gated ? GateVerdict::AsToday : GateVerdict::WrongVersion;
  if (action == ItemAction::ExtractIfNewer) {
    // Left alone by the writing pass: a later file is the player's.
    std::unique_ptr<platform::ReadableFile> file = os.OpenForRead(target);
    uint64_t time = 0;
    if (file && file->LastWriteTime(&time) && time > record.fileTime)
      return wholeCarried ? GateVerdict::AsToday : GateVerdict::LeftNewer;
  }
  uint64_t size = 0;
  if (!os.FileSize(target, &size)) return gated ? GateVerdict::WrongVersion : GateVerdict::AsToday;
  uint8_t digest[kSha256Size];
  bool hashed = false;
  // Sizes first: a file that matches no size is never read.
  if (size == record.newSize && FileHasContent(target, size, record.newHash, digest, &hashed))
    return GateVerdict::AlreadyNew;
  for (size_t b = 0; b < record.bases.size(); ++b) {
    const PatchBase& base = record.bases[b];
    if (base.size != size || !FileHasContent(target, size, base.hash, digest, &hashed)) continue;
    *baseIndex = int(b);
    return base.patch[0] != '\0' ? GateVerdict::Patch : GateVerdict::AsToday;
  }
  return gated ? GateVerdict::WrongVersion : GateVerdict::AsToday;
}

// Between reading the entries and writing the first item: every target the
// patch table gates holds a known content or the new one, or nothing at all
// is written. False when the dialog has been ended.
bool GateVersions(platform::Window dialog, bool overwriteOnly) {
  for (ItemGate& gate : Gates) gate = ItemGate();
  const UpdateArchive* archive = Updater.Archive.get();
  if (archive == nullptr || archive->block.size() == 0) return true;
  if (!ReadPatchTable(*archive, Updater.ArchiveSource.address, Updater.ArchiveSource.size, &PatchTable)) {
    Fail(dialog, kMsgWriteFailed);
    return false;
  }
  for (int i = 0; i < Tables.ItemCount && !PatchTable.empty(); ++i) {
    const UpdateItem& item = Tables.Items[i];
    const PatchTarget* record = FindPatchTarget(PatchTable, item.path + item.nameOffset);
    char target[kNameField];
    if (item.kind == Data || record == nullptr || !ItemTarget(item, target)) continue;
    int base = -1;
    const GateVerdict verdict = JudgeItem(item, target, overwriteOnly, *record, &base);
    if (Observer) Observer->OnItemGated(i, target, verdict, *record, base);
    if (verdict == GateVerdict::WrongVersion) {
      char text[kMessageField];
      std::snprintf(text, sizeof text, kMsgWrongVersionFormat, item.path);
      Fail(dialog, text);
      return false;
    }
    Gates[i].verdict = verdict;
    Gates[i].target = record;
    Gates[i].base = base >= 0 ? &record->bases[size_t(base)] : nullptr;
  }
  return true;
}

// The bytes an item will handle, decided as the writing pass decides it:
// nothing for a skipped item or one already new, the player's file for a
// kept Data target, the new size for a patched one, the member otherwise.
// Reads attributes and sizes only.
uint64_t ItemShare(int i, bool overwriteOnly) {
  platform::Platform& os = platform::Os();
  const UpdateItem& item = Tables.Items[i];
  if (Gates[i].verdict == GateVerdict::AlreadyNew || Gates[i].verdict == GateVerdict::LeftNewer) return 0;
  if (Gates[i].verdict == GateVerdict::Patch) return Gates[i].target->newSize;
  char target[kNameField];
  if (!ItemTarget(item, target)) return 0;
  const ItemAction action = DecideItem(item.kind, overwriteOnly, os.GetFileAttributes(target));
  if (action == ItemAction::Skip) return 0;
  uint64_t size = 0;
  if (action == ItemAction::KeepOrExtract && os.FileSize(target, &size)) return size;
  const UpdateArchive* archive = Updater.Archive.get();
  uint64_t offset = 0;
  const int32_t index = archive && archive->block.size() > 0
                            ? FindArchiveMember(*archive, item.path + item.nameOffset, &offset)
                            : -1;
  return index < 0 ? 0 : archive->entry(uint32_t(index)).fileSize;
}

// Step 7. False when the dialog has been ended.
bool ApplyUpdateItems(platform::Window dialog, bool overwriteOnly) {
  platform::Platform& os = platform::Os();
  // The bar shows from the first look at the installation's files.
  Progress.Begin(dialog);
  uint64_t shares[kMaxItems] = {}, total = 0;
  for (int i = 0; i < Tables.ItemCount; ++i) total += shares[i] = ItemShare(i, overwriteOnly);
  Progress.SetTotal(total);
  SetPieceObserver(OnPiece);
  struct PieceObserverReset {
    ~PieceObserverReset() { SetPieceObserver(nullptr); }
  } reset;
  for (int i = 0; i < Tables.ItemCount; ++i) {
    const UpdateItem& item = Tables.Items[i];
    Progress.BeginItem(shares[i]);
    const char* base = item.kind == Data ? Updater.DataPath : Updater.InstPath;
    char target[kNameField];
    // A target that does not fit the field cannot be written: the item fails
    // as a failed write does.
    if (!CopyToField(target, sizeof target, base) ||
        !AppendPathComponent(target, sizeof target, Updater.DataFolder)) {
      if (Observer) Observer->OnItemDecided(i, nullptr, ItemAction::Extract);
      Fail(dialog, kMsgWriteFailed);
      return false;
    }
    os.CreateDirectory(target);
    if (!AppendPathComponent(target, sizeof target, item.path)) {
      if (Observer) Observer->OnItemDecided(i, nullptr, ItemAction::Extract);
      Fail(dialog, kMsgWriteFailed);
      return false;
    }
    // Whatever becomes of the item, what an interrupted run left beside its
    // target goes.
    os.PumpPendingMessages();
    RemoveStaleReplacements(target);
    uint32_t attributes = platform::kInvalidAttributes;
    if (overwriteOnly || item.kind == Overwrite) attributes = os.GetFileAttributes(target);
    ItemAction action = DecideItem(item.kind, overwriteOnly, attributes);
    if (Observer) Observer->OnItemDecided(i, target, action);
    // A target already new is left as it is, times and attributes too.
    if (action == ItemAction::Skip || Gates[i].verdict == GateVerdict::AlreadyNew ||
        Gates[i].verdict == GateVerdict::LeftNewer) {
      Progress.EndItem();
      continue;
    }
    if (Gates[i].verdict == GateVerdict::Patch) {
      const UpdateArchive& archive = *Updater.Archive;
      ExtractOutcome outcome = ExtractPatchedMember(archive, Updater.ArchiveSource.address,
                                                    Updater.ArchiveSource.size, target, *Gates[i].target,
                                                    *Gates[i].base);
      if (Observer) Observer->OnItemExtracted(i, target, outcome);
      if (!outcome.ok()) {
        ReportExtractFailure(outcome);
        Fail(dialog, kMsgWriteFailed);
        return false;
      }
      Progress.EndItem();
      continue;
    }
    if (action == ItemAction::KeepOrExtract) {
      // The player's file is kept: written back in pieces, beside and then
      // over it, so a failed rewrite leaves it as it was, and a large save
      // is never held whole.
      RewriteResult rewrite = RewriteWholeFile(target);
      if (Observer) Observer->OnItemRewritten(i, target, rewrite);
      if (rewrite != RewriteResult::ReadFailed) {
        Progress.EndItem();
        continue;
      }
    }
    ExtractOutcome outcome;
    int extracted = ExtractArchiveMember(target, item.path + item.nameOffset,
                                         action == ItemAction::ExtractIfNewer, &outcome);
    if (Observer) Observer->OnItemExtracted(i, target, outcome);
    if (!extracted) {
      Fail(dialog, kMsgWriteFailed);
      return false;
    }
    Progress.EndItem();
  }
  return true;
}

// Step 8. False when the dialog has been ended.
bool CopyFromDiscs(platform::Window dialog) {
  platform::Platform& os = platform::Os();
  char root[3] = {};
  bool haveRoot = false;
  for (int i = 0; i < Tables.CopyCount; ++i) {
    const CopyItem& item = Tables.Copies[i];
    // An item without a disk number takes the disc found last in this run;
    // before any search it looks for disk 0 (DiskCheckFile0, or any disc when
    // that is not set), so that its source is always a searched drive.
    if (item.disk != 0 || !haveRoot) {
      while (!FindDisc(item.disk, root)) {
        char prompt[kMessageField];
        std::snprintf(prompt, sizeof prompt, kMsgInsertDiscFormat, Updater.GameTitle,
                      int(item.disk));
        if (os.MessageBox(dialog, prompt, Updater.Caption, platform::kBoxOkCancel) !=
            platform::kAnswerOk) {
          os.EndDialog(dialog, -1);
          return false;
        }
      }
      haveRoot = true;
    }
    char failed[kMessageField];
    std::snprintf(failed, sizeof failed, kMsgCopyFailedFormat, item.path);
    char source[kNameField];
    std::memcpy(source, root, sizeof root);
    bool fits = AppendPathComponent(source, sizeof source, item.path);
    bool intoInstallFolder = true;
    uint32_t flags = CopyFlagsFor(fits ? os.GetFileAttributes(source) : platform::kInvalidAttributes,
                                  &intoInstallFolder);
    char destination[kNameField];
    fits = fits && CopyToField(destination, sizeof destination, Updater.InstPath) &&
           (intoInstallFolder || AppendPathComponent(destination, sizeof destination, item.path));
    if (!fits) {
      if (Observer) Observer->OnCopyDone(i, false, platform::ShellCopyResult{});
      os.MessageBox(dialog, failed, Updater.Caption, platform::kBoxIconError | platform::kBoxOk);
      os.EndDialog(dialog, -1);
      return false;
    }
    SetInfoText(dialog, kMsgCopyingFormat, item.path);
    if (Observer) Observer->OnCopyStarting(i, source, destination);
    platform::ShellCopyResult result = os.ShellCopy(dialog, source, destination, flags);
    if (Observer) Observer->OnCopyDone(i, true, result);
    if (result.aborted) {
      os.EndDialog(dialog, -1);
      return false;
    }
    if (result.result != 0) {
      os.MessageBox(dialog, failed, Updater.Caption, platform::kBoxIconError | platform::kBoxOk);
      os.EndDialog(dialog, -1);
      return false;
    }
    os.SetFileAttributes(destination, platform::kAttrNormal);
  }
  return true;
}

}  // namespace

void SetProcedureObserver(ProcedureObserver* observer) { Observer = observer; }

ItemAction DecideItem(int32_t kind, bool overwriteOnly, uint32_t targetAttributes) {
  bool isFile = targetAttributes != platform::kInvalidAttributes &&
                (targetAttributes & platform::kAttrDirectory) == 0;
  if ((overwriteOnly || kind == Overwrite) && !isFile) return ItemAction::Skip;
  switch (kind) {
    case Update:
      return ItemAction::ExtractIfNewer;
    case Data:
      return ItemAction::KeepOrExtract;
    default:
      return ItemAction::Extract;
  }
}

bool SpaceIsShort(uint32_t required, uint64_t freeBytes, uint64_t* shortfall) {
  if (freeBytes >= required) return false;
  *shortfall = uint64_t(required) - freeBytes;
  return true;
}

uint32_t CopyFlagsFor(uint32_t sourceAttributes, bool* intoInstallFolder) {
  constexpr uint32_t kFileFlags = platform::kCopyNoConfirmation | platform::kCopyNoConfirmMkdir;
  *intoInstallFolder = sourceAttributes == platform::kInvalidAttributes ||
                       (sourceAttributes & platform::kAttrDirectory) != 0;
  return *intoInstallFolder ? kFileFlags | platform::kCopyNoErrorUi : kFileFlags;
}

bool FindDisc(int32_t disk, char root[3]) {
  if (disk < 0 || disk > 9) return false;
  platform::Platform& os = platform::Os();
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    char drive[3] = {letter, ':', '\0'};
    if (os.DriveType(drive) != platform::kDriveCdRom) continue;
    char check[kNameField];
    std::memcpy(check, drive, sizeof drive);
    if (!AppendPathComponent(check, sizeof check, Installation.DiskCheckFile[disk])) continue;
    if (os.GetFileAttributes(check) != platform::kInvalidAttributes) {
      std::memcpy(root, drive, sizeof drive);
      return true;
    }
  }
  return false;
}

void RunUpdate(platform::Window dialog) {
  platform::Platform& os = platform::Os();
  UpdateCompleted = false;
  if (!CheckFreeSpace(dialog)) return;

  SetInfoText(dialog, "%s", kMsgRunning);
  EnableDialogButton(dialog, kButtonBack, false);
  EnableDialogButton(dialog, kButtonNext, false);
  EnableDialogButton(dialog, kButtonAbort, false);
  os.SetCursor(platform::Cursor::Wait);

  char value[kNameField];
  bool overwriteOnly = GetUpdateIniString(kSection, "OverwriteOnly", value, sizeof value) &&
                       ParseInt32(value) != 0;

  if (!ReadEntries()) {
    Fail(dialog, kMsgNoEntries);
    return;
  }
  if (Tables.ItemCount == 0 && Tables.CopyCount == 0) {
    ShowUpdaterError(kMsgNothingToUpdate);
  } else {
    if (Tables.ItemCount > 0 && !GateVersions(dialog, overwriteOnly)) return;
    if (Tables.ItemCount > 0 && !ApplyUpdateItems(dialog, overwriteOnly)) return;
    // The shell's copies show a progress window of their own.
    Progress.Hide();
    if (Tables.CopyCount > 0 && !CopyFromDiscs(dialog)) return;
  }
  ShowCompletion(dialog);
}
