#include "updater/dialog.h"

#include "updater/messages.h"
#include "updater/procedure.h"
#include "updater/state.h"

int32_t DialogStep = 0;
int32_t DialogBusy = 0;

namespace {

void ShowConfirmation(platform::Window dialog) {
  SetInfoText(dialog, "%s", kMsgConfirm);
  EnableDialogButton(dialog, kButtonBack, false);
  EnableDialogButton(dialog, kButtonNext, true);
  EnableDialogButton(dialog, kButtonAbort, true);
}

void RunStep(platform::Window dialog) {
  switch (DialogStep) {
    case 0:
      ShowConfirmation(dialog);
      break;
    case 1:
      RunUpdate(dialog);
      break;
    case 2:
      platform::Os().EndDialog(dialog, 0);
      break;
    default:
      break;
  }
}

}  // namespace

void InitUpdateDialog(platform::Window dialog) {
  DialogBusy = 0;
  DialogStep = 0;
  UpdateCompleted = false;
  Updater.OwnerWindow = dialog;
  platform::Os().SetWindowText(dialog, Updater.Caption);
  // The title goes in as an argument, so a per-cent sign in it is shown.
  SetInfoText(dialog, kMsgStartFormat, Updater.GameTitle);
  EnableDialogButton(dialog, kButtonBack, false);
  EnableDialogButton(dialog, kButtonNext, true);
  EnableDialogButton(dialog, kButtonAbort, true);
}

void UpdateDialog::OnInit(platform::Window dialog) { InitUpdateDialog(dialog); }

void UpdateDialog::OnCommand(platform::Window dialog, uintptr_t command) {
  switch (command) {
    case kButtonNext:
    case kButtonBack:
      if (DialogBusy) return;
      DialogBusy = 1;
      UpdateCompleted = false;  // only the update's own end page sets it again
      SetInfoText(dialog, "%s", "");
      if (command == kButtonBack) DialogStep -= 2;
      RunStep(dialog);
      ++DialogStep;
      DialogBusy = 0;
      return;
    case kButtonAbort:
      // Command 2 is also the close box and Escape. Once the update has
      // completed, closing the dialog by any means is its completion.
      if (!DialogBusy) platform::Os().EndDialog(dialog, UpdateCompleted ? 0 : -1);
      return;
    default:
      return;
  }
}

bool UpdateDialog::OnSetCursor(platform::Window dialog) {
  (void)dialog;
  if (!DialogBusy) return false;
  platform::Os().SetCursor(platform::Cursor::Wait);
  return true;
}
