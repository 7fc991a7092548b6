// Process-status functions of the NT family, bound at run time from the
// system folder's PSAPI.dll (never linked: the stub imports only base DLLs).
// Every wrapper returns 0 / FALSE while the library is not available.
#pragma once
#include <windows.h>

bool PsapiAvailable();  // loads on first use; a failed load is retried next time
BOOL PsEnumProcesses(DWORD* ids, DWORD bytes, DWORD* bytesNeeded);
BOOL PsEnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes, DWORD* bytesNeeded);
// Module names in UTF-16: a program's folder may hold any character.
DWORD PsGetModuleBaseNameW(HANDLE process, HMODULE module, wchar_t* name, DWORD size);
DWORD PsGetModuleFileNameExW(HANDLE process, HMODULE module, wchar_t* name, DWORD size);
// The device path of the file mapped at `address` (a module's base: the file it was loaded from).
DWORD PsGetMappedFileNameW(HANDLE process, void* address, wchar_t* name, DWORD size);
