#include "start/stub_win.h"

#include <algorithm>
#include <memory>

#include "package/gfileinfo.h"
#include "paths/platform.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/widepath_win.h"
#include "setup/files_win.h"
#include "setup/setupflow.h"
#include "setup/stubsetup_win.h"
#include "start/roles.h"
#include "start/stubwin_win.h"
#include "paths/zdebug.h"
#include "process/ownfile_win.h"
#include "process/process_win.h"
#include "process/procstate_win.h"
#include "process/settings.h"
#include "process/settings_win.h"
#include "process/startretry_win.h"
#include "update/stubau_win.h"

namespace {
std::string g_stubClassName;
bool g_xExeIsRunning = false;

std::string ExeName() { return ExtractFileName(OwnExePath()); }

bool WindowClassExists(const std::string& cls) { return FindWindowA(cls.c_str(), nullptr) != nullptr; }

bool X_ExeIsRunning() { return WindowClassExists(XCopyClassName(OwnPackage().AgentExeName())); }
bool ThisIs_Plain_AutoUpdate_Exe() { return IsPlainAgent(IsUpdateAgentProcess(), ExeName(), OwnPackage().AgentExeName()); }
bool ThisIs_X_AutoUpdate_Exe() { return IsXAgent(IsUpdateAgentProcess(), ExeName(), OwnPackage().AgentExeName()); }

// Starts a command line with a hidden window; the program path in it is
// already quoted. With process, the caller gets the process handle to close.
bool StartHidden(const std::string& commandLine, HANDLE* process = nullptr) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessRetryingW(nullptr, WidePath(commandLine), 0, nullptr, si, pi, NoteStartRetry)) return false;
  CloseHandle(pi.hThread);
  if (process)
    *process = pi.hProcess;
  else
    CloseHandle(pi.hProcess);
  return true;
}

// How long the plain agent waits for its new copy's window. A loaded machine
// can take several seconds to start a process, and the messages posted before
// the window exists are lost, so the bound is generous; the wait ends as soon
// as the window exists or the copy has ended.
constexpr uint64_t kXCopyWindowWaitMs = 30000;
}  // namespace

const std::string& StubClassName() { return g_stubClassName; }

bool CreateAndRun_X_Exe(bool xWasRunning) {
  AppendLog("CreateAndRun_X_Exe() --- Start");
  std::string z = SwitchValue("/_ZZ=");
  DebugLinePid(" CreateAndRun_X_Exe-1 " + z);
  if (IsUpdateAgentProcess() && !(X_ExeIsRunning() && z != "99") && SameTextTrim(ExeName(), OwnPackage().AgentExeName())) {
    DebugLinePid(" CreateAndRun_X_Exe-2");
    int64_t w = SwitchInt("/WAIT=", 0);
    AppendLog("Wait " + IntToStr(w) + " SEC");
    // Clamped: a huge value must wait long, not wrap round to a short wait.
    if (w > 0) PumpMessagesFor(DWORD(std::min<int64_t>(w, 0xFFFFFFFFu / 1000) * 1000));
    std::string copy = OwnFolder(true) + "X_" + ExeName();
    // From the held file: the copy that runs on is the agent that was started.
    // A copy that cannot be written is the running X_ copy's file (a restart
    // while it still ends): it is started all the same, and it is in the
    // agent's folder, which only administrators can write.
    if (!CopyHandleTo(OwnFileHandle(), copy)) AppendLog("X_ File not written: " + LastErrorText());
    AppendLog("Create X_ File ");
    std::string args = XCopyArguments(SwitchValue("/TRANSIENT="), SwitchValue("/DELAY="));
    AppendLog("WinExec: " + copy + args);
    HANDLE process = nullptr;
    StartHidden(QuoteIfBlank(copy) + args, &process);
    if (process && !CommandTail().empty()) {
      // Wait for the copy's window, not only its process: the messages that
      // HandleParamOK posts are lost while the copy has no window yet.
      uint64_t start = TickCount();
      while (!(IsProcessRunning(copy) && X_ExeIsRunning()) && TickCount() - start < kXCopyWindowWaitMs &&
             WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
        PumpMessagesFor(200);
      if (!X_ExeIsRunning()) DebugLinePid(" CreateAndRun_X_Exe: the copy's window did not appear");
    }
    if (process) CloseHandle(process);
  }
  AppendLog("CreateAndRun_X_Exe() --- End");
  return xWasRunning;
}

bool HandleParamOK(bool xWasRunning) {
  AppendLog("HandleParamOK() --- Start");
  bool result = false;
  std::string t = OwnFolder(true) + "X_" + ExeName();
  bool exists = IsExistingFile(t);
  int64_t s = SwitchInt("/STOP=", -1);
  if (s >= 0 && exists) {
    AppendLog("PostProcessMessage(wm_ShutDown) to: " + t);
    PostMessageToProcess(t, true, wm_ShutDown, WPARAM(s), 0);
    result = true;
  }
  std::string m = SwitchValue("/WM_MSG=");
  if (!m.empty() && exists) {
    long long h = 0, n = 0;
    ParseWmMsg(m, h, n);
    AppendLog("PostProcessMessage(wm_LocalMsg) to: " + t + " - :" + m + ":");
    PostMessageToProcess(t, true, wm_LocalMsg, WPARAM(h), LPARAM(n));
    result = true;
  }
  int64_t e = SwitchInt("/TEST=", -1);
  if (e >= 0 && exists) {
    AppendLog("PostProcessMessage(wm_AgentMsg) to: " + t + " - AU_PerformUpdateCycle (" + IntToStr(e) + ")");
    PostMessageToProcess(t, true, wm_AgentMsg, 31, LPARAM(e));
    if (!xWasRunning && e > 0) PostMessageToProcess(t, true, wm_ShutDown, 2, 0);
    result = true;
  }
  std::string x = SwitchValue("/TRANSIENTx=");
  if (!x.empty()) ParseOverrideList(x);
  AppendLog("HandleParamOK() --- End");
  return result;
}

void SpanCdRelaunch() {
  std::string p = OwnExePath();
  std::string folder = GetSetupFolder();
  std::string y = NormalizeDirSlash(folder, true) + "Y_" + ExeName();
  // Started only when this run wrote it into its own setup folder: whatever
  // lies at the name otherwise is not this setup.
  if (folder.empty() || !CopyHandleTo(OwnFileHandle(), y)) {
    DebugLinePid(" Y_ copy not written, nothing started: " + LastErrorText());
    g_ExitCode = kExitSetupFailed;
    return;
  }
  StartHidden(SpanRelaunchCommandLine(y, CommandTail(), p, AnsiReadablePath(p)));
}

void DoRunStubWin() {
  AppendLog("DoRunStubWin() --- Start");
  // A class name is an ANSI text: the path as an ANSI reader sees it.
  g_stubClassName = PathInCodePage(StubClassNameFor(IsUpdateAgentProcess(), AnsiReadablePath(OwnExePath())), CP_ACP);
  g_xExeIsRunning = X_ExeIsRunning();
  bool plain = ThisIs_Plain_AutoUpdate_Exe();
  bool xCopy = ThisIs_X_AutoUpdate_Exe();
  AppendLog("X_ExeIsRunning=" + BoolText(g_xExeIsRunning));
  AppendLog("ThisIs_Plain_AutoUpdate_Exe=" + BoolText(plain));
  AppendLog("ThisIs_X_AutoUpdate_Exe=" + BoolText(xCopy));
  if (!WindowClassExists(g_stubClassName)) {
    if (plain) {
      CreateAndRun_X_Exe(g_xExeIsRunning);
    } else if (xCopy) {
      // The override list a restart handed over must reach this copy's cycle.
      std::string x = SwitchValue("/TRANSIENTx=");
      if (!x.empty()) ParseOverrideList(x);
      AppendLog("CheckTestMode");
      CheckTestMode(true);
      AppendLog("WinMain");
      WinMainLoop();
      AppendLog("DeleteMySelf");
      SelfDeleteBatch(false, false);
    } else if (OwnPackage().CdSpanning() && SwitchInt("/SpanCdLvl=", 1) == 1) {
      SpanCdRelaunch();
    } else {
      WinMainLoop();
      if (SwitchInt("/SpanCdLvl=", 1) == 2) SelfDeleteBatch(true, false);
    }
  } else if (!IsUpdateAgentProcess()) {
    // This very setup is already at work: a script must not count this start as an install.
    g_ExitCode = kExitAlreadyRunning;
  }
  if (plain) HandleParamOK(g_xExeIsRunning);
  AppendLog("DoRunStubWin() --- End");
}

int RunStub() {
  const std::string& raw = RawCommandLine();
  DebugLine(PidText() + " ==== STUB START ====> " + raw + "<");
  SetUpdateAgentProcess(OwnPackage().IsUpdateAgent());
  UseAgentPackage(OwnPackage());
  SetLogSwitch(IsUpdateAgentProcess() && OwnPackage().DebugLog());
  if (ThisIs_X_AutoUpdate_Exe()) SetLogTag(" X ");
  AppendLog("");
  AppendLog("");
  AppendLog("=== START === " + OwnExePath());
  AppendLog("CommandLine=" + raw);
  DebugLine(PidText() + " ==== ThisIs_AutoUpdateProg=" + BoolText(IsUpdateAgentProcess()));
  DoRunStubWin();
  ReleaseOwnPackage();
  DebugLine(PidText() + " ==== STUB END ====> " + raw + "<");
  DebugLine("");
  AppendLog("=== EXIT === " + OwnExePath());
  AppendLog("");
  return g_ExitCode;
}
