// Fills the portable core's platform seams with the Win32 implementations.
#pragma once
void InstallWin32Platform();
