// dbgview /out=<file> [/ready=<file>] [/pieces=<file>]   shows the debug channel
// dbgview /quit                                         closes a running viewer
//
// Every text received is appended to /out (or written to standard output)
// exactly as it arrived. /pieces gets one line per message: its length, a
// blank and the text with CR and LF spelled \r and \n, so that the piece
// boundaries can be checked. /ready is created once the window exists.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "paths/utils.h"
#include "paths/utils_win.h"

namespace {
const char* kClass = ".ZDebug.";
UINT g_debugMsg = 0;
FILE* g_out = nullptr;
FILE* g_pieces = nullptr;

void Received(const std::string& text) {
  if (g_out) {
    fwrite(text.data(), 1, text.size(), g_out);
    fflush(g_out);
  }
  if (g_pieces) {
    std::string shown;
    for (char c : text) {
      if (c == '\r')
        shown += "\\r";
      else if (c == '\n')
        shown += "\\n";
      else
        shown += c;
    }
    fprintf(g_pieces, "%u %s\n", unsigned(text.size()), shown.c_str());
    fflush(g_pieces);
  }
}

LRESULT CALLBACK ViewerProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (g_debugMsg && m == g_debugMsg) {
    // Atom names are at most 255 characters; the sender's pieces are 128.
    char buf[1024];
    UINT n = GlobalGetAtomNameA(ATOM(lp), buf, sizeof buf);
    if (n > 0) Received(std::string(buf, n));
    return 0;
  }
  switch (m) {
    case WM_CLOSE:
      DestroyWindow(w);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(w, m, wp, lp);
}

// The value of "/name=..." among the arguments, ignoring case; empty when absent.
std::string Arg(const char* name) {
  for (int i = 1; i < __argc; ++i)
    if (StartsWith(name, __argv[i], true)) return std::string(__argv[i]).substr(strlen(name));
  return "";
}

bool HasArg(const char* name) {
  for (int i = 1; i < __argc; ++i)
    if (SameText(name, __argv[i])) return true;
  return false;
}
}  // namespace

int WINAPI WinMain(HINSTANCE inst, HINSTANCE, LPSTR, int) {
  InitWin32Utils();
  if (HasArg("/quit")) {
    HWND w = FindWindowA(kClass, nullptr);
    if (!w) return 1;
    PostMessageA(w, WM_CLOSE, 0, 0);
    return 0;
  }

  std::string outPath = Arg("/out="), readyPath = Arg("/ready="), piecesPath = Arg("/pieces=");
  g_out = outPath.empty() ? stdout : fopen(outPath.c_str(), "ab");
  if (!g_out) return 2;
  if (!piecesPath.empty() && !(g_pieces = fopen(piecesPath.c_str(), "ab"))) return 2;

  g_debugMsg = RegisterWindowMessageA(".Z_DebugMsg.");
  WNDCLASSA wc = {};
  wc.lpfnWndProc = ViewerProc;
  wc.hInstance = inst;
  wc.lpszClassName = kClass;
  if (!RegisterClassA(&wc)) return 3;
  // A normal top-level window, kept hidden: the sender finds it with
  // FindWindow, which does not see message-only windows.
  HWND w = CreateWindowExA(0, kClass, "Debug viewer", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 400, 300,
                           nullptr, nullptr, inst, nullptr);
  if (!w) return 3;
  if (!readyPath.empty()) {
    FILE* r = fopen(readyPath.c_str(), "wb");
    if (r) fclose(r);
  }

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (g_out && g_out != stdout) fclose(g_out);
  if (g_pieces) fclose(g_pieces);
  return 0;
}
