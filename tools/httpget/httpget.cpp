// httpget: runs one operation of the HTTP client and prints its result, so
// tests can drive the client without a setup around it.
//
//   httpget download URL [LOCALFILE] [/out=FILE] [/show=N|/show=window] [/noprogress] [/timeouts=C,S,R]
//                    [/fresh] [/max=BYTES] [/samescheme]
//   httpget size URL [/timeouts=C,S,R]
//   httpget connected
//   httpget describe LOCALFILE URL DEFAULT [/content=FILE] [/iis] [/locked]
//   httpget close          asks a running httpget to stop its download
//
// LOCALFILE "-" (or none) downloads into memory; /out= saves that content.
// /fresh fetches past every cache, /max= refuses a file announced larger,
// /samescheme keeps redirects on the address's scheme (the agent with a key).
// /timeouts= sets the client's connect, send and receive timeouts in
// milliseconds (each above 0), so that tests of a stalled server wait seconds,
// not minutes. /locked holds LOCALFILE open without sharing while the file
// is described, as a virus scanner may.
// Output lines: "error=", "size=", "connected=", "message=", and for a
// download "reset=min,max,position,step", "steps=N" (progress calls that
// advanced), "text=" (the last progress text) and "ms=" (time spent in the
// download call). Debug-channel lines go to
// stderr. Exit code 0 when the operation succeeded.
//
// While it downloads, httpget owns a hidden window of class "ZsHttpGetWnd":
// a first WM_CLOSE sets the abort flag (as the main window does), a second
// one closes the window.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "net/inethttp_win.h"
#include "paths/utils_win.h"
#include "paths/zdebug.h"

namespace {

const char kClass[] = "ZsHttpGetWnd";

int g_steps = 0;
std::string g_lastText;
std::string g_reset;

void Progress(int kind, int minimum, int maximum, int position, int step, const std::string& text) {
  if (kind == 0) {
    g_reset = std::to_string(minimum) + "," + std::to_string(maximum) + "," + std::to_string(position) + "," +
              std::to_string(step);
  } else {
    ++g_steps;
  }
  g_lastText = text;
}

LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CLOSE && !HttpAborted()) {
    SetHttpAbort(true);
    return 0;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

HWND MakeWindow() {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kClass;
  RegisterClassA(&wc);
  return CreateWindowExA(0, kClass, "httpget", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                         wc.hInstance, nullptr);
}

void DebugToStderr(const std::string& piece) {
  fwrite(piece.data(), 1, piece.size(), stderr);
  fflush(stderr);
}

// Printed on one line: line breaks inside a text would split it.
void PrintLine(const char* key, const std::string& value) {
  std::string v = value;
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  printf("%s=%s\n", key, v.c_str());
  fflush(stdout);
}

std::string Option(const std::vector<std::string>& args, const std::string& name) {
  for (const std::string& a : args)
    if (a.size() > name.size() && _strnicmp(a.c_str(), name.c_str(), name.size()) == 0) return a.substr(name.size());
  return std::string();
}

bool Flag(const std::vector<std::string>& args, const char* name) {
  for (const std::string& a : args)
    if (_stricmp(a.c_str(), name) == 0) return true;
  return false;
}

std::vector<std::string> Positional(const std::vector<std::string>& args) {
  std::vector<std::string> out;
  for (const std::string& a : args)
    if (a.empty() || a[0] != '/') out.push_back(a);
  return out;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  fclose(f);
  return true;
}

int Download(const std::vector<std::string>& args) {
  std::vector<std::string> pos = Positional(args);
  if (pos.size() < 2) return 2;
  std::string local = pos.size() > 2 && pos[2] != "-" ? pos[2] : std::string();
  HWND wnd = MakeWindow();
  std::string show = Option(args, "/show=");
  uintptr_t target = kHttpShowNothing;
  if (show == "window")
    target = reinterpret_cast<uintptr_t>(wnd);
  else if (!show.empty())
    target = uintptr_t(strtoul(show.c_str(), nullptr, 10));
  std::string content, error;
  SetHttpAbort(false);
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&t0);
  HttpLimits limits;
  limits.fresh = target == kHttpShowReload || Flag(args, "/fresh");
  std::string max = Option(args, "/max=");
  if (!max.empty()) limits.maxSize = _strtoi64(max.c_str(), nullptr, 10);
  SetHttpSameSchemeRedirects(Flag(args, "/samescheme"));
  HttpDownload(target, pos[1], local, content, Flag(args, "/noprogress") ? nullptr : Progress, error, limits);
  QueryPerformanceCounter(&t1);
  PrintLine("error", error);
  printf("ms=%.1f\n", double(t1.QuadPart - t0.QuadPart) * 1000.0 / double(freq.QuadPart));
  PrintLine("reset", g_reset);
  printf("steps=%d\n", g_steps);
  PrintLine("text", g_lastText);
  printf("length=%llu\n", static_cast<unsigned long long>(content.size()));
  printf("visible=%d\n", IsWindowVisible(wnd) ? 1 : 0);
  std::string out = Option(args, "/out=");
  if (!out.empty()) {
    FILE* f = fopen(out.c_str(), "wb");
    if (f) {
      fwrite(content.data(), 1, content.size(), f);
      fclose(f);
    }
  }
  DestroyWindow(wnd);
  return error.empty() ? 0 : 1;
}

int Describe(const std::vector<std::string>& args) {
  std::vector<std::string> pos = Positional(args);
  if (pos.size() < 4) return 2;
  std::string content;
  std::string contentFile = Option(args, "/content=");
  if (!contentFile.empty() && !ReadWholeFile(contentFile, content)) return 2;
  HANDLE lock = INVALID_HANDLE_VALUE;
  if (Flag(args, "/locked")) {
    lock = CreateFileA(pos[1].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (lock == INVALID_HANDLE_VALUE) return 2;
  }
  PrintLine("message", DescribeHttpErrorPage(pos[1] == "-" ? std::string() : pos[1], content, pos[2], pos[3],
                                             Flag(args, "/iis")));
  if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
  return 0;
}

// /timeouts=C,S,R: false when the option is there but malformed.
bool ApplyTimeouts(const std::vector<std::string>& args) {
  std::string text = Option(args, "/timeouts=");
  if (text.empty()) return true;
  unsigned long v[3];
  char end = 0;
  if (sscanf(text.c_str(), "%lu,%lu,%lu%c", &v[0], &v[1], &v[2], &end) != 3 || !v[0] || !v[1] || !v[2])
    return false;
  HttpTimeouts t;
  t.connectMs = uint32_t(v[0]);
  t.sendMs = uint32_t(v[1]);
  t.receiveMs = uint32_t(v[2]);
  SetHttpTimeouts(t);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  InitWin32Utils();
  SetDebugSender(DebugToStderr);
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string op = args.empty() ? std::string() : args[0];
  int rc = 2;
  if (!ApplyTimeouts(args)) {
    op.clear();
  }
  if (op == "download") {
    rc = Download(args);
  } else if (op == "size" && args.size() > 1) {
    long long size = HttpFileSize(args[1]);
    printf("size=%lld\n", size);
    rc = size >= 0 ? 0 : 1;
  } else if (op == "connected") {
    std::string error;
    bool on = InternetConnected(error);
    PrintLine("connected", on ? "TRUE" : "FALSE");
    PrintLine("error", error);
    rc = on ? 0 : 1;
  } else if (op == "describe") {
    rc = Describe(args);
  } else if (op == "close") {
    HWND wnd = FindWindowA(kClass, nullptr);
    rc = wnd && PostMessageA(wnd, WM_CLOSE, 0, 0) ? 0 : 1;
  }
  if (rc == 2) fprintf(stderr, "usage: httpget download|size|connected|describe|close ...\n");
  DebugFlush();
  ReleaseWinInet();
  return rc;
}
