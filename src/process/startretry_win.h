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

// CreateProcessW with the command line copied for each attempt (the call may
// write into it); the command line is UTF-16, so a path may hold any
// character. note is called with a line of text for every start tried again.
template <class Note>
BOOL CreateProcessRetryingW(const wchar_t* application, const std::wstring& commandLine, DWORD flags,
                            const wchar_t* folder, STARTUPINFOW& si, PROCESS_INFORMATION& pi, Note note) {
  for (int attempt = 1;; ++attempt) {
    std::wstring cl = commandLine;
    if (CreateProcessW(application, cl.data(), nullptr, nullptr, FALSE, flags, nullptr, folder, &si, &pi)) return TRUE;
    DWORD error = GetLastError();
    if (error != ERROR_INTERNAL_ERROR || attempt == kProcessStartAttempts) {
      SetLastError(error);
      return FALSE;
    }
    note("process start failed with an internal error (1359), trying again");
    Sleep(200);
  }
}
