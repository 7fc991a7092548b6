// The main window: status line, main progress bar, activity bar and timer 1.
// The handles are process-wide and set on the main thread.
#pragma once
#include <windows.h>

#include <string>

#include "process/procstate_win.h"

void WinMainLoop();  // registers the class, creates the window, runs the loop, cleans up
bool CloseMainWindow();
void DestroyMainWindow();
