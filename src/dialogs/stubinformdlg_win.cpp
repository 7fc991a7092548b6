// The inform window: the announcement text in a read-only rich-text control
// over the client area and, with a link, a grey strip below it with one
// button that opens the link and closes the window. It runs its own message
// loop; the owner stays enabled.
#include "dialogs/stubinformdlg_win.h"

#include <richedit.h>

#include <algorithm>
#include <cstring>

#include "dialogs/informlayout.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/zdebug.h"
#include "process/userstart_win.h"

namespace {

const char kInformClass[] = "ZRichEditBox";
constexpr int kButtonData = 1;
constexpr size_t kMaxLoggedLink = 200;
constexpr int kTextInset = 4;

HMODULE g_RichLib = nullptr;  // loaded with the first window and kept

class FontHandle {
 public:
  explicit FontHandle(HFONT f) : font_(f) {}
  ~FontHandle() {
    if (font_) DeleteObject(font_);
  }
  FontHandle(const FontHandle&) = delete;
  FontHandle& operator=(const FontHandle&) = delete;
  HFONT get() const { return font_; }

 private:
  HFONT font_;
};

struct InformState {
  HWND wnd = nullptr;
  HWND text = nullptr;
  HWND button = nullptr;
  bool rich = false;
  std::string link;
  bool pressed = false;
  bool done = false;
  SIZE minTrack{0, 0};
};

InformState* StateOf(HWND wnd) { return reinterpret_cast<InformState*>(GetWindowLongPtrA(wnd, GWLP_USERDATA)); }

// The link is from a downloaded file: keep the debug line printable and short.
std::string LoggedLink(const std::string& link) {
  std::string out = link.substr(0, kMaxLoggedLink);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < ' ' || c == 0x7F) c = '?';
  return link.size() > kMaxLoggedLink ? out + "..." : out;
}

// Opens the link when the filter lets it through; false when it was refused.
bool OpenInformLink(const std::string& link) {
  const std::string why = InformLinkRefusal(link);
  if (!why.empty()) {
    DebugLinePid(" ShowInformWindow: link not opened (" + why + "): " + LoggedLink(link));
    return false;
  }
  DebugLinePid(" ShowInformWindow: opening " + LoggedLink(link));
  // A shell that cannot open it is not the user's concern; the line is for support.
  std::string how;
  bool opened = OpenLinkAsUser(link, how);
  DebugLinePid(" ShowInformWindow: link " + how);
  AppendLog("Inform link " + how);
  if (!opened) DebugLinePid(" ShowInformWindow: the shell did not open the link");
  return true;
}

void PlaceControls(const InformState& s) {
  RECT rc;
  GetClientRect(s.wnd, &rc);
  const InformLayout l = InformLayoutFor(rc.right, rc.bottom, s.button != nullptr);
  if (s.text) {
    SetWindowPos(s.text, nullptr, l.text.x, l.text.y, l.text.w, l.text.h,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    if (s.rich) {
      // The control sits flush under the caption; keep its first line off the edge.
      RECT fr;
      GetClientRect(s.text, &fr);
      fr.left += kTextInset;
      fr.top += kTextInset;
      fr.right = std::max(fr.right - kTextInset, fr.left);
      SendMessageA(s.text, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&fr));
    }
  }
  if (s.button)
    SetWindowPos(s.button, nullptr, l.button.x, l.button.y, l.button.w, l.button.h,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

void PaintInform(HWND wnd, const InformState& s) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(wnd, &ps);
  RECT rc;
  GetClientRect(wnd, &rc);
  FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOW));
  const InformLayout l = InformLayoutFor(rc.right, rc.bottom, s.button != nullptr);
  if (l.hasButton) {
    HPEN dark = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_3DDKSHADOW));
    HGDIOBJ oldPen = SelectObject(dc, dark);
    MoveToEx(dc, 0, l.stripTop, nullptr);
    LineTo(dc, rc.right, l.stripTop);
    SelectObject(dc, oldPen);
    DeleteObject(dark);
    RECT strip{0, l.stripTop + 1, rc.right, rc.bottom};
    FillRect(dc, &strip, GetSysColorBrush(COLOR_BTNFACE));
  }
  EndPaint(wnd, &ps);
}

LRESULT CALLBACK InformProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  InformState* s = StateOf(wnd);
  if (!s) return DefWindowProcA(wnd, msg, wp, lp);
  switch (msg) {
    case WM_CREATE:
      s->wnd = wnd;
      return 0;
    case WM_SIZE:
      PlaceControls(*s);
      return 0;
    case WM_GETMINMAXINFO:
      if (s->minTrack.cx > 0) {
        auto* mm = reinterpret_cast<MINMAXINFO*>(lp);
        mm->ptMinTrackSize.x = s->minTrack.cx;
        mm->ptMinTrackSize.y = s->minTrack.cy;
        return 0;
      }
      break;
    case WM_PAINT:
      PaintInform(wnd, *s);
      return 0;
    case WM_COMMAND:
      if (s->button && reinterpret_cast<HWND>(lp) == s->button && HIWORD(wp) == BN_CLICKED) {
        // A second click before the close arrives must not open a second browser.
        if (!s->pressed) {
          s->pressed = true;
          OpenInformLink(s->link);
          PostMessageA(wnd, WM_CLOSE, 0, 0);
        }
        return 0;
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

struct StreamSource {
  const std::string* text;
  size_t at;
};

DWORD CALLBACK ReadBody(DWORD_PTR cookie, LPBYTE buf, LONG want, LONG* got) {
  auto* src = reinterpret_cast<StreamSource*>(cookie);
  const size_t left = src->text->size() - src->at;
  const size_t n = want > 0 && static_cast<size_t>(want) < left ? static_cast<size_t>(want) : left;
  memcpy(buf, src->text->data() + src->at, n);
  src->at += n;
  *got = static_cast<LONG>(n);
  return 0;
}

// The body is streamed in as plain text: a downloaded "{\rtf" body set as
// window text would be parsed as RTF (objects, links, fonts) by the control.
void SetBody(HWND text, bool rich, const std::string& body) {
  if (!rich) {
    SetWindowTextA(text, body.c_str());
    return;
  }
  // The control holds 32K characters unless told otherwise.
  SendMessageA(text, EM_EXLIMITTEXT, 0, static_cast<LPARAM>(body.size() + 1));
  StreamSource src{&body, 0};
  EDITSTREAM es{};
  es.dwCookie = reinterpret_cast<DWORD_PTR>(&src);
  es.pfnCallback = ReadBody;
  SendMessageA(text, EM_STREAMIN, SF_TEXT, reinterpret_cast<LPARAM>(&es));
}

HFONT MakeFont(int height, int charset, const std::string& face) {
  return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, static_cast<BYTE>(charset), OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS | DEFAULT_PITCH, face.c_str());
}

void RunLoop(InformState& s) {
  bool quit = false;
  WPARAM quitCode = 0;
  while (!s.done) {
    MSG m;
    const BOOL got = GetMessageA(&m, nullptr, 0, 0);
    if (got == 0) {
      quit = true;
      quitCode = m.wParam;
      break;
    }
    if (got == -1) break;
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  if (!s.done && IsWindow(s.wnd)) DestroyWindow(s.wnd);
  // The quit request belongs to the program's main loop.
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
}

bool RunInformWindow(HWND owner, const std::string& title, const std::string& buttonCaption, int charset,
                     int fontSize, const std::string& fontFace, bool rightToLeft, int height, int width,
                     const std::string& link, const std::string& body) {
  InformState s;
  s.link = link;
  HINSTANCE inst = GetModuleHandleA(nullptr);
  if (!g_RichLib) {
    HMODULE h = LoadSystemLibrary("RICHED32.DLL");
    g_RichLib = reinterpret_cast<uintptr_t>(h) > 32 ? h : nullptr;
  }

  FontHandle buttonFont(MakeFont(-PointsToPixels(fontSize), charset, fontFace));
  FontHandle textFont(MakeFont(kInformTextFontHeight, charset, InformTextFace(fontFace)));

  WNDCLASSA wc{};
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = InformProc;
  wc.hInstance = inst;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kInformClass;
  RegisterClassA(&wc);  // fails harmlessly while another inform window uses the class

  const DWORD style = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
  const DWORD exStyle = WS_EX_DLGMODALFRAME;
  RECT frame{0, 0, 0, 0};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int ncW = frame.right - frame.left, ncH = frame.bottom - frame.top;
  const RECT wa = WorkArea();
  const InformSize size =
      ClampInformSize(width, height, wa.right - wa.left, wa.bottom - wa.top, ncW, ncH);
  const InformPoint at = InformWindowPos(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), size.width,
                                         size.height, Rect{wa.left, wa.top, wa.right - wa.left, wa.bottom - wa.top});
  s.minTrack.cx = std::min(kInformMinClientWidth + ncW, size.width);
  s.minTrack.cy = std::min(kInformMinClientHeight + ncH, size.height);

  bool shown = false;
  s.wnd = CreateWindowExA(exStyle, kInformClass, title.c_str(), style, at.x, at.y, size.width, size.height, owner,
                          nullptr, inst, &s);
  if (s.wnd) {
    shown = true;
    DWORD textStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_WANTRETURN;
    if (rightToLeft) textStyle |= ES_RIGHT;
    const DWORD textEx = rightToLeft ? WS_EX_RTLREADING : 0;
    s.text = CreateWindowExA(textEx, "RICHEDIT", "", textStyle, 0, 0, 10, 10, s.wnd, nullptr, inst, nullptr);
    const bool rich = s.text != nullptr;
    s.rich = rich;
    if (!rich) {  // without the rich-text library the announcement still gets read
      DebugLinePid(" ShowInformWindow: no rich-text control, plain edit control used");
      s.text = CreateWindowExA(textEx, "EDIT", "", textStyle, 0, 0, 10, 10, s.wnd, nullptr, inst, nullptr);
    }
    if (rich) SendMessageA(s.text, EM_SETEVENTMASK, 0, ENM_REQUESTRESIZE);
    SendMessageA(s.text, WM_SETFONT, reinterpret_cast<WPARAM>(textFont.get()), FALSE);
    if (rich) SendMessageA(s.text, EM_SETBKGNDCOLOR, 0, GetSysColor(COLOR_WINDOW));
    SetBody(s.text, rich, body);

    if (!link.empty()) {
      s.button = CreateWindowExA(0, "Button", buttonCaption.c_str(), WS_CHILD | WS_VISIBLE, 0, 0,
                                 kInformButtonWidth, kInformButtonHeight, s.wnd,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonData)), inst, nullptr);
      if (s.button) {
        SendMessageA(s.button, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont.get()), FALSE);
        SetWindowLongPtrA(s.button, GWLP_USERDATA, kButtonData);
      }
    }
    PlaceControls(s);
    InvalidateRect(s.wnd, nullptr, TRUE);
    if (s.button) {
      SetFocus(s.button);
      SendMessageA(s.button, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    } else if (s.text) {
      SetFocus(s.text);  // so the keys scroll the text
    }
    SetForegroundWindow(s.wnd);
    RunLoop(s);
  } else {
    DebugLinePid(" ShowInformWindow: the window could not be made: " + LastErrorText());
  }

  UnregisterClassA(kInformClass, inst);
  return shown;
}

}  // namespace

bool ShowInformWindow(HWND owner, const std::string& title, const std::string& button, int charset, int fontSize,
                      const std::string& fontFace, bool rightToLeft, int height, int width, const std::string& link,
                      const std::string& body) {
  const std::string trimmedLink = Trim(link);
  if (body.empty()) {
    if (trimmedLink.empty()) return false;
    return OpenInformLink(trimmedLink);
  }
  return RunInformWindow(owner, title, button, charset, fontSize, fontFace, rightToLeft, height, width, trimmedLink,
                         body);
}
