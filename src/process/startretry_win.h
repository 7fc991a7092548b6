// Starting a process, tried again when the system failed it internally.
// Wine now and then fails CreateProcess with ERROR_INTERNAL_ERROR: the new
// process died while the loader set it up, before any of its own code ran,
// so starting it again cannot run anything twice. Windows does not fail a
// start this way; there the retry costs nothing. Header only, so that the
// small test programs use the same rule without linking the library.
#pragma once
#include <windows.h>

#include <string>

constexpr int kProcessStartAttempts = 3;

// Calls start() until it succeeds or fails with another error, at most
// kProcessStartAttempts times; note gets a line for every start tried again.
template <class Start, class Note>
BOOL StartRetrying(Start start, Note note, const std::string& what) {
  for (int attempt = 1;; ++attempt) {
    if (start()) return TRUE;
    DWORD error = GetLastError();
    if (error != ERROR_INTERNAL_ERROR || attempt == kProcessStartAttempts) {
      SetLastError(error);
      return FALSE;
    }
    note("process start failed with an internal error (1359), trying again" + what);
    Sleep(200);
  }
}

// CreateProcessA with the command line copied for each attempt.
template <class Note>
BOOL CreateProcessRetryingA(const char* application, const std::string& commandLine, DWORD flags,
                            const char* folder, STARTUPINFOA& si, PROCESS_INFORMATION& pi, Note note) {
  auto start = [&] {
    std::string cl = commandLine;
    return CreateProcessA(application, cl.data(), nullptr, nullptr, FALSE, flags, nullptr, folder, &si, &pi);
  };
  return StartRetrying(start, note, ": " + commandLine);
}

// The same with a UTF-16 command line (paths that the ANSI code page cannot hold).
template <class Note>
BOOL CreateProcessRetryingW(const wchar_t* application, const std::wstring& commandLine, DWORD flags,
                            const wchar_t* folder, STARTUPINFOW& si, PROCESS_INFORMATION& pi, Note note) {
  auto start = [&] {
    std::wstring cl = commandLine;
    return CreateProcessW(application, cl.data(), nullptr, nullptr, FALSE, flags, nullptr, folder, &si, &pi);
  };
  return StartRetrying(start, note, "");
}
