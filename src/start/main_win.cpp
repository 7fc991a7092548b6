// Program entry of the stub.
#include <windows.h>

#include "dialogs/zmsgbox_win.h"
#include "paths/utils_win.h"
#include "start/stub_win.h"
#include "paths/zdebug_win.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Safe DLL search first: a setup usually runs from a Downloads folder.
  InitWin32Utils();
  InstallDebugChannel();
  PreloadLibraries();
  return RunStub();
}
