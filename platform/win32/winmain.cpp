// The process entry of UPDATE.EXE. Everything it does is the portable start-up;
// the command line and the show state are not used.
#include "platform/win32/win32_platform.h"
#include "updater/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  platform::RestrictDllSearchToSystem();
  return RunUpdater();
}
