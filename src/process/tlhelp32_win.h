// Process snapshot functions of kernel32 on the 95 family, bound at run time
// from the already loaded kernel32 (NT 4 lacks them, so they cannot be
// imported). Every wrapper returns 0 / FALSE when they are not available.
#pragma once
#include <windows.h>
#include <tlhelp32.h>

bool ToolHelpAvailable();
HANDLE ThCreateToolhelp32Snapshot(DWORD flags, DWORD processId);
// The UTF-16 forms: an executable's name may hold any character.
BOOL ThProcess32First(HANDLE snapshot, PROCESSENTRY32W* entry);
BOOL ThProcess32Next(HANDLE snapshot, PROCESSENTRY32W* entry);
