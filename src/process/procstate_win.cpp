#include "process/procstate_win.h"

#include <commctrl.h>

#include <memory>

#include "package/gfileinfo.h"
#include "process/ownfile_win.h"

int g_ExitCode = 0;
HWND g_MainWindow = nullptr;
HWND g_StatusLine = nullptr;
HWND g_MainBar = nullptr;
HWND g_ActivityBar = nullptr;
HWND g_NotifyWindow = nullptr;
UINT g_NotifyMessage = 0;

namespace {
std::unique_ptr<TGFileInfo> g_package;
bool g_isUpdateAgent = false;
bool g_hiddenOperation = false;
int g_activityCycle = 0;
}  // namespace

TGFileInfo& OwnPackage() {
  if (!g_package) {
    // Through the handle held since the start; a file not held reads as no package.
    std::FILE* f = OwnFileStream();
    g_package = std::make_unique<TGFileInfo>(f);
    if (f) std::fclose(f);
  }
  return *g_package;
}

void ReleaseOwnPackage() { g_package.reset(); }

void SetUpdateAgentProcess(bool on) { g_isUpdateAgent = on; }
bool IsUpdateAgentProcess() { return g_isUpdateAgent; }

void SetHiddenOperation(bool on) { g_hiddenOperation = on; }
bool HiddenOperation() { return g_hiddenOperation; }

void NotifyClient(int32_t wParam, int32_t lParam) {
  if (g_NotifyWindow && g_NotifyMessage) PostMessageA(g_NotifyWindow, g_NotifyMessage, WPARAM(wParam), LPARAM(lParam));
}

void UpdateProgressBars(int kind, int, int maximum, int position, int step, const std::string&) {
  if (kind == 0) {
    SendMessageA(g_MainBar, PBM_SETRANGE, 0, MAKELPARAM(0, maximum & 0xFFFF));
    SendMessageA(g_MainBar, PBM_SETPOS, WPARAM(position), 0);
    SendMessageA(g_MainBar, PBM_SETSTEP, WPARAM(step), 0);
    SendMessageA(g_ActivityBar, PBM_SETRANGE, 0, MAKELPARAM(0, 5));
    SendMessageA(g_ActivityBar, PBM_SETPOS, 0, 0);
    SendMessageA(g_ActivityBar, PBM_SETSTEP, 1, 0);
  } else if (kind == 1) {
    SendMessageA(g_MainBar, PBM_STEPIT, 0, 0);
    g_activityCycle = (g_activityCycle + 1) % 6;
    SendMessageA(g_ActivityBar, PBM_SETPOS, WPARAM(g_activityCycle), 0);
  }
}
