// testwindows: opens top-level windows as told and records what they receive.
//
//   testwindows.exe [/report=<file>] [/ready=<file>] [/exit=<code>] [/refuseclose]
//                   [/register=<name>[,<name>...]] [/lifetime=<ms>]
//                   /window=<item>[,<item>...] ...
// Window items: visible | hidden (default) | title=<text> | class=<name>
// (default "ZTestWindow") | owner=<index of an earlier window>.
//
// Report lines (the file is appended to and closed per line): first
//   cmdline=<the raw command line>
// then one per message:
//   msg=<number> win=<window index, -1 for the thread> w=<wParam> l=<lParam>
// Recorded: WM_CLOSE, WM_QUIT (when the loop takes it), every message from
// WM_USER to 0xBFFF, and the registered messages named by /register=.
// The ready file holds "pid=<id>" and one "hwnd<i>=<handle>" line per window,
// all in decimal; it is written when every window exists.
// WM_CLOSE destroys the window and ends the program unless /refuseclose is
// given. The program ends with the /exit= code (default 0), at the latest
// after /lifetime= ms (default 120000), so that a failed test leaves nothing.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct WindowSpec {
  bool visible = false;
  std::string title;
  std::string cls = "ZTestWindow";
  int owner = -1;
};

std::string g_report;
bool g_refuseClose = false;
int g_exitCode = 0;
std::vector<UINT> g_registered;
std::vector<HWND> g_windows;

void Record(UINT msg, int win, WPARAM w, LPARAM l) {
  if (g_report.empty()) return;
  FILE* f = std::fopen(g_report.c_str(), "ab");
  if (!f) return;
  std::fprintf(f, "msg=%u win=%d w=%llu l=%lld\r\n", msg, win, (unsigned long long)w, (long long)l);
  std::fclose(f);
}

int IndexOf(HWND wnd) {
  for (size_t i = 0; i < g_windows.size(); ++i)
    if (g_windows[i] == wnd) return int(i);
  return -1;
}

bool Recorded(UINT msg) {
  if (msg == WM_CLOSE || msg == WM_QUIT) return true;
  if (msg >= WM_USER && msg <= 0xBFFF) return true;
  for (UINT r : g_registered)
    if (r == msg) return true;
  return false;
}

LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
  if (Recorded(msg)) Record(msg, IndexOf(wnd), w, l);
  if (msg == WM_CLOSE) {
    if (g_refuseClose) return 0;
    DestroyWindow(wnd);
    PostQuitMessage(g_exitCode);
    return 0;
  }
  if (msg == WM_TIMER && w == 1) {
    PostQuitMessage(g_exitCode);
    return 0;
  }
  return DefWindowProcA(wnd, msg, w, l);
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t p = s.find(sep, start);
    out.push_back(s.substr(start, p == std::string::npos ? std::string::npos : p - start));
    if (p == std::string::npos) return out;
    start = p + 1;
  }
}

bool Value(const std::string& arg, const char* key, std::string& out) {
  size_t n = std::strlen(key);
  if (_strnicmp(arg.c_str(), key, n) != 0) return false;
  out = arg.substr(n);
  return true;
}

WindowSpec ParseWindow(const std::string& text) {
  WindowSpec w;
  for (const std::string& item : Split(text, ',')) {
    std::string v;
    if (_stricmp(item.c_str(), "visible") == 0) w.visible = true;
    else if (_stricmp(item.c_str(), "hidden") == 0) w.visible = false;
    else if (Value(item, "title=", v)) w.title = v;
    else if (Value(item, "class=", v)) w.cls = v;
    else if (Value(item, "owner=", v)) w.owner = std::atoi(v.c_str());
  }
  return w;
}

bool RegisterOnce(HINSTANCE inst, const std::string& cls) {
  WNDCLASSA wc;
  if (GetClassInfoA(inst, cls.c_str(), &wc)) return true;
  std::memset(&wc, 0, sizeof(wc));
  wc.lpfnWndProc = WndProc;
  wc.hInstance = inst;
  wc.lpszClassName = cls.c_str();
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  return RegisterClassA(&wc) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  HINSTANCE inst = GetModuleHandleA(nullptr);
  std::string ready;
  int lifetime = 120000;
  std::vector<WindowSpec> plans;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i], v;
    if (Value(a, "/report=", v)) g_report = v;
    else if (Value(a, "/ready=", v)) ready = v;
    else if (Value(a, "/exit=", v)) g_exitCode = std::atoi(v.c_str());
    else if (_stricmp(a.c_str(), "/refuseclose") == 0) g_refuseClose = true;
    else if (Value(a, "/lifetime=", v)) lifetime = std::atoi(v.c_str());
    else if (Value(a, "/window=", v)) plans.push_back(ParseWindow(v));
    else if (Value(a, "/register=", v)) {
      for (const std::string& name : Split(v, ','))
        if (!name.empty()) g_registered.push_back(RegisterWindowMessageA(name.c_str()));
    }
  }

  if (!g_report.empty()) {
    FILE* f = std::fopen(g_report.c_str(), "ab");
    if (f) {
      std::fprintf(f, "cmdline=%s\r\n", GetCommandLineA());
      std::fclose(f);
    }
  }

  for (const WindowSpec& s : plans) {
    if (!RegisterOnce(inst, s.cls)) return 90;
    HWND owner = s.owner >= 0 && s.owner < int(g_windows.size()) ? g_windows[s.owner] : nullptr;
    HWND w = CreateWindowExA(0, s.cls.c_str(), s.title.c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, owner,
                             nullptr, inst, nullptr);
    if (!w) return 91;
    if (s.visible) ShowWindow(w, SW_SHOWNOACTIVATE);
    g_windows.push_back(w);
  }
  // The safety timer needs a window; a program without windows just sleeps.
  if (!g_windows.empty()) SetTimer(g_windows[0], 1, lifetime, nullptr);

  if (!ready.empty()) {
    std::string text = "pid=" + std::to_string(GetCurrentProcessId()) + "\r\n";
    for (size_t i = 0; i < g_windows.size(); ++i)
      text += "hwnd" + std::to_string(i) + "=" + std::to_string((unsigned long long)(uintptr_t)g_windows[i]) + "\r\n";
    // Written under a temporary name, then renamed: a reader never sees half of it.
    std::string tmp = ready + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (f) {
      std::fputs(text.c_str(), f);
      std::fclose(f);
      MoveFileExA(tmp.c_str(), ready.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
  }

  if (g_windows.empty()) {
    Sleep(lifetime);
    return g_exitCode;
  }
  MSG m;
  for (;;) {
    BOOL r = GetMessageA(&m, nullptr, 0, 0);
    if (r == 0) {
      Record(WM_QUIT, m.hwnd ? IndexOf(m.hwnd) : -1, m.wParam, m.lParam);
      break;
    }
    if (r < 0) break;
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  return g_exitCode;
}
