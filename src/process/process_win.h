// Process search, window search and shut-down of other programs.
// A process is sought by the path or bare file name of its executable
// (compared trimmed, ignoring case; the 8.3 short forms count as equal).
// Nothing here reports errors: an unreadable process simply does not match.
#pragma once
#include <windows.h>

#include <string>

#include "process/waitend.h"

// Identifier of the last process, in the system's enumeration order, whose
// executable matches; 0 when none does. fullPathOnly refuses bare names.
DWORD FindProcessByPath(const std::string& path, bool fullPathOnly);
// Whether a process runs whose executable lies in folder or below it.
bool ProcessRunsFromFolder(const std::string& folder);
// Surrounding double quotes are removed; bare names count.
bool IsProcessRunning(const std::string& path);
// Waits (window messages keep flowing) until the process has ended, limitMs
// has passed or stopRequested (when given) is true, checking once a second.
WaitEnd WaitForProcessEnd(const std::string& path, uint64_t limitMs, bool (*stopRequested)() = nullptr);
// The process's best-scored top-level window (owns most, titled, visible); 0 when none.
HWND FindProcessMainWindow(const std::string& path, bool fullPathOnly);
// Posts to the process's main window; false when no window was found.
bool PostMessageToProcess(const std::string& path, bool fullPathOnly, UINT msg, WPARAM wParam, LPARAM lParam);
bool CloseProcessByWmClose(const std::string& path, bool fullPathOnly);  // WM_CLOSE, 15, 255
bool CloseProcessByWmQuit(const std::string& path, bool fullPathOnly);   // WM_QUIT, 15, 255
// TerminateProcess with exit code 0; false when no process matches or it cannot be ended.
bool TerminateProcessByPath(const std::string& path, bool fullPathOnly);
// Waits while a top-level window of the class (and title, when not empty) exists.
void WaitWhileWindowExists(const std::string& className, const std::string& title);
// Last window of the owner chain; 0 when the window has no owner.
HWND RootOwner(HWND wnd);

// Which process list the search reads. Auto follows the Windows family; the
// others let tests exercise each route on any system.
enum class ProcessListMode {
  Auto,
  Modules,    // PSAPI: first module of each process
  ImageName,  // PSAPI list, image name from the process (what a 32-bit program sees of 64-bit ones)
  ToolHelp,   // kernel32 snapshot (95 family)
};
void SetProcessListMode(ProcessListMode mode);

// The debug line of a process start that is tried again (see startretry_win.h).
void NoteStartRetry(const std::string& text);
