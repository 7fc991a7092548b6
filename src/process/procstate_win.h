// What the whole process shares: its own package and role, the main window
// with its status line and bars, the registered notify client and the exit
// code. Everything above this folder reads and sets it here, so no lower
// unit has to reach up into the entry point.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

class TGFileInfo;

// The package reader of the running executable, kept for the whole run and
// read through the own file held since the start (process/ownfile_win.h).
TGFileInfo& OwnPackage();
void ReleaseOwnPackage();

void SetUpdateAgentProcess(bool on);
bool IsUpdateAgentProcess();

extern int g_ExitCode;  // the setup engine's exit code, or the setup flow's failure code

// Hidden operation of a setup ("/hide" or the header's Silent): nobody is
// there to answer, so no message box is shown and nothing waits for a user.
// An agent's update run never sets it: its boxes stay.
void SetHiddenOperation(bool on);
bool HiddenOperation();

// ---- main window (handles set on the main thread) ----
extern HWND g_MainWindow;
extern HWND g_StatusLine;
extern HWND g_MainBar;
extern HWND g_ActivityBar;

constexpr UINT wm_ShutDown = WM_USER + 99;   // 1123
constexpr UINT wm_LocalMsg = WM_USER + 100;  // 1124
constexpr UINT wm_AgentMsg = WM_USER + 101;  // 1125

// Drives the main window's two bars (the standard ProgressProc).
void UpdateProgressBars(int kind, int minimum, int maximum, int position, int step, const std::string& text);

// ---- notify client (registered with message 1124) ----
extern HWND g_NotifyWindow;
extern UINT g_NotifyMessage;
void NotifyClient(int32_t wParam, int32_t lParam);
