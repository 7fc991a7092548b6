// The message box seen from inside the process: a thread timer runs while
// the box's modal loop is going and inspects or answers the box.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dialogs/zmsgbox_win.h"
#include "paths/utils_win.h"

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
