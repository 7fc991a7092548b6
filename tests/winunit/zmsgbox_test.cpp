// The message box seen from inside the process: a thread timer runs while
// the box's modal loop is going and inspects or answers the box.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dialogs/zmsgbox_win.h"
#include "paths/utils_win.h"
#include "process/procstate_win.h"

namespace {

std::function<void(HWND)> g_During;

void CALLBACK DuringBox(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = FindWindowA("ZMsgBox", nullptr);
  if (!box) return;  // not built yet
  KillTimer(nullptr, id);
  auto during = std::move(g_During);
  g_During = nullptr;
  if (during) during(box);
}

// Runs `during` once on the open box, from inside its modal loop.
void WhileOpen(std::function<void(HWND)> during) {
  g_During = std::move(during);
  SetTimer(nullptr, 0, 30, DuringBox);
}

HWND ButtonWithResult(HWND box, int result) {
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (GetWindowLongPtrA(c, GWLP_USERDATA) == result) return c;
  return nullptr;
}

void Click(HWND box, int result) {
  HWND b = ButtonWithResult(box, result);
  ASSERT_NE(b, nullptr);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(b), BN_CLICKED), reinterpret_cast<LPARAM>(b));
}

class MsgBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { InitWin32Utils(); }
  void TearDown() override { SetMsgBoxFont("Tahoma", 8, DEFAULT_CHARSET); }
};

TEST_F(MsgBoxTest, NoCloseFlagGreysCloseAndIgnoresSysClose) {
  struct Case {
    intptr_t owner;
    bool greyed;
  } cases[] = {{1, false}, {2, true}};
  for (const Case& c : cases) {
    UINT state = 0;
    bool openAfterSysClose = false;
    WhileOpen([&](HWND box) {
      state = GetMenuState(GetSystemMenu(box, FALSE), SC_CLOSE, MF_BYCOMMAND);
      SendMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
      openAfterSysClose = IsWindow(box) != FALSE;
      if (openAfterSysClose) Click(box, IDOK);
    });
    int r = ShowMsgBox(c.owner, "Close?", "Close", 0, MB_OK, 0, kDefaultButtonTexts);
    EXPECT_EQ((state & MF_GRAYED) != 0, c.greyed) << c.owner;
    EXPECT_EQ(openAfterSysClose, c.greyed) << c.owner;
    EXPECT_EQ(r, c.greyed ? IDOK : 0) << c.owner;
  }
}

TEST_F(MsgBoxTest, WindowStylesAndClassLifetime) {
  DWORD style = 0, ex = 0;
  WNDCLASSA wc{};
  bool registeredWhileOpen = false;
  WhileOpen([&](HWND box) {
    style = static_cast<DWORD>(GetWindowLongA(box, GWL_STYLE));
    ex = static_cast<DWORD>(GetWindowLongA(box, GWL_EXSTYLE));
    registeredWhileOpen = GetClassInfoA(GetModuleHandleA(nullptr), "ZMsgBox", &wc) != FALSE;
    Click(box, IDOK);
  });
  ShowMsgBox(1, "Styles", "Styles", 0, MB_OK, 0, kDefaultButtonTexts);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_TRUE(ex & WS_EX_TOPMOST);
  EXPECT_TRUE(ex & WS_EX_DLGMODALFRAME);
  EXPECT_TRUE(registeredWhileOpen);
  EXPECT_EQ(wc.style, UINT(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS));
  EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "ZMsgBox", &wc));  // unregistered afterwards
}

TEST_F(MsgBoxTest, FontSizeKeptWhenZero) {
  struct Step {
    const char* face;
    int size;
    const char* wantFace;
    int wantPoints;
  } steps[] = {{"Arial", 12, "Arial", 12}, {"Courier New", 0, "Courier New", 12}, {"Tahoma", 8, "Tahoma", 8}};
  for (const Step& s : steps) {
    SetMsgBoxFont(s.face, s.size, DEFAULT_CHARSET);
    LOGFONTA lf{};
    WhileOpen([&](HWND box) {
      // The buttons share the box font (the rich-text control does not report it).
      HFONT f = reinterpret_cast<HFONT>(SendMessageA(ButtonWithResult(box, IDOK), WM_GETFONT, 0, 0));
      GetObjectA(f, sizeof lf, &lf);
      Click(box, IDOK);
    });
    ShowMsgBox(1, "Font", "Font", 0, MB_OK, 0, kDefaultButtonTexts);
    EXPECT_STREQ(lf.lfFaceName, s.wantFace);
    EXPECT_EQ(lf.lfHeight, -PointsToPixels(s.wantPoints)) << s.face;
  }
}

TEST_F(MsgBoxTest, QuitRequestClosesTheBoxAndSurvives) {
  WhileOpen([](HWND) { PostQuitMessage(7); });
  EXPECT_EQ(ShowMsgBox(1, "Quit", "Quit", 0, MB_YESNO, 0, kDefaultButtonTexts), 0);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(m.wParam, 7u);
}

// Counts the message boxes made on this thread while it lives.
class BoxCounter {
 public:
  BoxCounter() {
    count_ = 0;
    hook_ = SetWindowsHookExA(WH_CBT, Proc, nullptr, GetCurrentThreadId());
  }
  ~BoxCounter() { UnhookWindowsHookEx(hook_); }
  int count() const { return count_; }

 private:
  static LRESULT CALLBACK Proc(int code, WPARAM wp, LPARAM lp) {
    char cls[32] = {};
    if (code == HCBT_CREATEWND && GetClassNameA(reinterpret_cast<HWND>(wp), cls, sizeof cls) &&
        lstrcmpA(cls, "ZMsgBox") == 0)
      ++count_;
    return CallNextHookEx(nullptr, code, wp, lp);
  }
  static int count_;
  HHOOK hook_;
};
int BoxCounter::count_ = 0;

TEST_F(MsgBoxTest, PendingQuitOpensNoBoxAndStaysPending) {
  BoxCounter boxes;
  PostQuitMessage(9);
  EXPECT_EQ(ShowMsgBox(1, "Quit pending", "Quit", 0, MB_YESNO, 0, kDefaultButtonTexts), 0);
  EXPECT_FALSE(AttentionMsg(1, "Quit pending", "Quit", 0, 0, kDefaultButtonTexts));
  EXPECT_EQ(boxes.count(), 0);
  EXPECT_TRUE(QuitMessagePending());
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(m.wParam, 9u);
  // Once the quit is taken, boxes open again.
  EXPECT_FALSE(QuitMessagePending());
  WhileOpen([](HWND box) { Click(box, IDOK); });
  EXPECT_TRUE(AttentionMsg(1, "After", "After", 0, 0, kDefaultButtonTexts));
  EXPECT_EQ(boxes.count(), 1);
}

// A stand-in for the agent's hidden main window that records the messages
// other programs send it.
struct MainStandIn {
  static std::vector<std::pair<UINT, WPARAM>> got;
  static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == wm_ShutDown || msg == wm_AgentMsg) {
      got.push_back({msg, wp});
      return msg == wm_AgentMsg ? 77 : 0;
    }
    return DefWindowProcA(wnd, msg, wp, lp);
  }
};
std::vector<std::pair<UINT, WPARAM>> MainStandIn::got;

TEST_F(MsgBoxTest, AgentMessagesToAnOpenBoxReachTheMainWindow) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = MainStandIn::Proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "ZMainStandIn";
  RegisterClassA(&wc);
  g_MainWindow = CreateWindowExA(0, wc.lpszClassName, "Main", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                 wc.hInstance, nullptr);
  ASSERT_NE(g_MainWindow, nullptr);
  MainStandIn::got.clear();
  LRESULT answer = 0;
  WhileOpen([&](HWND box) {
    PostMessageA(box, wm_ShutDown, 3, 0);  // posted, as the plain agent posts /STOP=
    answer = SendMessageA(box, wm_AgentMsg, 7, 0);
    Click(box, IDOK);
  });
  EXPECT_EQ(ShowMsgBox(1, "Busy", "Busy", 0, MB_OK, 0, kDefaultButtonTexts), IDOK);
  EXPECT_EQ(answer, 77);
  std::vector<std::pair<UINT, WPARAM>> want = {{wm_AgentMsg, 7}, {wm_ShutDown, 3}};
  EXPECT_EQ(MainStandIn::got, want);
  DestroyWindow(g_MainWindow);
  g_MainWindow = nullptr;
  UnregisterClassA(wc.lpszClassName, wc.hInstance);
}

TEST_F(MsgBoxTest, BoxWithoutButtonsEndsOnTimeout) {
  std::string caption;
  int buttons = -1;
  bool openAfterCheck = false;
  WhileOpen([&](HWND box) {
    caption = WindowText(box);
    buttons = 0;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      char cls[16] = {};
      GetClassNameA(c, cls, sizeof cls);
      if (lstrcmpiA(cls, "Button") == 0) ++buttons;
    }
    openAfterCheck = IsWindow(box) != FALSE;  // nothing here closes it: only the timer can
  });
  EXPECT_EQ(ShowMsgBox(1, "No buttons", "Timeout", 200, 0x0F, 0, kDefaultButtonTexts), 0);
  EXPECT_EQ(caption, "Timeout");  // the box was there
  EXPECT_EQ(buttons, 0);
  EXPECT_TRUE(openAfterCheck);
  EXPECT_EQ(FindWindowA("ZMsgBox", nullptr), nullptr);
}

TEST_F(MsgBoxTest, BoxOpenedWhileAnotherIsOpenKeepsItsOwnAnswer) {
  int inner = -1;
  HWND outerBox = nullptr;
  WhileOpen([&](HWND box) {
    outerBox = box;
    // The outer box is active and gets disabled under the inner one.
    inner = ShowMsgBox(1, "Inner", "Inner", 150, MB_YESNO, 0, kDefaultButtonTexts);
    EXPECT_TRUE(IsWindowEnabled(box));
    Click(box, IDNO);
  });
  const int outer = ShowMsgBox(1, "Outer", "Outer", 0, MB_YESNOCANCEL, 0, kDefaultButtonTexts);
  EXPECT_EQ(inner, IDYES);  // first button by timeout
  EXPECT_EQ(outer, IDNO);
  EXPECT_NE(outerBox, nullptr);
}

// What the box paints at the icon's place, (11, 20) on the band, taken
// through WM_PRINTCLIENT into a memory bitmap.
std::vector<uint32_t> Pixels(int w, int h, const std::function<void(HDC)>& draw, int x, int y, int cx, int cy) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bmp);
  draw(dc);
  GdiFlush();
  std::vector<uint32_t> out;
  for (int row = y; row < y + cy; ++row)
    for (int col = x; col < x + cx; ++col) out.push_back(static_cast<uint32_t*>(bits)[row * w + col] & 0xFFFFFF);
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  return out;
}

std::vector<uint32_t> IconOnBand(HICON icon) {
  const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
  return Pixels(cx, cy, [&](HDC dc) {
    RECT r{0, 0, cx, cy};
    HBRUSH band = CreateSolidBrush(RGB(0, 78, 152));
    FillRect(dc, &r, band);
    DeleteObject(band);
    if (icon) DrawIcon(dc, 0, 0, icon);
  }, 0, 0, cx, cy);
}

std::vector<uint32_t> BoxIconPixels(HWND box) {
  RECT rc;
  GetClientRect(box, &rc);
  return Pixels(rc.right, rc.bottom, [&](HDC dc) { SendMessageA(box, WM_PRINTCLIENT, WPARAM(dc), PRF_CLIENT); }, 11,
                20, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
}

TEST_F(MsgBoxTest, EachKindShowsItsIcon) {
  HICON own = LoadIconA(GetModuleHandleA(nullptr), "MainIcon");  // none in this test program
  struct Case {
    const char* kind;
    std::function<void()> show;
    HICON icon;
  } cases[] = {
      {"ErrorMsg", [] { ErrorMsg(1, "x", "", 0, ""); }, LoadIconA(nullptr, IDI_HAND)},
      {"AttentionMsg", [] { AttentionMsg(1, "x", "", 0, 0, ""); }, LoadIconA(nullptr, IDI_EXCLAMATION)},
      {"ConfirmYesNo", [] { ConfirmYesNo(1, "x", "", 0, 0, ""); }, LoadIconA(nullptr, IDI_QUESTION)},
      {"ConfirmOkCancel", [] { ConfirmOkCancel(1, "x", "", 0, ""); }, LoadIconA(nullptr, IDI_QUESTION)},
      {"information", [] { ShowMsgBox(1, "x", "i", 0, MB_ICONASTERISK, 0, kDefaultButtonTexts); },
       LoadIconA(nullptr, IDI_ASTERISK)},
      {"other icon bits", [] { ShowMsgBox(1, "x", "o", 0, 0x50, 0, kDefaultButtonTexts); }, own},
  };
  // The four system icons must look different, or this test could not tell them apart.
  const LPCSTR system[] = {IDI_HAND, IDI_QUESTION, IDI_EXCLAMATION, IDI_ASTERISK};
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j)
      ASSERT_NE(IconOnBand(LoadIconA(nullptr, system[i])), IconOnBand(LoadIconA(nullptr, system[j])));
  for (const Case& c : cases) {
    std::vector<uint32_t> seen;
    WhileOpen([&](HWND box) {
      seen = BoxIconPixels(box);
      PostMessageA(box, WM_CLOSE, 0, 0);
    });
    c.show();
    EXPECT_EQ(seen, IconOnBand(c.icon)) << c.kind;
  }
}

TEST_F(MsgBoxTest, ConfirmOkCancelAnswersTrueOnlyForOk) {
  for (int press : {IDOK, IDCANCEL}) {
    std::string caption, first, second;
    WhileOpen([&](HWND box) {
      caption = WindowText(box);
      first = WindowText(ButtonWithResult(box, IDOK));
      second = WindowText(ButtonWithResult(box, IDCANCEL));
      Click(box, press);
    });
    EXPECT_EQ(ConfirmOkCancel(1, "Go on?", "", 0, ""), press == IDOK);
    EXPECT_EQ(caption, "Confirm");
    EXPECT_EQ(first, "&OK");
    EXPECT_EQ(second, "&Cancel");
  }
}

TEST_F(MsgBoxTest, WrappersFillTitleAndButtons) {
  std::string caption;
  std::string firstButton;
  WhileOpen([&](HWND box) {
    caption = WindowText(box);
    firstButton = WindowText(ButtonWithResult(box, IDYES));
    Click(box, IDNO);
  });
  EXPECT_FALSE(ConfirmYesNo(1, "Sure?", "", 0, 0, ""));
  EXPECT_EQ(caption, "Confirm");
  EXPECT_EQ(firstButton, "&Yes");
}

}  // namespace
