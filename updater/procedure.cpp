#include "updater/procedure.h"

#include <cstdio>
#include <cstring>

#include "archive/archive.h"
#include "archive/fileops.h"
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

// The bytes an item will handle, decided as the writing pass decides it:
// nothing for a skipped item, the player's file for a kept Data target, the
// member otherwise. Reads attributes and sizes only.
uint64_t ItemShare(const UpdateItem& item, bool overwriteOnly) {
  platform::Platform& os = platform::Os();
  char target[kNameField];
  const char* base = item.kind == Data ? Updater.DataPath : Updater.InstPath;
  if (!CopyToField(target, sizeof target, base) ||
      !AppendPathComponent(target, sizeof target, Updater.DataFolder) ||
      !AppendPathComponent(target, sizeof target, item.path))
    return 0;
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
  for (int i = 0; i < Tables.ItemCount; ++i) total += shares[i] = ItemShare(Tables.Items[i], overwriteOnly);
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
    if (action == ItemAction::Skip) {
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
    if (Tables.ItemCount > 0 && !ApplyUpdateItems(dialog, overwriteOnly)) return;
    // The shell's copies show a progress window of their own.
    Progress.Hide();
    if (Tables.CopyCount > 0 && !CopyFromDiscs(dialog)) return;
  }
  ShowCompletion(dialog);
}
