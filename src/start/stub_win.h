// Program entry, the role decision and the messages between instances.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

class TGFileInfo;

// The package reader of the running executable, kept for the whole run.
TGFileInfo& OwnPackage();
bool IsUpdateAgentProcess();
const std::string& StubClassName();

extern HWND g_NotifyWindow;
extern UINT g_NotifyMessage;
extern int g_ExitCode;  // set to the setup engine's exit code by the setup flow

void NotifyClient(int32_t wParam, int32_t lParam);
int RunStub();  // the whole program: start lines, role, exit lines; returns the exit code
void DoRunStubWin();
bool CreateAndRun_X_Exe(bool xWasRunning);
bool HandleParamOK(bool xWasRunning);
void SpanCdRelaunch();
