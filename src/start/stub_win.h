// Program entry, the role decision and the messages between instances.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "process/procstate_win.h"

const std::string& StubClassName();

int RunStub();  // the whole program: start lines, role, exit lines; returns the exit code
void DoRunStubWin();
bool CreateAndRun_X_Exe(bool xWasRunning);
bool HandleParamOK(bool xWasRunning);
void SpanCdRelaunch();
