#include "paths/platform.h"

#include <chrono>

PlatformHooks& Platform() {
  static PlatformHooks hooks;
  return hooks;
}

uint32_t CurrentProcessId() { return Platform().processId ? Platform().processId() : 0; }
uint32_t CurrentThreadId() { return Platform().threadId ? Platform().threadId() : 0; }

uint64_t TickCount() {
  if (Platform().tickCount) return Platform().tickCount();
  using namespace std::chrono;
  return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool IsLeadByte(uint8_t c) { return Platform().isDbcsLeadByte ? Platform().isDbcsLeadByte(c) : false; }

void ProcessPendingWork() {
  if (Platform().processMessages) Platform().processMessages();
}

std::string PidText() { return std::to_string(CurrentProcessId()); }
