// guidriver: drives the windows of a program under test from outside, the
// way a user would: waits for a window, reads its controls, presses its
// buttons, types keys and closes it. See docs/gui-driver.md.
#include <windows.h>
#include <richedit.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int g_TimeoutMs = 10000;
std::string g_Title;    // --title=: caption must equal this (case-sensitive)
DWORD g_Pid = 0;        // --pid=
HWND g_Hwnd = nullptr;  // --hwnd=: this window and no other
bool g_BmClick = false;
bool g_Bare = false;
int g_WatchMs = 0;  // longest wait the command may make  // --bare: a window without child controls is ready too

int Fail(const std::string& msg) {
  fprintf(stderr, "guidriver: %s\n", msg.c_str());
  return 1;
}

std::string Escape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          snprintf(buf, sizeof buf, "\\x%02X", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string Hex(uintptr_t v) {
  char buf[32];
  snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

std::string ClassOf(HWND w) {
  char buf[256] = {};
  GetClassNameA(w, buf, sizeof buf);
  return buf;
}

// Cross-process WM_GETTEXT with a reply timeout, so a hung program cannot
// hang the driver.
std::string TextOf(HWND w) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutA(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &len)) return "";
  std::string buf(len + 2, '\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutA(w, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(&buf[0]), SMTO_ABORTIFHUNG, 5000,
                           &got))
    return "";
  buf.resize(std::min<size_t>(got, buf.size()));
  return buf;
}

bool SameClass(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

struct Find {
  std::string cls;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTop(HWND w, LPARAM lp) {
  auto* f = reinterpret_cast<Find*>(lp);
  if (!f->cls.empty() && !SameClass(ClassOf(w), f->cls)) return TRUE;
  if (g_Pid) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != g_Pid) return TRUE;
  }
  if (!g_Title.empty() && TextOf(w) != g_Title) return TRUE;
  f->found.push_back(w);
  return TRUE;
}

std::vector<HWND> TopWindows(const std::string& cls) {
  Find f{cls, {}};
  EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

BOOL CALLBACK CollectChild(HWND w, LPARAM lp) {
  reinterpret_cast<std::vector<HWND>*>(lp)->push_back(w);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> v;
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&v));
  return v;
}

HWND FirstVisible(const std::string& cls) {
  if (g_Hwnd) return IsWindow(g_Hwnd) && IsWindowVisible(g_Hwnd) ? g_Hwnd : nullptr;
  for (HWND w : TopWindows(cls))
    if (IsWindowVisible(w)) return w;
  return nullptr;
}

// A window is ready when it is visible and its set of child controls has
// stopped changing (the box creates its buttons after it is shown), and its
// thread waits for input.
HWND WaitReady(const std::string& cls, int timeoutMs) {
  const DWORD start = GetTickCount();
  HWND last = nullptr;
  std::vector<HWND> lastKids;
  int stable = 0;
  for (;;) {
    HWND w = FirstVisible(cls);
    if (w) {
      std::vector<HWND> kids = Children(w);
      if (w == last && kids == lastKids && (g_Bare || !kids.empty())) {
        if (++stable >= 2) {
          DWORD pid = 0;
          GetWindowThreadProcessId(w, &pid);
          if (HANDLE p = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid)) {
            const DWORD left = static_cast<DWORD>(std::max<long>(0, timeoutMs - static_cast<long>(GetTickCount() - start)));
            WaitForInputIdle(p, std::min<DWORD>(left, 2000));
            CloseHandle(p);
          }
          if (IsWindow(w)) return w;
        }
      } else {
        stable = 0;
      }
      last = w;
      lastKids = kids;
    } else {
      last = nullptr;
      stable = 0;
    }
    if (static_cast<long>(GetTickCount() - start) >= timeoutMs) return nullptr;
    Sleep(40);
  }
}

struct Button {
  HWND wnd;
  RECT rc;  // in the parent's client coordinates
  std::string caption;
};

RECT ClientRectOf(HWND child, HWND parent) {
  RECT rc;
  GetWindowRect(child, &rc);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

std::vector<Button> ButtonsOf(HWND top) {
  std::vector<Button> v;
  for (HWND c : Children(top)) {
    if (!SameClass(ClassOf(c), "Button") || !IsWindowVisible(c)) continue;
    v.push_back({c, ClientRectOf(c, top), TextOf(c)});
  }
  std::stable_sort(v.begin(), v.end(), [](const Button& a, const Button& b) {
    return a.rc.left != b.rc.left ? a.rc.left < b.rc.left : a.rc.top < b.rc.top;
  });
  return v;
}

std::string RectText(const RECT& rc) {
  return std::to_string(rc.left) + "," + std::to_string(rc.top) + "," + std::to_string(rc.right - rc.left) + "," +
         std::to_string(rc.bottom - rc.top);
}

std::string Bare(const std::string& caption) {
  std::string s;
  for (char c : caption)
    if (c != '&') s += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return s;
}

// Bold ranges of a rich-text control in another process. The character
// format is read through memory in that process; a range whose format is
// uniform is settled with one query, mixed ranges are halved.
// Line breaks are left out: the control gives them the format of the text
// before them, which says nothing about what the reader sees.
struct RemoteFormat {
  HWND edit;
  HANDLE process;
  void* remote;
  bool ok = true;

  // 1 bold, 0 plain, -1 mixed
  int BoldOf(int from, int to) {
    DWORD_PTR r;
    CHARFORMATA cf{};
    cf.cbSize = sizeof cf;
    SIZE_T n = 0;
    ok = ok && SendMessageTimeoutA(edit, EM_SETSEL, from, to, SMTO_ABORTIFHUNG, 5000, &r) &&
         WriteProcessMemory(process, remote, &cf, sizeof cf, &n) &&
         SendMessageTimeoutA(edit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(remote),
                             SMTO_ABORTIFHUNG, 5000, &r) &&
         ReadProcessMemory(process, remote, &cf, sizeof cf, &n);
    if (!ok) return 0;
    if (!(cf.dwMask & CFM_BOLD)) return -1;
    return (cf.dwEffects & CFE_BOLD) ? 1 : 0;
  }

  void Fill(int from, int to, std::vector<char>& bold) {
    if (from >= to || !ok) return;
    int b = BoldOf(from, to);
    if (b >= 0 || to - from == 1) {
      for (int i = from; i < to; ++i) bold[i] = b > 0;
      return;
    }
    const int mid = from + (to - from) / 2;
    Fill(from, mid, bold);
    Fill(mid, to, bold);
  }
};

std::string BoldRanges(HWND edit, const std::string& text) {
  const int length = static_cast<int>(text.size());
  DWORD pid = 0;
  GetWindowThreadProcessId(edit, &pid);
  HANDLE p = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!p) return "?";
  void* remote = VirtualAllocEx(p, nullptr, sizeof(CHARFORMATA), MEM_COMMIT, PAGE_READWRITE);
  if (!remote) {
    CloseHandle(p);
    return "?";
  }
  RemoteFormat rf{edit, p, remote};
  std::vector<char> bold(length, 0);
  rf.Fill(0, length, bold);
  DWORD_PTR r;
  SendMessageTimeoutA(edit, EM_SETSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
  VirtualFreeEx(p, remote, 0, MEM_RELEASE);
  CloseHandle(p);
  if (!rf.ok) return "?";
  std::string out;
  int runStart = -1;
  for (int i = 0; i <= length; ++i) {
    const bool b = i < length && bold[i] && text[i] != '\r' && text[i] != '\n';
    if (b && runStart < 0) runStart = i;
    if (!b && runStart >= 0) {
      if (!out.empty()) out += ",";
      out += std::to_string(runStart) + "-" + std::to_string(i);
      runStart = -1;
    }
  }
  return out;
}

std::string CloseState(HWND w) {
  HMENU menu = GetSystemMenu(w, FALSE);
  if (!menu) return "?";
  UINT st = GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND);
  if (st == static_cast<UINT>(-1)) return "?";
  return (st & (MF_GRAYED | MF_DISABLED)) ? "1" : "0";
}

HWND FocusOf(HWND top) {
  GUITHREADINFO gi{};
  gi.cbSize = sizeof gi;
  DWORD tid = GetWindowThreadProcessId(top, nullptr);
  if (!GetGUIThreadInfo(tid, &gi)) return nullptr;
  return gi.hwndFocus;
}

int Dump(HWND w) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  RECT wr, cr;
  GetWindowRect(w, &wr);
  GetClientRect(w, &cr);
  printf("hwnd=%s\n", Hex(reinterpret_cast<uintptr_t>(w)).c_str());
  printf("class=%s\n", ClassOf(w).c_str());
  printf("caption=%s\n", Escape(TextOf(w)).c_str());
  printf("pid=%lu\n", static_cast<unsigned long>(pid));
  printf("visible=%d\nenabled=%d\n", IsWindowVisible(w) ? 1 : 0, IsWindowEnabled(w) ? 1 : 0);
  printf("style=%s\nexstyle=%s\n", Hex(static_cast<DWORD>(GetWindowLongA(w, GWL_STYLE))).c_str(),
         Hex(static_cast<DWORD>(GetWindowLongA(w, GWL_EXSTYLE))).c_str());
  printf("rect=%s\n", RectText(wr).c_str());
  printf("client=%ld,%ld\n", cr.right, cr.bottom);
  printf("closegrey=%s\n", CloseState(w).c_str());
  HWND owner = GetWindow(w, GW_OWNER);
  printf("owner=%s\n", Hex(reinterpret_cast<uintptr_t>(owner)).c_str());
  const HWND focus = FocusOf(w);

  // The first text control (rich or plain edit) is the body.
  for (HWND c : Children(w)) {
    std::string cls = ClassOf(c);
    std::string upper = cls;
    CharUpperA(&upper[0]);
    if (upper.find("RICHEDIT") == std::string::npos && upper != "EDIT") continue;
    const std::string text = TextOf(c);
    const DWORD st = static_cast<DWORD>(GetWindowLongA(c, GWL_STYLE));
    const DWORD ex = static_cast<DWORD>(GetWindowLongA(c, GWL_EXSTYLE));
    printf("text=%s\n", Escape(text).c_str());
    printf("text_class=%s\n", cls.c_str());
    printf("text_style=%s\ntext_exstyle=%s\n", Hex(st).c_str(), Hex(ex).c_str());
    printf("text_right=%d\ntext_rtl=%d\n", (st & ES_RIGHT) ? 1 : 0, (ex & WS_EX_RTLREADING) ? 1 : 0);
    printf("text_rect=%s\n", RectText(ClientRectOf(c, w)).c_str());
    if (upper.find("RICHEDIT") != std::string::npos)
      printf("bold=%s\n", BoldRanges(c, text).c_str());
    break;
  }

  const std::vector<Button> buttons = ButtonsOf(w);
  std::string list = "|";
  int focusIndex = -1, defIndex = -1;
  for (size_t i = 0; i < buttons.size(); ++i) {
    const Button& b = buttons[i];
    list += b.caption + "|";
    const DWORD st = static_cast<DWORD>(GetWindowLongA(b.wnd, GWL_STYLE));
    printf("button%zu=%s\n", i, Escape(b.caption).c_str());
    printf("button%zu_id=%d\n", i, GetDlgCtrlID(b.wnd));
    printf("button%zu_data=%lld\n", i, static_cast<long long>(GetWindowLongPtrA(b.wnd, GWLP_USERDATA)));
    printf("button%zu_rect=%s\n", i, RectText(b.rc).c_str());
    if (b.wnd == focus) focusIndex = static_cast<int>(i);
    if ((st & 0x0F) == BS_DEFPUSHBUTTON) defIndex = static_cast<int>(i);
  }
  printf("buttons=%s\n", Escape(buttons.empty() ? "" : list).c_str());
  printf("focus=%d\ndefault=%d\n", focusIndex, defIndex);
  for (HWND c : Children(w))
    printf("child=%s\t%d\t%s\t%s\n", ClassOf(c).c_str(), GetDlgCtrlID(c), Hex(static_cast<DWORD>(GetWindowLongA(c, GWL_STYLE))).c_str(),
           Escape(TextOf(c)).c_str());
  return 0;
}

int Press(HWND w, const std::string& which) {
  const std::vector<Button> buttons = ButtonsOf(w);
  int index = -1;
  const bool number = !which.empty() && which.find_first_not_of("0123456789") == std::string::npos;
  if (number) {
    index = atoi(which.c_str()) - 1;
  } else {
    for (size_t i = 0; i < buttons.size() && index < 0; ++i)
      if (buttons[i].caption == which) index = static_cast<int>(i);
    for (size_t i = 0; i < buttons.size() && index < 0; ++i)
      if (Bare(buttons[i].caption) == Bare(which)) index = static_cast<int>(i);
  }
  if (index < 0 || index >= static_cast<int>(buttons.size()))
    return Fail("no button '" + which + "' (" + std::to_string(buttons.size()) + " buttons)");
  HWND b = buttons[index].wnd;
  if (g_BmClick) {
    DWORD_PTR r;
    if (!SendMessageTimeoutA(b, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &r)) return Fail("BM_CLICK was not answered");
  } else {
    HWND parent = GetParent(b);
    if (!PostMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(b), BN_CLICKED), reinterpret_cast<LPARAM>(b)))
      return Fail("could not post the click");
  }
  printf("pressed=%s\n", Escape(buttons[index].caption).c_str());
  return 0;
}

// Key messages go where the keyboard would send them: the focused control
// of the window, or the window itself.
HWND KeyTarget(HWND w) {
  HWND f = FocusOf(w);
  if (f && (f == w || IsChild(w, f))) return f;
  return w;
}

int ParseKey(const std::string& key) {
  struct Named {
    const char* name;
    int vk;
  };
  static const Named names[] = {{"RETURN", VK_RETURN}, {"ENTER", VK_RETURN}, {"TAB", VK_TAB},       {"LEFT", VK_LEFT},
                                {"RIGHT", VK_RIGHT},   {"UP", VK_UP},       {"DOWN", VK_DOWN},     {"ESCAPE", VK_ESCAPE},
                                {"ESC", VK_ESCAPE},    {"SPACE", VK_SPACE}, {"F4", VK_F4},         {"BACK", VK_BACK},
                                {"DELETE", VK_DELETE}, {"HOME", VK_HOME},   {"END", VK_END}};
  if (key.size() == 1) {
    char c = key[0];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return static_cast<unsigned char>(c);
  }
  for (const Named& n : names)
    if (lstrcmpiA(n.name, key.c_str()) == 0) return n.vk;
  char* end = nullptr;
  long v = strtol(key.c_str(), &end, 0);
  if (end && *end == '\0' && v > 0 && v < 256) return static_cast<int>(v);
  return -1;
}

int Key(HWND w, const std::string& key) {
  const int vk = ParseKey(key);
  if (vk < 0) return Fail("unknown key '" + key + "'");
  HWND t = KeyTarget(w);
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(vk, 0)) << 16;
  if (!PostMessageA(t, WM_KEYDOWN, vk, 1 | scan)) return Fail("could not post the key");
  PostMessageA(t, WM_KEYUP, vk, 1 | scan | 0xC0000000);
  return 0;
}

int AltKey(HWND w, const std::string& ch) {
  if (ch.size() != 1) return Fail("altkey takes one character");
  HWND t = KeyTarget(w);
  if (!PostMessageA(t, WM_SYSCHAR, static_cast<unsigned char>(ch[0]), 0x20000001)) return Fail("could not post the key");
  return 0;
}

int Send(HWND w, const std::string& msgText, const std::string& wpText, const std::string& lpText) {
  char* end = nullptr;
  UINT msg = static_cast<UINT>(strtoul(msgText.c_str(), &end, 0));
  if (!end || *end) msg = RegisterWindowMessageA(msgText.c_str());
  DWORD_PTR r = 0;
  if (!SendMessageTimeoutA(w, msg, strtoull(wpText.c_str(), nullptr, 0), strtoll(lpText.c_str(), nullptr, 0),
                           SMTO_ABORTIFHUNG, 5000, &r))
    return Fail("message was not answered");
  printf("result=%lld\n", static_cast<long long>(r));
  return 0;
}

int ListWindows() {
  // The count line is printed even for no windows, so a caller can tell an
  // empty list from a run that never started.
  std::vector<HWND> all = TopWindows("");
  for (HWND w : all) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    printf("%s\t%s\tvisible=%d\tpid=%lu\t%s\n", Hex(reinterpret_cast<uintptr_t>(w)).c_str(), ClassOf(w).c_str(),
           IsWindowVisible(w) ? 1 : 0, static_cast<unsigned long>(pid), Escape(TextOf(w)).c_str());
  }
  printf("windows=%u\n", static_cast<unsigned>(all.size()));
  return 0;
}

int WaitGone(const std::string& cls, int timeoutMs) {
  const DWORD start = GetTickCount();
  while (FirstVisible(cls) || (g_Hwnd && IsWindow(g_Hwnd))) {
    if (static_cast<long>(GetTickCount() - start) >= timeoutMs) return Fail("window of class " + cls + " still there");
    Sleep(40);
  }
  return 0;
}

int Usage() {
  fprintf(stderr,
          "usage: guidriver [--timeout=ms] [--title=text] [--pid=n] [--hwnd=0x..] [--bmclick] [--bare] <command> ...\n"
          "  windows                          list top-level windows\n"
          "  idle [ms]                        keep the desktop of the prefix alive (default 600000)\n"
          "  wait <class> [timeout_ms]        wait for a visible window and its controls\n"
          "  gone <class> [timeout_ms]        wait until no such window is visible\n"
          "  dump <class>                     print the window and its controls as key=value lines\n"
          "  press <class> <number|caption>   click a button (number: 1 = leftmost)\n"
          "  key <class> <key>                post WM_KEYDOWN/UP (letter, RETURN, TAB, LEFT, .., or a number)\n"
          "  altkey <class> <char>            post WM_SYSCHAR (Alt + char)\n"
          "  close <class>                    post WM_CLOSE\n"
          "  sysclose <class>                 post WM_SYSCOMMAND SC_CLOSE (as from the window menu)\n"
          "  send <class> <msg|name> [wp] [lp] send a message and print its result\n"
          "  sendto <hwnd> <msg|name> [wp] [lp] the same to any window, hidden ones included\n"
          "  resize <class> <width> <height>  give the window that outer size (as dragging its frame)\n");
  return 2;
}

// Whatever a stuck program or Wine does, the driver itself ends: a caller
// waiting on it must not hang.
DWORD WINAPI Watchdog(void*) {
  Sleep(static_cast<DWORD>(std::max(g_WatchMs, 0)) + 15000);
  fprintf(stderr, "guidriver: no progress, giving up\n");
  fflush(stderr);
  ExitProcess(3);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--timeout=", 0) == 0) g_TimeoutMs = atoi(a.c_str() + 10);
    else if (a.rfind("--title=", 0) == 0) g_Title = a.substr(8);
    else if (a.rfind("--pid=", 0) == 0) g_Pid = static_cast<DWORD>(strtoul(a.c_str() + 6, nullptr, 0));
    else if (a.rfind("--hwnd=", 0) == 0)
      g_Hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(strtoull(a.c_str() + 7, nullptr, 0)));
    else if (a == "--bmclick") g_BmClick = true;
    else if (a == "--bare") g_Bare = true;
    else args.push_back(a);
  }
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (args.empty()) return Usage();
  const std::string cmd = args[0];
  g_WatchMs = g_TimeoutMs;
  if ((cmd == "wait" || cmd == "gone") && args.size() > 2) g_WatchMs = std::max(g_WatchMs, atoi(args[2].c_str()));
  if (cmd == "idle") g_WatchMs = args.size() > 1 ? atoi(args[1].c_str()) : 600000;
  if (HANDLE t = CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr)) CloseHandle(t);
  if (cmd == "windows") return ListWindows();
  if (cmd == "idle") {
    // Holds the prefix's desktop open: Wine ends its desktop process when the
    // last program goes away, and programs that start while it is starting
    // or ending can hang.
    GetDesktopWindow();
    TopWindows("");
    Sleep(static_cast<DWORD>(g_WatchMs));
    return 0;
  }
  if (cmd == "sendto" && args.size() > 2) {
    // Any window by handle, hidden ones included (an agent's window is hidden).
    HWND w = reinterpret_cast<HWND>(static_cast<uintptr_t>(strtoull(args[1].c_str(), nullptr, 0)));
    if (!IsWindow(w)) return Fail("no window " + args[1]);
    return Send(w, args[2], args.size() > 3 ? args[3] : "0", args.size() > 4 ? args[4] : "0");
  }
  if (args.size() < 2) return Usage();
  const std::string cls = args[1];
  if (cmd == "gone") return WaitGone(cls, args.size() > 2 ? atoi(args[2].c_str()) : g_TimeoutMs);

  const int timeout = cmd == "wait" && args.size() > 2 ? atoi(args[2].c_str()) : g_TimeoutMs;
  HWND w = WaitReady(cls, timeout);
  if (!w) return Fail("no ready window of class " + cls + " within " + std::to_string(timeout) + " ms");
  if (cmd == "wait") {
    printf("hwnd=%s\n", Hex(reinterpret_cast<uintptr_t>(w)).c_str());
    return 0;
  }
  if (cmd == "dump") return Dump(w);
  if (cmd == "press" && args.size() > 2) return Press(w, args[2]);
  if (cmd == "key" && args.size() > 2) return Key(w, args[2]);
  if (cmd == "altkey" && args.size() > 2) return AltKey(w, args[2]);
  if (cmd == "close") return PostMessageA(w, WM_CLOSE, 0, 0) ? 0 : Fail("could not post WM_CLOSE");
  if (cmd == "sysclose") return PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : Fail("could not post SC_CLOSE");
  if (cmd == "resize" && args.size() > 3)
    return SetWindowPos(w, nullptr, 0, 0, atoi(args[2].c_str()), atoi(args[3].c_str()),
                        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE)
               ? 0
               : Fail("could not resize the window");
  if (cmd == "send" && args.size() > 2)
    return Send(w, args[2], args.size() > 3 ? args[3] : "0", args.size() > 4 ? args[4] : "0");
  return Usage();
}
