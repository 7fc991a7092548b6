// Program entry of the stub.
#include <windows.h>

#include "dialogs/zmsgbox_win.h"
#include "paths/platform.h"
#include "paths/utils_win.h"
#include "paths/zdebug.h"
#include "paths/zdebug_win.h"
#include "process/ownfile_win.h"
#include "setup/setupflow.h"
#include "start/stub_win.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Safe DLL search first: a setup usually runs from a Downloads folder.
  InitWin32Utils();
  InstallDebugChannel();
  // Held before any window or question: once the user is asked something,
  // another program may have put a different file under this name.
  std::string why;
  if (HoldOwnFile(why) != OwnFileCheck::Held) {
    DebugLine(PidText() + " ==== The own file " + why + "; nothing is run");
    return kExitPackageDamaged;
  }
  PreloadLibraries();
  return RunStub();
}
