// The program's own modal message box: a read-only rich-text body, a blue
// band with an icon, a grey strip with up to three buttons and an optional
// timeout. Layout rules live in dialogs/markup.cpp.
#include "dialogs/zmsgbox_win.h"

#include <richedit.h>

#include "dialogs/markup.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/zdebug.h"
#include "process/procstate_win.h"

const char* const kDefaultButtonTexts = "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|";

namespace {

const char kBoxClass[] = "ZMsgBox";
const COLORREF kBandColour = RGB(0, 78, 152);
constexpr int kBandWidth = 54;
constexpr int kStripHeight = 36;

std::string g_FontFace = "Tahoma";
int g_FontSize = 8;
int g_FontCharset = DEFAULT_CHARSET;
HMODULE g_RichLib = nullptr;  // kept from the first box to the end of the program

// One open box. Each box window points at its own state, so a box opened
// while another one is still open (from a timer of some other window, say)
// cannot steal the first one's buttons or result.
struct BoxState {
  int result = 0;
  HWND buttons[3] = {};
  std::string captions[3];
  int buttonCount = 0;
  HICON icon = nullptr;
  uint32_t style = 0;
  int reqW = 0, reqH = 0;
  int timeout = 0;
  bool timerOn = false;
  HWND saved = nullptr;
  HWND box = nullptr, text = nullptr;
  HFONT font = nullptr;
  bool done = false;
};

int g_OpenBoxes = 0;  // the class is unregistered when the last box is gone

bool IsInstanceMessage(UINT msg) { return msg == wm_ShutDown || msg == wm_LocalMsg || msg == wm_AgentMsg; }

// An elevated program drops the messages of unelevated senders unless the
// window lets them in, as the main window does.
void AllowInstanceMessages(HWND box) {
  using FilterEx = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  auto fn = reinterpret_cast<FilterEx>(DynamicFunction("user32.dll", "ChangeWindowMessageFilterEx"));
  if (!fn) return;
  for (UINT m : {wm_ShutDown, wm_LocalMsg, wm_AgentMsg}) fn(box, m, 1 /* MSGFLT_ALLOW */, nullptr);
}

bool LoadedOk(HMODULE h) { return reinterpret_cast<uintptr_t>(h) > 32; }

BoxState* StateOf(HWND wnd) { return reinterpret_cast<BoxState*>(GetWindowLongPtrA(wnd, GWLP_USERDATA)); }

int ButtonResult(HWND button) { return static_cast<int>(GetWindowLongPtrA(button, GWLP_USERDATA)); }

void Press(BoxState& s, int index) {
  s.result = index >= 0 && index < s.buttonCount && s.buttons[index] ? ButtonResult(s.buttons[index]) : 0;
  PostMessageA(s.box, WM_CLOSE, 0, 0);
}

int FocusedButton(const BoxState& s) {
  HWND f = GetFocus();
  for (int i = 0; i < s.buttonCount; ++i)
    if (f && s.buttons[i] == f) return i;
  return -1;
}

void FocusButton(BoxState& s, int index) {
  index = FocusIndex(index, s.buttonCount);
  if (index < 0) return;
  SetFocus(s.buttons[index]);
  for (int i = 0; i < s.buttonCount; ++i) SendMessageA(s.buttons[i], BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
  SendMessageA(s.buttons[index], BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

// Runs on every message of the modal loop before it is dispatched; true
// when the message chose a button and must not be dispatched.
bool HandleKey(BoxState& s, const MSG& m) {
  int target = -1;
  if (m.message == WM_SYSCHAR) {
    target = AltCharTarget(s.captions, s.buttonCount, static_cast<char>(m.wParam));
  } else if (m.message == WM_KEYDOWN) {
    const int current = FocusedButton(s);
    switch (m.wParam) {
      case VK_LEFT:
      case VK_UP:
        FocusButton(s, FocusStep(current, s.buttonCount, -1));
        break;
      case VK_TAB:
      case VK_RIGHT:
      case VK_DOWN:
        FocusButton(s, FocusStep(current, s.buttonCount, 1));
        break;
      case VK_RETURN:
        target = current;
        break;
      default:
        target = LetterKeyTarget(s.captions, s.buttonCount, static_cast<unsigned>(m.wParam));
    }
  }
  if (target < 0) return false;
  Press(s, target);
  return true;
}

// Draws the box's own parts; also serves WM_PRINTCLIENT, so that a capture
// of the box (PrintWindow) shows the band and the icon.
void DrawBox(HDC dc, const RECT& rc, const BoxState& s) {
  const int W = rc.right, H = rc.bottom;
  FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOW));
  HPEN dark = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_3DDKSHADOW));
  HPEN white = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
  HGDIOBJ oldPen = SelectObject(dc, dark);
  MoveToEx(dc, 0, H - kStripHeight - 1, nullptr);
  LineTo(dc, W, H - kStripHeight - 1);
  SelectObject(dc, white);
  MoveToEx(dc, 0, H - kStripHeight, nullptr);
  LineTo(dc, W, H - kStripHeight);
  SelectObject(dc, oldPen);
  DeleteObject(dark);
  DeleteObject(white);
  RECT strip{0, H - kStripHeight + 1, W, H};
  FillRect(dc, &strip, GetSysColorBrush(COLOR_BTNFACE));
  HBRUSH band = CreateSolidBrush(kBandColour);
  RECT bandRect{0, 0, kBandWidth, H - kStripHeight - 1};
  FillRect(dc, &bandRect, band);
  DeleteObject(band);
  if (s.icon) DrawIcon(dc, 11, 20, s.icon);
}

LRESULT CALLBACK BoxProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  BoxState* s = StateOf(wnd);
  if (!s) return DefWindowProcA(wnd, msg, wp, lp);
  const UINT autoPlay = QueryCancelAutoPlayMsg();
  if (autoPlay && msg == autoPlay) return 1;
  // Other programs reach the agent through its "main" window, and the search
  // for it picks an open box (visible, titled) over the hidden main window:
  // a stop sent while a box is open must still arrive.
  if (IsInstanceMessage(msg) && g_MainWindow && g_MainWindow != wnd) return SendMessageA(g_MainWindow, msg, wp, lp);
  switch (msg) {
    case WM_CREATE:
      s->box = wnd;
      if (s->timeout > 0) s->timerOn = SetTimer(wnd, 1, static_cast<UINT>(s->timeout), nullptr) != 0;
      return 0;
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED && lp) {
        for (int i = 0; i < s->buttonCount; ++i)
          if (s->buttons[i] == reinterpret_cast<HWND>(lp)) {
            Press(*s, i);
            return 0;
          }
      }
      break;
    case WM_TIMER:
      if (wp == 1) {
        KillTimer(wnd, 1);
        s->timerOn = false;
        Press(*s, 0);
        return 0;
      }
      break;
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lp);
      if (hdr && hdr->code == EN_REQUESTRESIZE) {
        auto* rr = reinterpret_cast<REQRESIZE*>(lp);
        s->reqW = rr->rc.right - rr->rc.left;
        s->reqH = rr->rc.bottom - rr->rc.top;
        return 0;
      }
      break;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(wnd, &ps);
      RECT rc;
      GetClientRect(wnd, &rc);
      DrawBox(dc, rc, *s);
      EndPaint(wnd, &ps);
      return 0;
    }
    case WM_PRINTCLIENT: {
      RECT rc;
      GetClientRect(wnd, &rc);
      DrawBox(reinterpret_cast<HDC>(wp), rc, *s);
      return 0;
    }
    case WM_SYSCOMMAND:
      // The greyed Close item alone does not stop every way of sending
      // SC_CLOSE (Alt+F4 and other programs bypass the menu).
      if ((wp & 0xFFF0) == SC_CLOSE && (s->style & kStyleNoClose)) return 0;
      break;
    case WM_CLOSE:
      if (s->saved) {
        EnableWindow(s->saved, TRUE);
        SetActiveWindow(s->saved);
        SetFocus(s->saved);
      }
      if (s->timerOn) {
        KillTimer(wnd, 1);
        s->timerOn = false;
      }
      break;
    case WM_DESTROY:
      s->done = true;
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
      break;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

// Widest line of the text in the box font; tabs are measured at the rich-text
// control's default stops (half an inch), else a tabbed line is counted too
// narrow, wraps in the control and its last line falls off the box.
TextExtent MeasureText(HWND control, HFONT font, const std::string& text) {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  const int lineHeight = LineHeightFor(tm.tmHeight, tm.tmExternalLeading, g_FontFace);
  int tabStop = PixelsPerInchY() / 2;
  if (tabStop <= 0) tabStop = 48;
  std::vector<int> widths;
  for (const std::string& line : LinesToMeasure(text)) {
    int cx = 0;
    if (!line.empty()) {
      DWORD ext = GetTabbedTextExtentA(dc, line.data(), static_cast<int>(line.size()), 1, &tabStop);
      cx = LOWORD(ext);
    }
    widths.push_back(cx);
  }
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return MeasureLineWidths(widths, lineHeight);
}

void SizeControl(HWND control, int w, int h) {
  SetWindowPos(control, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetBody(BoxState& s, const MarkupText& m, bool rich) {
  SetWindowTextA(s.text, m.text.c_str());
  if (!rich) return;
  for (const BoldRange& r : m.bold) {
    CHARRANGE cr{r.start, r.end};
    SendMessageA(s.text, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&cr));
    CHARFORMATA cf{};
    cf.cbSize = sizeof(cf);
    cf.dwMask = CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT;
    cf.dwEffects = CFE_BOLD;
    SendMessageA(s.text, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
  }
  CHARRANGE none{0, 0};
  SendMessageA(s.text, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&none));
}

HICON BoxIcon(uint32_t style) {
  switch (IconBits(style)) {
    case 0x10: return LoadIconA(nullptr, IDI_HAND);
    case 0x20: return LoadIconA(nullptr, IDI_QUESTION);
    case 0x30: return LoadIconA(nullptr, IDI_EXCLAMATION);
    case 0x40: return LoadIconA(nullptr, IDI_ASTERISK);
    default: return LoadIconA(GetModuleHandleA(nullptr), "MainIcon");
  }
}

void RunModalLoop(BoxState& s) {
  while (!s.done) {
    MSG m;
    BOOL got = GetMessageA(&m, nullptr, 0, 0);
    if (got == 0) {
      // A quit request belongs to the program's main loop: close the box
      // without an answer and hand the request on.
      s.result = 0;
      if (IsWindow(s.box)) SendMessageA(s.box, WM_CLOSE, 0, 0);
      PostQuitMessage(static_cast<int>(m.wParam));
      break;
    }
    if (got == -1) break;
    if (HandleKey(s, m)) continue;
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
}

int RunBox(HWND owner, const std::string& body, const std::string& title, int timeoutMs, uint32_t style,
           const std::string& buttonTexts) {
  BoxState s;
  s.style = style;
  s.timeout = timeoutMs;
  HINSTANCE inst = GetModuleHandleA(nullptr);

  s.font = CreateFontA(-PointsToPixels(g_FontSize), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       static_cast<BYTE>(g_FontCharset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       FF_SWISS | DEFAULT_PITCH, g_FontFace.c_str());
  HMODULE boxLib = LoadSystemLibrary("RICHED32.DLL");

  WNDCLASSA wc{};
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = BoxProc;
  wc.hInstance = inst;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kBoxClass;
  RegisterClassA(&wc);  // fails harmlessly while an outer box still uses the class

  s.saved = GetActiveWindow();
  if (s.saved) EnableWindow(s.saved, FALSE);

  ++g_OpenBoxes;
  s.box = CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, kBoxClass, title.c_str(), WS_VISIBLE | WS_CAPTION | WS_SYSMENU,
                  -100, -100, 10, 10, owner, nullptr, inst, &s);
  if (s.box) {
    if (g_MainWindow) AllowInstanceMessages(s.box);
    if (style & kStyleNoClose) EnableMenuItem(GetSystemMenu(s.box, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);

    DWORD textStyle = WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY | ES_WANTRETURN;
    if (style & kStyleRight) textStyle |= ES_RIGHT;
    const DWORD textEx = (style & kStyleRtlReading) ? WS_EX_RTLREADING : 0;
    s.text = CreateWindowExA(textEx, "RICHEDIT", "", textStyle, 86, 30, 100, 13, s.box, nullptr, inst, nullptr);
    const bool rich = s.text != nullptr;
    if (!rich)  // without the rich-text library the words still matter more than the bold
      s.text = CreateWindowExA(textEx, "EDIT", "", textStyle, 86, 30, 100, 13, s.box, nullptr, inst, nullptr);
    if (rich) SendMessageA(s.text, EM_SETEVENTMASK, 0, ENM_REQUESTRESIZE);
    SendMessageA(s.text, WM_SETFONT, reinterpret_cast<WPARAM>(s.font), FALSE);
    if (rich) SendMessageA(s.text, EM_SETBKGNDCOLOR, 0, GetSysColor(COLOR_WINDOW));

    const MarkupText m = ConvertMarkup(body);
    SetBody(s, m, rich);
    const TextExtent e = MeasureText(s.text, s.font, m.text);
    SizeControl(s.text, e.w + 10, e.h);
    if (rich && !m.bold.empty()) {
      const int width = WidenForBold(e.w, e.h, [&](int w, int& reqW, int& reqH) {
        s.reqW = -1;
        s.reqH = -1;  // stays so when the control sends no EN_REQUESTRESIZE
        SizeControl(s.text, w, e.h);
        SendMessageA(s.text, EM_REQUESTRESIZE, 0, 0);
        reqW = s.reqW;
        reqH = s.reqH;
      });
      SizeControl(s.text, width, e.h);
    }

    // Without any text control the box is still sized for the measured text.
    RECT tr{0, 0, e.w + 10, e.h};
    if (s.text) GetWindowRect(s.text, &tr);
    const int cw = tr.right - tr.left, ch = tr.bottom - tr.top;
    const BoxSize bs = BoxSizeFor(cw, ch, GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME),
                                  GetSystemMetrics(SM_CYCAPTION));
    const POINT at = CentreInWorkArea(bs.width, bs.height);
    SetWindowPos(s.box, nullptr, at.x, at.y, bs.width, bs.height, SWP_NOZORDER | SWP_SHOWWINDOW);

    RECT cr;
    GetClientRect(s.box, &cr);
    const Rect place = TextPlacement(cr.right, cr.bottom, cw, ch);
    SetWindowPos(s.text, nullptr, place.x, place.y, place.w, place.h, SWP_NOZORDER | SWP_NOACTIVATE);

    s.icon = BoxIcon(style);

    const ButtonSet set = ButtonSetOf(style);
    s.buttonCount = set.count;
    for (int i = set.count - 1; i >= 0; --i) {
      const ButtonSpec& b = set.buttons[i];
      s.captions[i] = ButtonCaption(buttonTexts, b.captionItem);
      s.buttons[i] = CreateWindowExA(0, "Button", s.captions[i].c_str(), WS_CHILD | WS_VISIBLE,
                                     ButtonLeft(cr.right, i, set.count), ButtonTop(cr.bottom), kButtonWidth,
                                     kButtonHeight, s.box, reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.result)),
                                     inst, nullptr);
      SendMessageA(s.buttons[i], WM_SETFONT, reinterpret_cast<WPARAM>(s.font), FALSE);
      SetWindowLongPtrA(s.buttons[i], GWLP_USERDATA, b.result);
    }
    FocusButton(s, DefaultButtonIndex(style));
    if (set.count == 0) SetFocus(s.box);

    RunModalLoop(s);
  } else if (s.saved) {
    EnableWindow(s.saved, TRUE);
  }

  if (--g_OpenBoxes == 0) UnregisterClassA(kBoxClass, inst);
  if (s.font) DeleteObject(s.font);
  if (LoadedOk(boxLib)) FreeLibrary(boxLib);
  return s.result;
}

}  // namespace

void SetMsgBoxFont(const std::string& face, int size, int charset) {
  g_FontFace = face;
  g_FontCharset = charset;
  if (size != 0) g_FontSize = size;
}

bool QuitMessagePending() {
  MSG m;
  // A quit is returned whatever the filter; PM_NOREMOVE leaves it for the main loop.
  return PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) && m.message == WM_QUIT;
}

int RichMsgBox(HWND owner, const std::string& body, const std::string& title, int timeoutMs, uint32_t style,
               const std::string& buttons) {
  if (QuitMessagePending()) {
    DebugLinePid(" MsgBox not shown (quit pending): " + BoxTextAsLine(title, body));
    return 0;
  }
  if (!LoadedOk(g_RichLib)) {
    HMODULE h = LoadSystemLibrary("RICHED32.DLL");
    g_RichLib = LoadedOk(h) ? h : nullptr;
  }
  return RunBox(owner, body, title, timeoutMs, style, buttons);
}

int ShowMsgBox(intptr_t ownerCode, const std::string& text, const std::string& title, int timeoutMs, uint32_t style,
               int charset, const std::string& buttons) {
  if (HiddenOperation()) {
    // Nobody would click it: the text goes where a deployment tool's logs
    // can find it, and the answer is the refusing one.
    std::string line = " MsgBox not shown (hidden operation): " + BoxTextAsLine(title, text);
    DebugLinePid(line);
    AppendLog(line);
    ButtonSet set = ButtonSetOf(style);
    return set.count > 0 ? set.buttons[set.count - 1].result : IDOK;
  }
  style = EffectiveStyle(ownerCode, charset, style);
  const bool activeOwner = ownerCode == 0 || ownerCode == 1 || ownerCode == 2;
  HWND owner = activeOwner ? GetActiveWindow() : reinterpret_cast<HWND>(ownerCode);
  const std::string body = ownerCode == 0 ? HeaderBody(title, text) : text;
  const int result = RichMsgBox(owner, body, title, timeoutMs, style, buttons);
  PumpMessagesFor(100);
  return result;
}

namespace {
std::string KindTitle(const std::string& title, int kind) {
  return title.empty() ? ListItem(kMsgBoxKinds, kind, "") : title;
}
std::string KindButtons(const std::string& buttons) { return buttons.empty() ? kDefaultButtonTexts : buttons; }
}  // namespace

void ErrorMsg(intptr_t ownerCode, const std::string& text, const std::string& title, int charset,
              const std::string& buttons) {
  ShowMsgBox(ownerCode, text, KindTitle(title, kKindError), 0, MB_ICONHAND | MB_OK, charset, KindButtons(buttons));
}

bool AttentionMsg(intptr_t ownerCode, const std::string& text, const std::string& title, int timeoutMs, int charset,
                  const std::string& buttons) {
  return ShowMsgBox(ownerCode, text, KindTitle(title, kKindAttention), timeoutMs, MB_ICONEXCLAMATION | MB_OK, charset,
                    KindButtons(buttons)) == IDOK;
}

bool ConfirmYesNo(intptr_t ownerCode, const std::string& text, const std::string& title, int timeoutMs, int charset,
                  const std::string& buttons) {
  return ShowMsgBox(ownerCode, text, KindTitle(title, kKindConfirm), timeoutMs, MB_ICONQUESTION | MB_YESNO, charset,
                    KindButtons(buttons)) == IDYES;
}

bool ConfirmOkCancel(intptr_t ownerCode, const std::string& text, const std::string& title, int charset,
                     const std::string& buttons) {
  return ShowMsgBox(ownerCode, text, KindTitle(title, kKindConfirm), 0, MB_ICONQUESTION | MB_OKCANCEL, charset,
                    KindButtons(buttons)) == IDOK;
}

void PreloadLibraries() {
  for (const char* name : {"shell32.dll", "USP10.dll", "MSLS31.dll", "RICHED32.DLL"}) {
    const UINT old = SetErrorMode(SEM_NOOPENFILEERRORBOX);
    SetErrorMode(old | SEM_NOOPENFILEERRORBOX);
    LoadSystemLibrary(name);
    SetErrorMode(old);
  }
}
