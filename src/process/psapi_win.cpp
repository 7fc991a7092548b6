#include "process/psapi_win.h"

#include "paths/utils_win.h"

namespace {

using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
using GetModuleNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
using GetMappedNameFn = DWORD(WINAPI*)(HANDLE, LPVOID, LPWSTR, DWORD);

struct PsapiBinding {
  HMODULE lib = nullptr;
  EnumProcessesFn enumProcesses = nullptr;
  EnumProcessModulesFn enumProcessModules = nullptr;
  GetModuleNameFn getModuleBaseName = nullptr;
  GetModuleNameFn getModuleFileNameEx = nullptr;
  GetMappedNameFn getMappedFileName = nullptr;
};
PsapiBinding g_psapi;

const PsapiBinding& Binding() {
  if (!g_psapi.lib) {
    HMODULE lib = LoadSystemLibrary("PSAPI.dll");
    if (lib) {
      g_psapi.lib = lib;
      g_psapi.enumProcesses = BindFunction<EnumProcessesFn>(lib, "EnumProcesses");
      g_psapi.enumProcessModules = BindFunction<EnumProcessModulesFn>(lib, "EnumProcessModules");
      g_psapi.getModuleBaseName = BindFunction<GetModuleNameFn>(lib, "GetModuleBaseNameW");
      g_psapi.getModuleFileNameEx = BindFunction<GetModuleNameFn>(lib, "GetModuleFileNameExW");
      g_psapi.getMappedFileName = BindFunction<GetMappedNameFn>(lib, "GetMappedFileNameW");
    }
  }
  return g_psapi;
}

}  // namespace

bool PsapiAvailable() { return Binding().lib != nullptr; }

BOOL PsEnumProcesses(DWORD* ids, DWORD bytes, DWORD* bytesNeeded) {
  const PsapiBinding& b = Binding();
  return b.enumProcesses ? b.enumProcesses(ids, bytes, bytesNeeded) : FALSE;
}

BOOL PsEnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes, DWORD* bytesNeeded) {
  const PsapiBinding& b = Binding();
  return b.enumProcessModules ? b.enumProcessModules(process, modules, bytes, bytesNeeded) : FALSE;
}

DWORD PsGetModuleBaseNameW(HANDLE process, HMODULE module, wchar_t* name, DWORD size) {
  const PsapiBinding& b = Binding();
  return b.getModuleBaseName ? b.getModuleBaseName(process, module, name, size) : 0;
}

DWORD PsGetModuleFileNameExW(HANDLE process, HMODULE module, wchar_t* name, DWORD size) {
  const PsapiBinding& b = Binding();
  return b.getModuleFileNameEx ? b.getModuleFileNameEx(process, module, name, size) : 0;
}

DWORD PsGetMappedFileNameW(HANDLE process, void* address, wchar_t* name, DWORD size) {
  const PsapiBinding& b = Binding();
  return b.getMappedFileName ? b.getMappedFileName(process, address, name, size) : 0;
}
