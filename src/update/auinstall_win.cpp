// Carrying an update offer out: announce, download and verify the package,
// ask, shut the running program down, run the package through the setup
// flow, report, restart the program and hand over to a fresh agent.
#include <windows.h>

#include <climits>
#include <vector>

#include "dialogs/zmsgbox_win.h"
#include "package/gfileinfo.h"
#include "paths/widepath_win.h"
#include "paths/pathmacros_win.h"
#include "paths/platform.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/zdebug.h"
#include "process/process_win.h"
#include "process/procstate_win.h"
#include "process/settings.h"
#include "process/settings_win.h"
#include "process/startretry_win.h"
#include "process/userstart_win.h"
#include "setup/files_win.h"
#include "setup/heldpackage_win.h"
#include "setup/setupflow.h"
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

// The "Issue a Message Box" requests on Win32: the agent's attention box,
// closing by itself at the deadline.
class WinAskToClose : public AskToCloseEnv {
 public:
  WinAskToClose(const std::string& program, const std::string& text) : program_(program), text_(text) {}
  void Pump(uint32_t ms) override { PumpMessagesFor(ms); }
  uint64_t Tick() override { return TickCount(); }
  bool StopRequested() override { return AgentStopRequested(); }
  bool Running() override { return IsProcessRunning(program_); }
  bool Ask(uint64_t timeoutMs) override {
    int timeout = timeoutMs > uint64_t(INT_MAX) ? INT_MAX : int(timeoutMs);
    return AttentionMsg(0, text_, GetMsgBoxAttention(), timeout, GetMsgBoxCharSet(), GetMsgBoxBtnText());
  }

 private:
  std::string program_, text_;
};

struct ShutDownOutcome {
  WaitEnd end = WaitEnd::Ended;  // Ended: the program is gone (or was never to be closed)
  bool restart = false;          // start it again after the update
  uint64_t limitMs = 0;          // the wait it had
};

// Closes the program by the method the INFO file names and waits for its
// end, the requests to close it included, until one shared deadline.
ShutDownOutcome ShutDownProcess(const std::string& program) {
  std::string method = GetShutDownMethod();
  bool wasRunning = IsProcessRunning(program);
  AppendLog("Shut Down Process() - START  (" + program + ")  Method: " + method);
  ShutDownKind kind = ParseShutDownMethod(method);
  ShutDownOutcome out;
  out.limitMs = ShutDownWaitMs(TestModeOn(), TestModeShutDownWait());
  const uint64_t deadline = DeadlineAfter(TickCount(), out.limitMs);
  if (kind == ShutDownKind::AskToClose) {
    std::string text = ReplaceText(ReadAutoUpdateText("s15", ""), "PROG_NAME", ExtractFileName(program));
    DebugLine("s1=" + text + "<");
    WinAskToClose env(program, text);
    out.end = AskUntilClosed(env, deadline);
  }
  Stage(8);
  bool asked = true;
  switch (kind) {
    case ShutDownKind::WmClose:
      asked = CloseProcessByWmClose(program, true);
      break;
    case ShutDownKind::WmQuit:
      asked = CloseProcessByWmQuit(program, true);
      break;
    case ShutDownKind::Terminate:
      asked = TerminateProcessByPath(program, true);
      break;
    default:
      break;
  }
  // The user may still close it: the wait goes on, to the same deadline.
  if (!asked && wasRunning) AppendLog("Shut Down Process: " + method + " did not reach the program");
  if (kind != ShutDownKind::DontShutDown && out.end == WaitEnd::Ended) {
    const uint64_t now = TickCount();
    out.end = WaitForProcessEnd(program, deadline > now ? deadline - now : 0, AgentStopRequested);
  }
  Stage(9);
  AppendLog("Shut Down Process() - END");
  out.restart = out.end == WaitEnd::Ended && GetRestartProcess() && wasRunning && !IsProcessRunning(program);
  return out;
}

// The ORIGINAL file's record of the update under way: written before the
// program is shut down, so that a run ended from then on (logoff, power, the
// task manager) leaves its traces named for the next agent; removed once
// they are gone, and on every other way out of the update.
class InProgressRecord {
 public:
  InProgressRecord(int32_t version, const std::string& package, const std::string& setupFolder) {
    if (!SetUpdateInProgress(version, package, ExtractFileName(NormalizeDirSlash(setupFolder, false))))
      AppendLog("ERROR: the update in progress could not be recorded in " + OriginalFilePath());
  }
  ~InProgressRecord() { Clear(); }
  void Clear() {
    if (cleared_) return;
    cleared_ = true;
    if (!ClearUpdateInProgress()) AppendLog("ERROR: the record of the update could not be removed");
  }
  InProgressRecord(const InProgressRecord&) = delete;
  InProgressRecord& operator=(const InProgressRecord&) = delete;

 private:
  bool cleared_ = false;
};

// Nothing is installed and the program keeps running; the package goes, so
// that a later offer downloads and checks it afresh.
void AbandonUpdate(HeldPackage& held, const std::string& package, const std::string& program,
                   const ShutDownOutcome& shut, bool tellUser) {
  held.Close();
  DeleteFileW(WidePath(package).c_str());
  RemoveSetupFolder();
  if (shut.end == WaitEnd::Stopped) {
    AppendLog("Update abandoned: the agent was asked to stop");
    return;
  }
  AppendLog("Update abandoned: " + program + " did not end within " + IntToStr(int64_t(shut.limitMs / 1000)) + " s");
  NotifyClient(44, 1);
  if (tellUser)
    AuErrorMsg(0, "The update was not installed: the program did not end.<P><P>" + PathInCodePage(program, CP_ACP));
}

// The file to start for RunningProcess: a name that is not a full path is
// found as WinExec would find it, in the install folder, then on the search
// path; the name itself when neither has it (the start then fails, logged).
std::string ProgramToStart(const std::string& program) {
  std::string folder = GetTargetDir().empty() ? AgentDir() : GetTargetDir();
  std::vector<std::string> candidates = RestartCandidates(program, folder);
  if (candidates.size() == 1 && candidates[0] == Trim(program)) return candidates[0];  // a full path
  for (const std::string& c : candidates)
    if (IsExistingFile(c)) return c;
  wchar_t found[MAX_PATH * 2];
  DWORD n = SearchPathW(nullptr, WidePath(Trim(program)).c_str(), L".exe", MAX_PATH * 2, found, nullptr);
  if (n > 0 && n < MAX_PATH * 2) return PathFromWide(found, int(n));
  return Trim(program);
}

// Starts a program with its path given apart from the command line, so that
// a path with blanks cannot start another program; false on failure (logged).
bool Launch(const std::string& program, std::string commandLine, int show, const std::string& folder) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = WORD(show);
  PROCESS_INFORMATION pi{};
  std::wstring wideProgram = WidePath(program), wideFolder = WidePath(folder);
  if (!CreateProcessRetryingW(wideProgram.c_str(), WidePath(commandLine), 0,
                              folder.empty() ? nullptr : wideFolder.c_str(), si, pi, NoteStartRetry)) {
    AppendLog("ERROR: unable to start " + program + ": " + LastErrorText());
    return false;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

// The user must answer (or, when forced, only acknowledge) before going on.
bool AskBeforeGoingOn(bool forced, const std::string& text, DWORD waitMs) {
  bool yes = true;
  if (forced)
    AuAttentionMsg(2, text);
  else
    yes = AuConfirmYesNo(0, text);
  PumpMessagesFor(waitMs);
  return yes;
}

// Runs the downloaded package, still held since its checks; a damaged item
// ends only this update.
bool RunUpdatePackage(HeldPackage& package, const std::string& setupFolder) {
  // Read by the engine, perhaps through the ANSI functions.
  std::string switches = "/OriginalInfoFile=\"" + AnsiReadablePath(InfoFilePath()) + "\"";
  EZLibError zlibError;
  bool ran = RunSetup(setupFolder, package, OwnPackage().AgentExeName(), switches, !GetBackgroundUpdate(), zlibError);
  if (zlibError) {
    std::string text = DecompressionErrorText(zlibError);
    AppendLog("ERROR: " + text);
    AuErrorMsg(0, text);
  }
  return ran;
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
      if (GetRequestConfirmationBeforeDownload() && !userRequested && !AskBeforeGoingOn(downloadForced, announce, 500))
        break;
      if (AgentStopRequested()) break;

      Stage(6);
      SetAgentState(2);
      NotifyClient(41, 1);
      std::string error;
      HeldPackage held;
      bool ok = DownloadFileAU(url, fileName, kDownloadUpdate, error, &held);
      NotifyClient(41, 2);
      bool installForced = GetRequestConfirmationBeforeInstallForce();
      std::string install = InstallQuestionText(ReadAutoUpdateText("s14", ""), ReadAutoUpdateText("s20", ""),
                                                installForced, programName);
      if (ok && installConfirmation && !userRequested) ok = AskBeforeGoingOn(installForced, install, 100);
      if (!ok) break;

      Stage(7);
      std::string package = AgentDir() + AgentDownloadName(fileName);
      std::string program = RunningProgram();
      // A fresh setup folder for every update of this run, made now so that
      // the record names it before anything is shut down.
      const std::string setupFolder = NewSetupFolder();
      InProgressRecord record(versionNew, AgentDownloadName(fileName), setupFolder);
      ShutDownOutcome shut;
      shut.end = AgentStopRequested() ? WaitEnd::Stopped : WaitEnd::Ended;
      if (shut.end == WaitEnd::Ended) shut = ShutDownProcess(program);
      if (shut.end != WaitEnd::Ended) {
        AbandonUpdate(held, package, program, shut, GetRequestConfirmationBeforeInstall() || userRequested);
        break;
      }
      const bool restart = shut.restart;

      SetAgentState(3);
      NotifyClient(42, 1);
      Stage(10);
      result = RunUpdatePackage(held, setupFolder);
      RemoveSetupFolder();
      Stage(11);
      NotifyClient(42, 2);
      // An installed version that cannot be recorded would be offered again
      // and again: the update counts as failed (no hand-over), and says so.
      if (result && !SetVersionOriginal(versionNew)) {
        result = false;
        AppendLog("ERROR: the new version could not be written to " + OriginalFilePath());
        if (GetRequestConfirmationBeforeInstall() || InteractionMode() == 1)
          AuErrorMsg(0, "The update was installed, but its version could not be recorded.<P><P>" +
                            PathInCodePage(OriginalFilePath(), CP_ACP));
      }
      held.Close();
      DeleteFileW(WidePath(package).c_str());
      record.Clear();

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
      // In its own folder, as a program started from its shortcut.
      if (restart && answer) {
        std::string start = ProgramToStart(program);
        // The user's program runs with the user's rights, not the agent's.
        std::string how;
        bool started = StartAsUser(start, "\"" + start + "\"", ExtractFileDir(start), SW_SHOW, how);
        std::string failure = started ? "" : LastErrorText();
        AppendLog("Restart of " + start + ": " + how);
        if (!started) AppendLog("ERROR: unable to start " + start + ": " + failure);
        if (!started && (GetRequestConfirmationBeforeInstall() || userRequested))
          AuErrorMsg(0, "The program could not be started again.<P><P>" + PathInCodePage(start, CP_ACP));
      }
    } while (false);
  Stage(13);
  AppendLog("PerformAutoUpdate() - END    Result=" + BoolText(result));
  return result;
}

namespace {
bool g_leftoversPending = false;
}  // namespace

bool InterruptedUpdatePending() { return g_leftoversPending; }

bool ResolveInterruptedUpdate() {
  UpdateMarker m;
  if (!GetUpdateInProgress(m.version, m.package, m.setupFolder)) return g_leftoversPending = false;
  LeftoverFacts f;
  f.marker = m;
  f.agentDir = AgentDir();
  f.tempDir = TempDir(true);
  f.own = AgentOwnFileNames();
  f.versionOriginal = GetVersionOriginal();
  std::string name = Trim(m.setupFolder);
  std::string folder = IsSetupFolderName(name) && !f.tempDir.empty() ? f.tempDir + name : "";
  f.setupFolderInUse = !folder.empty() && IsExistingFolder(folder) && ProcessRunsFromFolder(folder);
  LeftoverPlan plan = PlanLeftovers(f);
  const std::string what = "Interrupted update of version " + IntToStr(m.version);
  if (plan.wait) {
    if (!g_leftoversPending) AppendLog(what + ": a program still runs from " + folder + "; its files are left for now");
    return g_leftoversPending = true;
  }
  for (const std::string& r : plan.refused) AppendLog(what + ": not removed, the " + r + " is not the agent's");
  if (!plan.packagePath.empty() && IsExistingFile(plan.packagePath)) {
    bool gone = DeleteFileW(WidePath(plan.packagePath).c_str()) != 0;
    AppendLog(what + (gone ? ": removed " : ": ERROR: could not remove ") + plan.packagePath);
  }
  if (!plan.setupFolder.empty() && IsExistingFolder(plan.setupFolder)) {
    // Removed as the setup flow removes its own: a link inside is dropped, never followed.
    bool gone = DeleteTree(plan.setupFolder, false);
    AppendLog(what + (gone ? ": removed " : ": ERROR: could not remove ") + plan.setupFolder);
  }
  if (plan.offerAgain && !SetOfferAgain(true)) AppendLog("ERROR: the update could not be marked to be offered again");
  if (!ClearUpdateInProgress()) AppendLog("ERROR: the record of the interrupted update could not be removed");
  AppendLog(what + (plan.offerAgain ? ": offered again at the next check" : ": its version was recorded"));
  return g_leftoversPending = false;
}

void ReStartAutoUpdateExe() {
  AppendLog(".. ReStartAutoUpdateExe() - Start");
  // A stopping agent hands over to nobody.
  if (QuitCountdown <= 0 && !AgentStopRequested()) {
    std::string agent = AgentDir() + OwnPackage().AgentExeName();
    std::string command = RestartAgentCommandLine(AgentDir(), OwnPackage().AgentExeName(), OverrideListText());
    AppendLog(".. WinExec - " + command);
    if (Launch(agent, command, SW_HIDE, "")) {
      PumpMessagesFor(1000);
      AppendLog(".. PostMessage(WM_DESTROY)");
      PostMessageA(g_MainWindow, WM_DESTROY, 0, 0);
    } else {
      // Without a successor this agent stays, rather than leaving none.
      AppendLog(".. ReStartAutoUpdateExe: the new agent did not start");
    }
  }
  AppendLog(".. ReStartAutoUpdateExe() - End");
}
