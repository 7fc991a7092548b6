#include "process/tlhelp32_win.h"

#include "paths/utils_win.h"

namespace {

using SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using ProcessWalkFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);

struct ToolHelpBinding {
  bool tried = false;
  HMODULE kernel = nullptr;
  SnapshotFn snapshot = nullptr;
  ProcessWalkFn first = nullptr;
  ProcessWalkFn next = nullptr;
};
ToolHelpBinding g_toolhelp;

const ToolHelpBinding& Binding() {
  if (!g_toolhelp.tried) {
    g_toolhelp.tried = true;
    // kernel32 is always loaded: take its handle, never load it again.
    HMODULE k = GetModuleHandleA("kernel32.dll");
    g_toolhelp.kernel = k;
    if (k) {
      g_toolhelp.snapshot = BindFunction<SnapshotFn>(k, "CreateToolhelp32Snapshot");
      g_toolhelp.first = BindFunction<ProcessWalkFn>(k, "Process32FirstW");
      g_toolhelp.next = BindFunction<ProcessWalkFn>(k, "Process32NextW");
    }
  }
  return g_toolhelp;
}

}  // namespace

bool ToolHelpAvailable() {
  const ToolHelpBinding& b = Binding();
  return b.kernel && b.snapshot;
}

HANDLE ThCreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
  const ToolHelpBinding& b = Binding();
  // A failed snapshot is INVALID_HANDLE_VALUE; callers test for "no handle".
  if (!b.snapshot) return nullptr;
  HANDLE h = b.snapshot(flags, processId);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

BOOL ThProcess32First(HANDLE snapshot, PROCESSENTRY32W* entry) {
  const ToolHelpBinding& b = Binding();
  return b.first && snapshot ? b.first(snapshot, entry) : FALSE;
}

BOOL ThProcess32Next(HANDLE snapshot, PROCESSENTRY32W* entry) {
  const ToolHelpBinding& b = Binding();
  return b.next && snapshot ? b.next(snapshot, entry) : FALSE;
}
