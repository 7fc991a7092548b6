// Process-status functions of the NT family, bound at run time from the
// system folder's PSAPI.dll (never linked: the stub imports only base DLLs).
// Every wrapper returns 0 / FALSE while the library is not available.
#pragma once
#include <windows.h>

bool PsapiAvailable();  // loads on first use; a failed load is retried next time
BOOL PsEnumProcesses(DWORD* ids, DWORD bytes, DWORD* bytesNeeded);
BOOL PsEnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes, DWORD* bytesNeeded);
DWORD PsGetModuleBaseNameA(HANDLE process, HMODULE module, char* name, DWORD size);
DWORD PsGetModuleFileNameExA(HANDLE process, HMODULE module, char* name, DWORD size);
