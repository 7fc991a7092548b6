// notifyclient: a window that records the notifications an update agent posts.
//
//   notifyclient.exe /msg=<N> [/out=<file>] [/handle=<file>] [/until=<wParam>]
//                    [/timeout=<ms>] [/run <command line...>]
// Every message N that reaches the window is appended to the /out file as
// "<wParam> <lParam>" (decimal, one line, file closed per line).
// The window handle, in decimal, is printed on standard output and written
// to the /handle file (under a temporary name first, then renamed), so that
// a test can pass "/WM_MSG=<handle>:<N>" to the agent itself.
// /run: everything after it is a command line that the client starts with
// " /WM_MSG=<handle>:<N>" appended, once its window exists.
// The client ends when a pair with wParam equal to /until arrives, when its
// window is closed, or after /timeout ms (default 120000). Exit code 0; 2
// when the /run program could not be started; 3 when the timeout ran out.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "process/startretry_win.h"

namespace {

UINT g_msg = 0;
std::string g_out;
long long g_until = -1;
bool g_timedOut = false;

void Record(WPARAM w, LPARAM l) {
  if (g_out.empty()) return;
  FILE* f = std::fopen(g_out.c_str(), "ab");
  if (!f) return;
  std::fprintf(f, "%lld %lld\r\n", (long long)w, (long long)l);
  std::fclose(f);
}

LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
  if (g_msg != 0 && msg == g_msg) {
    Record(w, l);
    if (g_until >= 0 && (long long)w == g_until) PostQuitMessage(0);
    return 0;
  }
  if (msg == WM_TIMER && w == 1) {
    g_timedOut = true;
    PostQuitMessage(3);
    return 0;
  }
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(wnd, msg, w, l);
}

bool Value(const char* arg, const char* key, std::string& out) {
  size_t n = std::strlen(key);
  if (_strnicmp(arg, key, n) != 0) return false;
  out = arg + n;
  return true;
}

// The raw text of the command line after the "/run" word, quotes intact, in
// UTF-16: the program may lie in a folder of any name.
std::wstring RunTail() {
  const wchar_t* cl = GetCommandLineW();
  for (const wchar_t* p = cl; *p; ++p) {
    if ((p == cl || p[-1] == L' ' || p[-1] == L'\t') && _wcsnicmp(p, L"/run", 4) == 0 &&
        (p[4] == L' ' || p[4] == L'\t' || p[4] == 0)) {
      const wchar_t* t = p + 4;
      while (*t == L' ' || *t == L'\t') ++t;
      return t;
    }
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  std::string handleFile;
  int timeout = 120000;
  bool run = false;
  for (int i = 1; i < argc; ++i) {
    std::string v;
    if (_stricmp(argv[i], "/run") == 0) {
      run = true;
      break;
    }
    if (Value(argv[i], "/msg=", v)) g_msg = UINT(std::strtoul(v.c_str(), nullptr, 10));
    else if (Value(argv[i], "/out=", v)) g_out = v;
    else if (Value(argv[i], "/handle=", v)) handleFile = v;
    else if (Value(argv[i], "/until=", v)) g_until = std::atoll(v.c_str());
    else if (Value(argv[i], "/timeout=", v)) timeout = std::atoi(v.c_str());
  }

  HINSTANCE inst = GetModuleHandleA(nullptr);
  WNDCLASSA wc;
  std::memset(&wc, 0, sizeof(wc));
  wc.lpfnWndProc = WndProc;
  wc.hInstance = inst;
  wc.lpszClassName = ".ZNotifyClient.";
  RegisterClassA(&wc);
  HWND wnd = CreateWindowExA(0, wc.lpszClassName, "Notify client", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                             nullptr, inst, nullptr);
  if (!wnd) return 1;
  SetTimer(wnd, 1, timeout, nullptr);

  const std::string handle = std::to_string((unsigned long long)(uintptr_t)wnd);
  std::printf("%s\n", handle.c_str());
  std::fflush(stdout);
  if (!handleFile.empty()) {
    std::string tmp = handleFile + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (f) {
      std::fputs(handle.c_str(), f);
      std::fclose(f);
      MoveFileExA(tmp.c_str(), handleFile.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
  }

  if (run) {
    std::wstring cmd =
        RunTail() + L" /WM_MSG=" + std::wstring(handle.begin(), handle.end()) + L":" + std::to_wstring(g_msg);
    STARTUPINFOW si;
    std::memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    auto note = [](const std::string& text) { std::fprintf(stderr, "notifyclient: %s\n", text.c_str()); };
    if (!CreateProcessRetryingW(nullptr, cmd, 0, nullptr, si, pi, note)) {
      std::fprintf(stderr, "notifyclient: cannot start (error %lu): %ls\n", GetLastError(), cmd.c_str());
      return 2;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }

  MSG m;
  int code = 0;
  for (;;) {
    BOOL r = GetMessageA(&m, nullptr, 0, 0);
    if (r == 0) {
      code = int(m.wParam);
      break;
    }
    if (r < 0) break;
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  return g_timedOut ? 3 : code;
}
