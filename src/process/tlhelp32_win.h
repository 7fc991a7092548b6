// Process snapshot functions of kernel32 on the 95 family, bound at run time
// from the already loaded kernel32 (NT 4 lacks them, so they cannot be
// imported). Every wrapper returns 0 / FALSE when they are not available.
#pragma once
#include <windows.h>
#include <tlhelp32.h>

bool ToolHelpAvailable();
HANDLE ThCreateToolhelp32Snapshot(DWORD flags, DWORD processId);
BOOL ThProcess32First(HANDLE snapshot, PROCESSENTRY32* entry);
BOOL ThProcess32Next(HANDLE snapshot, PROCESSENTRY32* entry);
