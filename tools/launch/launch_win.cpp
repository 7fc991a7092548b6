// Test tool: starts a program from a raw command line, exactly as given, so
// tests control quoting (the Wine loader re-quotes every argument it passes).
//   launch.exe [--nowait] [--hide] [--cwd=<folder>] <command line>
// Waits for the program and prints "exit=<code>" with the full 32-bit exit
// code (the shell sees only 8 bits of it); with --nowait prints "pid=<id>".
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "process/startretry_win.h"

int main() {
  // The arguments as UTF-16: a test may start a program from any folder.
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return 2;
  bool wait = true, hide = false;
  std::wstring cwd;
  int i = 1;
  for (; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--nowait") == 0)
      wait = false;
    else if (std::wcscmp(argv[i], L"--hide") == 0)
      hide = true;
    else if (std::wcsncmp(argv[i], L"--cwd=", 6) == 0)
      cwd = argv[i] + 6;
    else
      break;
  }
  if (i != argc - 1) {
    std::fprintf(stderr, "usage: launch [--nowait] [--hide] [--cwd=<folder>] <command line>\n");
    return 2;
  }
  std::wstring cl = argv[i];
  STARTUPINFOW si{};
  si.cb = sizeof si;
  if (hide) {
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
  }
  PROCESS_INFORMATION pi{};
  auto note = [](const std::string& text) { std::fprintf(stderr, "launch: %s\n", text.c_str()); };
  if (!CreateProcessRetryingW(nullptr, cl, 0, cwd.empty() ? nullptr : cwd.c_str(), si, pi, note)) {
    std::fprintf(stderr, "launch: cannot start (error %lu): %ls\n", GetLastError(), cl.c_str());
    return 3;
  }
  CloseHandle(pi.hThread);
  if (!wait) {
    std::printf("pid=%lu\n", pi.dwProcessId);
    CloseHandle(pi.hProcess);
    return 0;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  std::printf("exit=%lu\n", code);
  std::fflush(stdout);
  return int(code & 0xFF);
}
