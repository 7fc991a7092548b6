// The main window: status line, main progress bar, activity bar and timer 1.
// The handles are process-wide and set on the main thread.
#pragma once
#include <windows.h>

#include <string>

extern HWND g_MainWindow;
extern HWND g_StatusLine;
extern HWND g_MainBar;
extern HWND g_ActivityBar;

constexpr UINT wm_ShutDown = WM_USER + 99;   // 1123
constexpr UINT wm_LocalMsg = WM_USER + 100;  // 1124
constexpr UINT wm_AgentMsg = WM_USER + 101;  // 1125

void WinMainLoop();  // registers the class, creates the window, runs the loop, cleans up
bool CloseMainWindow();
void DestroyMainWindow();
// Drives the main window's two bars (the standard ProgressProc).
void UpdateProgressBars(int kind, int minimum, int maximum, int position, int step, const std::string& text);
