// Seams through which the portable core asks the platform for facts it
// cannot compute itself. The Win32 layer fills them at start; unit tests set
// them to fixed values. Every hook has a harmless default.
#pragma once
#include <cstdint>
#include <string>

struct PlatformHooks {
  uint32_t (*processId)() = nullptr;
  uint32_t (*threadId)() = nullptr;
  uint64_t (*tickCount)() = nullptr;          // milliseconds
  bool (*isDbcsLeadByte)(uint8_t) = nullptr;  // default: never
  uint32_t (*threadLocale)() = nullptr;       // LCID; 0 = unknown
  uint32_t (*clusterSize)(const std::string& driveRoot) = nullptr;  // 0 = unknown
  void (*processMessages)() = nullptr;        // keep the window alive during long work
  double (*localNow)() = nullptr;             // days since 1899-12-30, local time
};

PlatformHooks& Platform();

uint32_t CurrentProcessId();
uint32_t CurrentThreadId();
uint64_t TickCount();
bool IsLeadByte(uint8_t c);
void ProcessPendingWork();  // calls processMessages when set
std::string PidText();      // current process id in decimal
