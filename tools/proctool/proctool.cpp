// proctool: runs one process-control operation and prints its result.
//
//   proctool [--list=auto|modules|imagename|toolhelp] <command> <arguments>
// Commands (full = 1 sets full-path-only; handles and numbers are decimal):
//   find <path> <full>                 process id, 0 when none
//   running <path>                     TRUE / FALSE
//   mainwindow <path> <full>           window handle, 0 when none
//   post <path> <full> <msg> <w> <l>   TRUE / FALSE
//   close-wmclose <path> <full>        TRUE / FALSE
//   close-wmquit <path> <full>         TRUE / FALSE
//   terminate <path> <full>            TRUE / FALSE
//   wait-end <path> <limit ms>         milliseconds the wait took
//   wait-window <class> <title>        milliseconds the wait took ("" = absent)
//   rootowner <hwnd>                   window handle, 0 when none
//   shortpath <path>                   the 8.3 form, empty when none
//   windows <pid>                      "<hwnd> <owner> <visible 0/1> <class>|<title>" per
//                                      top-level window of the process, in enumeration order
//   list                               "<pid> <path>" per process, in the order of the
//                                      process list in use (PSAPI, or ToolHelp with --list=toolhelp)
//   procinfo <pid>                     "workingset=<bytes> private=<bytes> handles=<n> cpu_ms=<n>"
//                                      (cpu_ms: user and kernel time so far)
// Exit code: 0 for TRUE and for the commands that print numbers, 1 for FALSE,
// 2 for a usage error.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "paths/utils.h"
#include "paths/utils_win.h"
#include "process/process_win.h"
#include "paths/widepath_win.h"
#include "process/psapi_win.h"
#include "process/tlhelp32_win.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: proctool [--list=auto|modules|imagename|toolhelp] <command> <arguments>\n");
  return 2;
}

int PrintBool(bool b) {
  std::printf("%s\n", b ? "TRUE" : "FALSE");
  return b ? 0 : 1;
}

long long Num(const char* s) { return std::strtoll(s, nullptr, 10); }

HWND HandleOf(const char* s) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(s, nullptr, 10))); }

void PrintHandle(HWND w) { std::printf("%llu\n", (unsigned long long)reinterpret_cast<uintptr_t>(w)); }

BOOL CALLBACK PrintWindow(HWND w, LPARAM pid) {
  DWORD p = 0;
  GetWindowThreadProcessId(w, &p);
  if (p != DWORD(pid)) return TRUE;
  char cls[256] = "", title[1024] = "";
  GetClassNameA(w, cls, sizeof(cls));
  GetWindowTextA(w, title, sizeof(title));
  std::printf("%llu %llu %d %s|%s\n", (unsigned long long)reinterpret_cast<uintptr_t>(w),
              (unsigned long long)reinterpret_cast<uintptr_t>(GetWindow(w, GW_OWNER)), IsWindowVisible(w) ? 1 : 0,
              cls, title);
  return TRUE;
}

int ListSnapshot() {
  HANDLE snap = ThCreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (!snap) return 1;
  PROCESSENTRY32W e;
  std::memset(&e, 0, sizeof(e));
  e.dwSize = sizeof(e);
  for (BOOL ok = ThProcess32First(snap, &e); ok; ok = ThProcess32Next(snap, &e))
    std::printf("%lu %s\n", (unsigned long)e.th32ProcessID, PathFromWide(e.szExeFile).c_str());
  CloseHandle(snap);
  return 0;
}

int List() {
  std::vector<DWORD> ids(4096);
  DWORD got = 0;
  if (!PsEnumProcesses(ids.data(), DWORD(ids.size() * sizeof(DWORD)), &got)) return 1;
  ids.resize(got / sizeof(DWORD));
  for (DWORD id : ids) {
    wchar_t full[1024] = L"";
    HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    if (h) {
      HMODULE mod = nullptr;
      DWORD needed = 0;
      if (PsEnumProcessModules(h, &mod, sizeof(mod), &needed)) PsGetModuleFileNameExW(h, mod, full, 1024);
      CloseHandle(h);
    }
    std::printf("%lu %s\n", (unsigned long)id, PathFromWide(full).c_str());
  }
  return 0;
}

// The handles of one process in the system's handle list (class 16 of
// NtQuerySystemInformation), for systems whose GetProcessHandleCount says 0
// (Wine); -1 when the list cannot be read.
long long HandlesInSystemList(DWORD pid) {
  struct Entry {
    USHORT process, creatorBackTrace;
    UCHAR type, attributes;
    USHORT handle;
    void* object;
    ULONG access;
  };
  using QueryFn = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return -1;
  std::vector<char> buf(1 << 20);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG need = 0;
    LONG status = query(16, buf.data(), ULONG(buf.size()), &need);
    if (status == 0) {
      ULONG count = *reinterpret_cast<ULONG*>(buf.data());
      const Entry* e = reinterpret_cast<const Entry*>(buf.data() + sizeof(void*));
      long long mine = 0;
      for (ULONG i = 0; i < count; ++i)
        if (e[i].process == USHORT(pid)) ++mine;
      return mine;
    }
    buf.resize(std::max<size_t>(buf.size() * 2, need + 4096));
  }
  return -1;
}

int ProcInfo(DWORD pid) {
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!h) {
    std::fprintf(stderr, "proctool: cannot open process %lu: %s\n", (unsigned long)pid, LastErrorText().c_str());
    return 1;
  }
  PROCESS_MEMORY_COUNTERS_EX mem{};
  mem.cb = sizeof mem;
  GetProcessMemoryInfo(h, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&mem), sizeof mem);
  DWORD counted = 0;
  long long handles = GetProcessHandleCount(h, &counted) && counted > 0 ? (long long)counted : HandlesInSystemList(pid);
  FILETIME created, ended, kernel, user;
  unsigned long long cpu = 0;
  if (GetProcessTimes(h, &created, &ended, &kernel, &user)) {
    auto ticks = [](const FILETIME& t) { return (unsigned long long)t.dwHighDateTime << 32 | t.dwLowDateTime; };
    cpu = (ticks(kernel) + ticks(user)) / 10000;  // 100 ns -> ms
  }
  CloseHandle(h);
  std::printf("workingset=%llu private=%llu handles=%lld cpu_ms=%llu\n", (unsigned long long)mem.WorkingSetSize,
              (unsigned long long)mem.PrivateUsage, handles, cpu);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  InitWin32Utils();
  int i = 1;
  bool snapshot = false;
  if (i < argc && std::strncmp(argv[i], "--list=", 7) == 0) {
    std::string m = argv[i] + 7;
    if (m == "modules") SetProcessListMode(ProcessListMode::Modules);
    else if (m == "imagename") SetProcessListMode(ProcessListMode::ImageName);
    else if (m == "toolhelp") {
      SetProcessListMode(ProcessListMode::ToolHelp);
      snapshot = true;
    }
    else if (m != "auto") return Usage();
    ++i;
  }
  if (i >= argc) return Usage();
  const std::string cmd = argv[i++];
  const int n = argc - i;
  char** a = argv + i;
  auto full = [&](int k) { return Num(a[k]) != 0; };

  if (cmd == "find" && n == 2) {
    std::printf("%lu\n", (unsigned long)FindProcessByPath(a[0], full(1)));
    return 0;
  }
  if (cmd == "running" && n == 1) return PrintBool(IsProcessRunning(a[0]));
  if (cmd == "mainwindow" && n == 2) {
    PrintHandle(FindProcessMainWindow(a[0], full(1)));
    return 0;
  }
  if (cmd == "post" && n == 5)
    return PrintBool(PostMessageToProcess(a[0], full(1), UINT(Num(a[2])), WPARAM(Num(a[3])), LPARAM(Num(a[4]))));
  if (cmd == "close-wmclose" && n == 2) return PrintBool(CloseProcessByWmClose(a[0], full(1)));
  if (cmd == "close-wmquit" && n == 2) return PrintBool(CloseProcessByWmQuit(a[0], full(1)));
  if (cmd == "terminate" && n == 2) return PrintBool(TerminateProcessByPath(a[0], full(1)));
  if (cmd == "wait-end" && n == 2) {
    DWORD t = GetTickCount();
    // 0: as long as the process runs.
    WaitForProcessEnd(a[0], Num(a[1]) > 0 ? uint64_t(Num(a[1])) : UINT64_MAX);
    std::printf("%lu\n", (unsigned long)(GetTickCount() - t));
    return 0;
  }
  if (cmd == "wait-window" && n == 2) {
    DWORD t = GetTickCount();
    WaitWhileWindowExists(a[0], a[1]);
    std::printf("%lu\n", (unsigned long)(GetTickCount() - t));
    return 0;
  }
  if (cmd == "rootowner" && n == 1) {
    PrintHandle(RootOwner(HandleOf(a[0])));
    return 0;
  }
  if (cmd == "shortpath" && n == 1) {
    char buf[1024];
    DWORD got = GetShortPathNameA(a[0], buf, sizeof(buf));
    std::printf("%s\n", got > 0 && got < sizeof(buf) ? buf : "");
    return 0;
  }
  if (cmd == "windows" && n == 1) {
    EnumWindows(PrintWindow, LPARAM(Num(a[0])));
    return 0;
  }
  if (cmd == "list" && n == 0) return snapshot ? ListSnapshot() : List();
  if (cmd == "procinfo" && n == 1) return ProcInfo(DWORD(Num(a[0])));
  return Usage();
}
