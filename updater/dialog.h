// The update dialog's logic (template 101): a three-button wizard whose Next
// confirms, then runs the update procedure, then ends the dialog with 0.
// The platform's dialog procedure forwards to UpdateDialog; nothing here
// depends on a window system.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr int kUpdateDialogTemplate = 101;

// Step counter: 0 after initialisation, one more after every Next or Back
// action; Back first takes 2 off it.
extern int32_t DialogStep;
// Set for the duration of a Next or Back action, the whole update included.
extern int32_t DialogBusy;

// WM_INITDIALOG: resets the state, makes the dialog the owner of the error
// boxes, sets the caption and the first page.
void InitUpdateDialog(platform::Window dialog);

class UpdateDialog : public platform::DialogHandler {
 public:
  void OnInit(platform::Window dialog) override;
  // The whole command word: only a plain click (notification code 0) of
  // 1 Next, 2 Abort or 4 Back counts.
  void OnCommand(platform::Window dialog, uintptr_t command) override;
  // While busy: the wait cursor over the whole dialog, and true.
  bool OnSetCursor(platform::Window dialog) override;
};
