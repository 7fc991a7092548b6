// Carrying an update offer out: announce, download and verify the package,
// ask, shut the running program down, run the package through the setup
// flow, report, restart the program and hand over to a fresh agent.
#include <windows.h>

#include "package/gfileinfo.h"
#include "paths/pathmacros_win.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/zdebug.h"
#include "process/process_win.h"
#include "process/procstate_win.h"
#include "process/settings.h"
#include "process/settings_win.h"
#include "setup/files_win.h"
#include "setup/stubsetup_win.h"
#include "setup/zlibopen.h"
#include "update/audecide.h"
#include "update/stubau_win.h"

namespace {

void Stage(int n) { DebugLine(" ==== PerformAutoUpdate-" + IntToStr(n) + " ===="); }

// The program named by RunningProcess, macros expanded and quotes removed
// once, so that the search, the closing and the wait all see one path.
std::string RunningProgram() {
  SetInstallFolders(GetTargetDir(), GetSharedDir(), GetAuxiliaryDir());
  return TrimStripQuotes(ExpandPathMacros(TrimStripQuotes(GetRunningProcess()), "\\", true, true));
}

// Closes the program by the method the INFO file names; true when it should
// be started again afterwards.
bool ShutDownProcess(const std::string& program) {
  std::string method = GetShutDownMethod();
  bool wasRunning = IsProcessRunning(program);
  AppendLog("Shut Down Process() - START  (" + program + ")  Method: " + method);
  ShutDownKind kind = ParseShutDownMethod(method);
  if (kind == ShutDownKind::MessageBox) {
    std::string text = ReplaceText(ReadAutoUpdateText("s15", ""), "PROG_NAME", ExtractFileName(program));
    DebugLine("s1=" + text + "<");
    while (IsProcessRunning(program)) AuAttentionMsg(0, text);
  }
  Stage(8);
  switch (kind) {
    case ShutDownKind::WmClose:
      CloseProcessByWmClose(program, true);
      break;
    case ShutDownKind::WmQuit:
      CloseProcessByWmQuit(program, true);
      break;
    case ShutDownKind::Terminate:
      TerminateProcessByPath(program, true);
      break;
    default:
      break;
  }
  if (kind != ShutDownKind::DontShutDown) WaitForProcessEnd(program, 0);
  Stage(9);
  AppendLog("Shut Down Process() - END");
  return GetRestartProcess() && wasRunning && !IsProcessRunning(program);
}

// Starts the program in its own folder, its path given apart from the command
// line so that a path with blanks cannot start another program.
void StartProgram(const std::string& program) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION pi{};
  std::string cl = "\"" + program + "\"";
  std::string dir = ExtractFileDir(program);
  if (CreateProcessA(program.c_str(), cl.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     dir.empty() ? nullptr : dir.c_str(), &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  } else {
    AppendLog("ERROR: unable to start " + program + ": " + LastErrorText());
  }
}

// Runs the downloaded package; a damaged item ends only this update.
bool RunUpdatePackage(const std::string& package) {
  std::string switches = "/OriginalInfoFile=\"" + InfoFilePath() + "\"";
  try {
    // A fresh setup folder for every update of this run.
    return RunSetup(NewSetupFolder(), package, OwnPackage().AgentExeName(), switches, !GetBackgroundUpdate());
  } catch (const EZLibError& e) {
    std::string text = std::string("Decompression error: ") + e.what();
    DebugLinePid(" " + text);
    AppendLog("ERROR: " + text);
    AuErrorMsg(0, text);
    return false;
  }
}

}  // namespace

bool PerformAutoUpdate() {
  AppendLog("PerformAutoUpdate() - START");
  bool result = false;
  Stage(4);
  // The offer was decided on this version; the package may replace the INFO file.
  int32_t versionNew = GetVersionNew();
  std::string url = GetDownloadURL_UPDATE();
  std::string fileName = GetNameOfUpdateFile();
  if (!url.empty() && !fileName.empty()) do {
      Stage(5);
      bool userRequested = InteractionMode() == 1;
      bool installConfirmation = GetRequestConfirmationBeforeInstall();
      std::string programName = GetNewProgramName();
      AnnounceTexts t{ReadAutoUpdateText("s11", ""), ReadAutoUpdateText("s12", ""), ReadAutoUpdateText("s13", ""),
                      ReadAutoUpdateText("s18", ""), ReadAutoUpdateText("s19", "")};
      bool downloadForced = GetRequestConfirmationBeforeDownloadForce();
      std::string announce = AnnouncementText(t, installConfirmation, downloadForced, programName);
      bool proceed = true;
      if (GetRequestConfirmationBeforeDownload() && !userRequested) {
        if (downloadForced)
          AuAttentionMsg(2, announce);
        else
          proceed = AuConfirmYesNo(0, announce);
        PumpMessagesFor(500);
      }
      if (!proceed) break;

      Stage(6);
      SetAgentState(2);
      NotifyClient(41, 1);
      std::string error;
      bool ok = DownloadFileAU(url, fileName, kDownloadUpdate, error);
      NotifyClient(41, 2);
      bool installForced = GetRequestConfirmationBeforeInstallForce();
      std::string install = InstallQuestionText(ReadAutoUpdateText("s14", ""), ReadAutoUpdateText("s20", ""),
                                                installForced, programName);
      if (ok && installConfirmation && !userRequested) {
        if (installForced)
          AuAttentionMsg(2, install);
        else
          ok = AuConfirmYesNo(0, install);
        PumpMessagesFor(100);
      }
      if (!ok) break;

      Stage(7);
      std::string program = RunningProgram();
      bool restart = ShutDownProcess(program);

      std::string package = AgentDir() + AgentDownloadName(fileName);
      SetAgentState(3);
      NotifyClient(42, 1);
      Stage(10);
      result = RunUpdatePackage(package);
      DeleteTree(GetSetupFolder(), false);
      Stage(11);
      NotifyClient(42, 2);
      if (result) SetVersionOriginal(versionNew);
      DeleteFileA(package.c_str());

      std::string finish = ReplaceText(ReadAutoUpdateText("s16", ""), "PROG_NAME", programName);
      bool answer = true;
      if (result && (GetInformFinish() || userRequested)) {
        if (restart)
          answer = AuConfirmYesNo(1, finish + ReadAutoUpdateText("s17", ""));
        else
          AuAttentionMsg(1, finish);
      }
      Stage(12);
      DebugLine(BoolText(restart) + " " + BoolText(answer) + " >" + program + "<");
      if (restart && answer) StartProgram(program);
    } while (false);
  Stage(13);
  AppendLog("PerformAutoUpdate() - END    Result=" + BoolText(result));
  return result;
}

void ReStartAutoUpdateExe() {
  AppendLog(".. ReStartAutoUpdateExe() - Start");
  if (QuitCountdown <= 0) {
    std::string agent = AgentDir() + OwnPackage().AgentExeName();
    std::string command = RestartAgentCommandLine(AgentDir(), OwnPackage().AgentExeName(), OverrideListText());
    AppendLog(".. WinExec - " + command);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (CreateProcessA(agent.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
      PumpMessagesFor(1000);
      AppendLog(".. PostMessage(WM_DESTROY)");
      PostMessageA(g_MainWindow, WM_DESTROY, 0, 0);
    } else {
      // Without a successor this agent stays, rather than leaving none.
      AppendLog(".. ReStartAutoUpdateExe: unable to start " + agent + ": " + LastErrorText());
    }
  }
  AppendLog(".. ReStartAutoUpdateExe() - End");
}
