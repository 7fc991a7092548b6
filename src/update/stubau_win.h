// The agent's side of the main window: the timer tick, the agent commands of
// message 1125 and the test mode. The checks themselves arrive with the update cycle.
#pragma once
#include <windows.h>

#include <cstdint>

extern int64_t AutoUpdateTimerCount;  // first check when it reaches 1
extern int32_t QuitCountdown;         // ticks until the agent quits; -1 = never

void AutoUpdateTimerTick();
int32_t HandleAgentCommand(int32_t command, int32_t value);
bool CheckTestMode(bool force);
