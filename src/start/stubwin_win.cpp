#include "start/stubwin_win.h"

#include <commctrl.h>

#include "dialogs/zmsgbox_win.h"
#include "net/inethttp_win.h"
#include "package/gfileinfo.h"
#include "paths/platform.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "process/clientrule.h"
#include "process/procstate_win.h"
#include "setup/files_win.h"
#include "setup/setupflow.h"
#include "setup/stubsetup_win.h"
#include "start/stub_win.h"
#include "paths/zdebug.h"
#include "update/stubau_win.h"

namespace {

// A window of this session and a message number of the client's own range.
bool ClientMayRegister(HWND client, uint64_t message) {
  DWORD pid = 0, theirs = 0, ours = 0;
  bool window = client && IsWindow(client) && GetWindowThreadProcessId(client, &pid) && pid != 0;
  bool sameSession = window && ProcessIdToSessionId(pid, &theirs) &&
                     ProcessIdToSessionId(GetCurrentProcessId(), &ours) && theirs == ours;
  return ClientRegistrationAllowed(message > 0xFFFFFFFFull ? 0 : uint32_t(message), window, sameSession);
}
bool g_destroyed = false;
HFONT g_statusFont = nullptr;

bool RightToLeft() {
  int cs = OwnPackage().Charset();
  return cs == 177 || cs == 178;
}

// comctl32 is not in the import table: it is loaded from the system folder.
void InitCommonControlsFromSystem() {
  using InitEx = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  using Init = void(WINAPI*)();
  HMODULE lib = nullptr;
  if (auto fn = reinterpret_cast<InitEx>(DynamicFunction("comctl32.dll", "InitCommonControlsEx", &lib))) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    fn(&icc);
  } else if (auto fn2 = reinterpret_cast<Init>(DynamicFunction("comctl32.dll", "InitCommonControls", &lib))) {
    fn2();
  }
}

void CreateChildren(HWND wnd) {
  HINSTANCE inst = GetModuleHandleA(nullptr);
  bool rtl = RightToLeft();
  g_StatusLine = CreateWindowExA(0, "Static", "", WS_CHILD | WS_VISIBLE, rtl ? 122 : 70, 20, 340, 18, wnd, nullptr,
                                 inst, nullptr);
  g_MainBar = CreateWindowExA(0, "msctls_progress32", "", WS_CHILD | WS_VISIBLE, 70, 38, 392, 13, wnd, nullptr, inst,
                              nullptr);
  g_ActivityBar = CreateWindowExA(0, "msctls_progress32", "", WS_CHILD, rtl ? 70 : 416, 20, 46, 13, wnd, nullptr,
                                  inst, nullptr);
  g_statusFont = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Tahoma");
  SendMessageA(g_StatusLine, WM_SETFONT, WPARAM(g_statusFont), 0);
  SetTimer(wnd, 1, 1000, nullptr);
}

void Paint(HWND wnd) {
  HDC dc = GetDC(wnd);
  RECT rc;
  GetClientRect(wnd, &rc);
  FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
  if (HICON icon = LoadIconA(GetModuleHandleA(nullptr), "MainIcon")) DrawIcon(dc, 18, 20, icon);
  ReleaseDC(wnd, dc);
}

// The program runs elevated, and Windows drops messages that unelevated
// programs post to an elevated window unless the window lets them in: allow
// exactly the three messages other instances and clients send.
void AllowInstanceMessages(HWND wnd) {
  using FilterEx = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  auto fn = reinterpret_cast<FilterEx>(DynamicFunction("user32.dll", "ChangeWindowMessageFilterEx"));
  if (!fn) {
    DebugLine(PidText() + " ChangeWindowMessageFilterEx: not available");
    return;
  }
  const DWORD kAllow = 1;  // MSGFLT_ALLOW
  bool ok = true;
  for (UINT m : {wm_ShutDown, wm_LocalMsg, wm_AgentMsg}) ok = fn(wnd, m, kAllow, nullptr) && ok;
  DebugLine(PidText() + " ChangeWindowMessageFilterEx(1123,1124,1125)=" + BoolText(ok));
}

LRESULT CALLBACK MainWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE:
      CreateChildren(wnd);
      break;
    case WM_PAINT:
      Paint(wnd);
      break;
    case WM_TIMER:
      if (IsUpdateAgentProcess())
        AutoUpdateTimerTick();
      else
        StartSetupMode(wnd);
      break;
    case WM_CLOSE:
      if (!CloseMainWindow()) return 0;
      break;
    case WM_DESTROY:
      DebugLine("- wm_Destroy -");
      DestroyMainWindow();
      break;
    case WM_QUIT:
      DebugLine("- wm_Quit -");
      DestroyMainWindow();
      break;
    case wm_ShutDown:
      SetQuitCountdown(int32_t(wp));
      break;
    case wm_LocalMsg:
      if (!ClientMayRegister(reinterpret_cast<HWND>(wp), uint64_t(lp))) {
        // The registration before it, if any, stays.
        DebugLinePid(" client registration refused: window " + IntToStr(int64_t(wp)) + ", message " +
                     IntToStr(int64_t(lp)));
        AppendLog("Client registration refused (window " + IntToStr(int64_t(wp)) + ", message " +
                  IntToStr(int64_t(lp)) + ")");
        break;
      }
      g_NotifyWindow = reinterpret_cast<HWND>(wp);
      g_NotifyMessage = UINT(lp);
      NotifyClient(50, int32_t(reinterpret_cast<intptr_t>(g_MainWindow ? g_MainWindow : wnd)));
      NotifyClient(51, int32_t(wm_AgentMsg));
      break;
    case wm_AgentMsg:
      return HandleAgentCommand(int32_t(wp), int32_t(lp));
    default:
      if (msg != 0 && msg == QueryCancelAutoPlayMsg()) return 1;
      break;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}
}  // namespace

bool CloseMainWindow() {
  AppendLog(".. CloseMainWindow() - Start");
  bool aborted = HttpAborted();
  if (!aborted) SetHttpAbort(true);
  if (aborted && SetupFlowRunning()) {
    // The flow is still extracting or waiting: it stops at the next item,
    // cleans up and ends the program itself; closing now would pull its
    // folder away under it.
    RequestSetupAbort();
    aborted = false;
  }
  AppendLog(".. CloseMainWindow() - End");
  return aborted;
}

void DestroyMainWindow() {
  AppendLog(".. DestroyMainWindow() - Start");
  SetHttpAbort(true);
  // Only a folder this process made, and never while the flow still uses it.
  if (SetupFlowRunning())
    RequestSetupAbort();
  else
    RemoveSetupFolder();
  PostQuitMessage(0);
  g_destroyed = true;
  AppendLog(".. DestroyMainWindow() - End");
}

void WinMainLoop() {
  int64_t sleepX = SwitchInt("/SleepX=", -1);
  if (sleepX >= 0) AutoUpdateTimerCount = -sleepX;
  InitCommonControlsFromSystem();
  HINSTANCE inst = GetModuleHandleA(nullptr);
  const std::string& cls = StubClassName();
  WNDCLASSA wc{};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = MainWndProc;
  wc.hInstance = inst;
  wc.hIcon = LoadIconA(inst, "MainIcon");
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.lpszClassName = cls.c_str();
  RegisterClassA(&wc);
  POINT pos = CentreInWorkArea(492, 110);
  std::string title = OwnPackage().GetLangText("s0", "Zelkan Installation Suite");
  g_MainWindow = CreateWindowExA(0, cls.c_str(), title.c_str(), WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, pos.x,
                                 pos.y, 492, 110, nullptr, nullptr, inst, nullptr);
  SetMsgBoxFont(OwnPackage().FontName(), OwnPackage().FontSize(), OwnPackage().Charset());
  if (g_MainWindow) AllowInstanceMessages(g_MainWindow);
  if (!g_MainWindow) {
    // No desktop to make it on: nothing ran, which is not a success.
    DebugLinePid(" No main window (" + LastErrorText() + "): nothing runs");
    g_ExitCode = kExitSetupFailed;
  }
  if (g_MainWindow) {
    ShowWindow(g_MainWindow, SW_HIDE);
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
      if (g_destroyed) break;
    }
  }
  if (g_MainWindow) KillTimer(g_MainWindow, 1);
  SetHttpAbort(true);
  ReleaseWinInet();
  NotifyClient(43, 0);
  if (g_statusFont) DeleteObject(g_statusFont);
}
