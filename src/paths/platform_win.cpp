// Win32 side of the platform seams.
#include <windows.h>

#include "paths/platform.h"
#include "paths/platform_win.h"
#include "paths/widepath_win.h"

static uint32_t WinProcessId() { return GetCurrentProcessId(); }
static uint32_t WinThreadId() { return GetCurrentThreadId(); }
static uint64_t WinTick() { return GetTickCount(); }
static bool WinLeadByte(uint8_t c) { return IsDBCSLeadByte(c) != FALSE; }
static uint32_t WinLocale() { return GetThreadLocale(); }
static uint32_t WinClusterSize(const std::string& root) {
  DWORD spc = 0, bps = 0, fc = 0, tc = 0;
  if (!GetDiskFreeSpaceW(WidePath(root).c_str(), &spc, &bps, &fc, &tc)) return 0;
  return spc * bps;
}

void InstallWin32Platform() {
  PlatformHooks& h = Platform();
  h.processId = WinProcessId;
  h.threadId = WinThreadId;
  h.tickCount = WinTick;
  h.isDbcsLeadByte = WinLeadByte;
  h.threadLocale = WinLocale;
  h.clusterSize = WinClusterSize;
}
