#include "setup/stubsetup_win.h"

#include <functional>
#include <memory>

#include "dialogs/zmsgbox_win.h"
#include "package/gfileinfo.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/widepath_win.h"
#include "setup/files_win.h"
#include "setup/heldpackage_win.h"
#include "setup/setupflow.h"
#include "setup/unpack_win.h"
#include "setup/zlibopen.h"
#include "process/procstate_win.h"
#include "paths/zdebug.h"
#include "process/ownfile_win.h"
#include "process/process_win.h"
#include "process/settings_win.h"
#include "process/startretry_win.h"

namespace {
std::string g_setupFolder;  // only ever a folder this process made
std::string g_roomierBase;
std::string g_alternativeFolder;  // likewise
const char* const kAtomPrefix = "AutoUpdateAtomTokenByZelkan";
// Names tried before giving up on a new folder.
constexpr int kFolderAttempts = 1000;
int g_flowDepth = 0;
bool g_flowAbort = false;

// Marks the setup flow as running; the outermost one starts without an abort.
struct FlowRunning {
  FlowRunning() {
    if (g_flowDepth++ == 0) g_flowAbort = false;
  }
  ~FlowRunning() { --g_flowDepth; }
};

// Makes the folder only when nothing is at that name yet: an existing folder
// (another setup's, or a link planted there) is never taken over or emptied.
// `tryAnother` tells whether another name may still succeed.
bool MakeNewFolder(const std::string& path, bool& tryAnother) {
  ForceDirectories(ExtractFileDir(path));
  if (CreateDirectoryW(WidePath(path).c_str(), nullptr)) return true;
  DWORD e = GetLastError();
  tryAnother = e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS || e == ERROR_ACCESS_DENIED;
  return false;
}

// An absolute folder: a relative one would land in whatever the current folder is.
bool IsAbsoluteFolder(const std::string& p) {
  return p.size() >= 3 && ((p[1] == ':' && p[2] == '\\') || (p[0] == '\\' && p[1] == '\\'));
}

std::string EngineTag() { return "_" + std::to_string(GetCurrentThreadId()); }

// The completion atom in the system's global atom table; the engine run itself is the caller's.
class WinEngineAtoms : public EngineAtomEnv {
 public:
  explicit WinEngineAtoms(std::function<void()> run) : run_(std::move(run)) {}
  uint16_t AddAtom(const std::string& name) override { return GlobalAddAtomA(name.c_str()); }
  uint16_t FindAtom(const std::string& name) override { return GlobalFindAtomA(name.c_str()); }
  void DeleteAtom(uint16_t atom) override { GlobalDeleteAtom(atom); }
  void RunEngine() override { run_(); }
  void Debug(const std::string& line) override { DebugLinePid(line); }

 private:
  std::function<void()> run_;
};

// Runs the engine and reports whether it removed its completion atom.
bool RunEngine(const std::string& commandLine, const std::string& tag, bool foreground) {
  std::string startUpLink = GetStartUpLink();
  std::string checkLink = GetCheckforNewUpdateLink();
  DebugLinePid(" ==== WinExec(Engine.exe) >>" + commandLine + "<<");
  std::string atomName = kAtomPrefix + tag;
  WinEngineAtoms atoms([&] {
    HANDLE proc = StartProcess(commandLine, foreground ? SW_SHOW : SW_HIDE);
    if (!proc) DebugLinePid(" Engine not started: " + LastErrorText());
    if (g_MainWindow) ShowWindow(g_MainWindow, SW_HIDE);
    PumpMessagesFor(1000);
    WaitForProcess(proc);
    DWORD code = 0;
    if (proc && GetExitCodeProcess(proc, &code))
      g_ExitCode = int(code);
    else
      g_ExitCode = proc ? 0 : kExitSetupFailed;
    if (proc) CloseHandle(proc);
    WaitWhileWindowExists(".SDialog_Class_Name." + tag, "");
    PumpMessagesFor(1000);
  });
  // Only an atom that was added and is gone means the engine finished; an
  // unknown outcome keeps the shortcuts.
  bool result = RunEngineWithAtom(atoms, atomName) == EngineOutcome::Completed;
  if (result) {
    if (GetRemoveStartUpShortcut() && !startUpLink.empty() && IsExistingFile(startUpLink))
      DeleteFileW(WidePath(startUpLink).c_str());
    if (GetRemoveCheckForNewUpdateShortcut() && !checkLink.empty() && IsExistingFile(checkLink))
      DeleteFileW(WidePath(checkLink).c_str());
  }
  return result;
}
}  // namespace

std::string GetSetupFolder() {
  if (g_setupFolder.empty()) {
    std::string temp = TempDir(true);
    if (!IsAbsoluteFolder(temp)) {
      DebugLinePid(" No temporary folder: no setup folder >" + temp + "<");
      return g_setupFolder;
    }
    // Another setup with the same stamp (or a copy of this agent) may be at
    // work in SETUP_n: take the next free name rather than its folder.
    uint32_t stamp = HandleDosTime(OwnFileHandle());
    bool tryAnother = true;
    for (int attempt = 0; attempt < kFolderAttempts && tryAnother; ++attempt) {
      std::string path = temp + SetupFolderCandidate(stamp, attempt);
      if (MakeNewFolder(path, tryAnother)) {
        g_setupFolder = path;
        break;
      }
    }
    if (g_setupFolder.empty()) DebugLinePid(" No setup folder could be made in " + temp + ": " + LastErrorText());
  }
  return g_setupFolder;
}

std::string NewSetupFolder() {
  g_setupFolder.clear();
  return GetSetupFolder();
}

void RemoveSetupFolder() {
  if (g_setupFolder.empty()) return;
  DeleteTree(g_setupFolder, false);
  if (!IsExistingFolder(g_setupFolder)) g_setupFolder.clear();
}

bool SetupFlowRunning() { return g_flowDepth > 0; }
void RequestSetupAbort() { g_flowAbort = true; }
bool SetupAbortRequested() { return g_flowAbort; }

HANDLE StartProcess(const std::string& commandLine, int show) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = WORD(show);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessRetryingW(nullptr, WidePath(commandLine), 0, nullptr, si, pi, NoteStartRetry)) return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

void WaitForProcess(HANDLE process) {
  DWORD code = 0;
  while (process && GetExitCodeProcess(process, &code) && code == STILL_ACTIVE) PumpMessagesFor(500);
}

bool GetForcePrompt() {
  return ReadRegString("HKEY_CURRENT_USER\\Software\\Vindraco\\Zelkan\\SpanDisk", "ForcePrompt", "0") == "1";
}

void SetStatusText(HWND window, const std::string& text, const std::string& face, int charset, int size) {
  if (!g_StatusLine) return;
  static HFONT font = nullptr;
  bool rtl = charset == 177 || charset == 178;
  LONG_PTR ex = GetWindowLongPtrA(g_StatusLine, GWL_EXSTYLE);
  ex = rtl ? (ex | WS_EX_RTLREADING | WS_EX_RIGHT) : (ex & ~LONG_PTR(WS_EX_RTLREADING | WS_EX_RIGHT));
  SetWindowLongPtrA(g_StatusLine, GWL_EXSTYLE, ex);
  LONG_PTR st = GetWindowLongPtrA(g_StatusLine, GWL_STYLE);
  st = (st & ~LONG_PTR(SS_RIGHT | SS_CENTER)) | (rtl ? SS_RIGHT : SS_LEFT) | WS_CHILD | WS_VISIBLE;
  SetWindowLongPtrA(g_StatusLine, GWL_STYLE, st);
  HFONT f = CreateFontA(-PointsToPixels(size), 0, 0, 0, FW_NORMAL, 0, 0, 0, BYTE(charset), OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face.c_str());
  SendMessageA(g_StatusLine, WM_SETFONT, WPARAM(f), TRUE);
  if (font) DeleteObject(font);
  font = f;
  SetWindowTextA(g_StatusLine, text.c_str());
  (void)window;
}

bool SpaceIsEnough(const std::string& folder, const std::string& package) {
  TGFileInfo info(package);
  return SpaceIsEnough(folder, info);
}

bool SpaceIsEnough(const std::string& folder, const TGFileInfo& info) {
  double required = double(info.SpaceRequired(folder));
  return required < FreeDiskSpace(folder) && IsExistingFolder(folder);
}

bool ConfirmTempSpace(const std::string& folder, const std::string& package, TGFileInfo& info) {
  (void)package;
  SpaceTexts t{info.GetLangText("s2", "Zelkan will extract files to your Temp Drive (<DRIVE>)<P>"),
               info.GetLangText("s3", "Limited Free Space on your Temp Drive! (<DRIVE>)<P>"),
               info.GetLangText("s4", "<P>Estimated space required on your Temp drive is: <T>  <SPACE_REQ> MB<P>"),
               info.GetLangText("s5", "Free space available on your Temp drive is: <T>  <SPACE_AVAIL> MB<P>"),
               info.GetLangText("s6", "<P>Continue with Setup?<P>")};
  std::string msg =
      SpaceQuestion(t, info.TempDriveNotice(), folder, double(info.SpaceRequired(folder)), FreeDiskSpace(folder));
  if (msg.empty()) return true;
  return ConfirmYesNo(0, msg, info.GetLangText("Confirm", "Confirm"), 0, info.Charset(),
                      info.GetLangText("BtnText", kDefaultButtonTexts));
}

bool FindRoomierTempDrive() {
  if (!g_roomierBase.empty()) return true;
  const char letters[3] = {'C', 'D', 'E'};
  double freeBytes[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    std::string root = std::string(1, letters[i]) + ":\\";
    if (GetDriveTypeW(WidePath(root).c_str()) != DRIVE_FIXED) continue;
    std::string probe = root + "TEMP";
    if (IsExistingFolder(probe)) probe = root + "TEMP\\TEMP" + RandomRangeText(10000, 100000);
    // Only a probe folder made here is written to and removed again.
    bool unused = false;
    if (!MakeNewFolder(probe, unused)) continue;
    std::string test = probe + "\\~aa.tmp";
    WriteFileText(test, "aa", 0, false);
    if (IsExistingFile(test)) freeBytes[i] = FreeDiskSpace(probe);
    DeleteTree(probe, false);
  }
  std::string temp = TempDir(false);
  char current = temp.empty() ? 'C' : char(toupper(uint8_t(temp[0])));
  char best = current;
  double bestFree = 0;
  for (int i = 0; i < 3; ++i)
    if (freeBytes[i] > bestFree) {
      best = letters[i];
      bestFree = freeBytes[i];
    }
  if (best != current) {
    g_roomierBase = std::string(1, best) + ":\\TEMP";
    if (IsExistingFolder(g_roomierBase)) g_roomierBase += "\\TEMP";
  }
  return !g_roomierBase.empty();
}

std::string GetAlternativeFolder() {
  if (g_alternativeFolder.empty() && !g_roomierBase.empty()) {
    bool tryAnother = true;
    for (int attempt = 0; attempt < kFolderAttempts && tryAnother; ++attempt) {
      std::string path = g_roomierBase + "_" + RandomRangeText(10000, 100000);
      if (MakeNewFolder(path, tryAnother)) {
        g_alternativeFolder = path;
        break;
      }
    }
  }
  return g_alternativeFolder;
}

void RemoveAlternativeFolder() {
  // Forgotten once removed, so that a later run of this process makes its own.
  if (!g_alternativeFolder.empty()) DeleteTree(g_alternativeFolder, false);
  g_alternativeFolder.clear();
}

bool RunSetup(std::string target, const std::string& package, const std::string& agentName,
              const std::string& arguments, bool foreground, EZLibError& zlibError) {
  HeldPackage held(package);
  return RunSetup(target, held, agentName, arguments, foreground, zlibError);
}

bool RunSetup(std::string target, HeldPackage& package, const std::string& agentName, const std::string& arguments,
              bool foreground, EZLibError& zlibError) {
  FlowRunning flow;
  bool result = false;
  auto info = std::make_unique<TGFileInfo>(package.Info());
  bool proceed = true;
  if (info->ActivityBar() && g_ActivityBar) ShowWindow(g_ActivityBar, SW_SHOW);
  SetStatusText(g_MainWindow, info->GetLangText("s1", "Extracting Files..."), info->FontName(), info->Charset(),
                info->FontSize());
  if (!SpaceIsEnough(target, *info) && FindRoomierTempDrive()) {
    std::string alternative = GetAlternativeFolder();
    if (!alternative.empty()) target = alternative;
  }
  DebugLine("========= ForegroundOp=" + BoolText(foreground) + " ==========");
  bool noFolder = target.empty();
  if (noFolder) {
    // Never extract relative to the current folder.
    DebugLinePid(" RunSetup: no setup folder, nothing is extracted");
    proceed = false;
  }
  if (proceed && foreground) proceed = ConfirmTempSpace(target, package.Path(), *info);
  if (proceed) {
    std::string prompt = info->GetLangText("s8", "Please insert <B>DISK #<DISK_NUM></B> and press OK to continue");
    std::string title = info->GetLangText("Attention", "Attention");
    std::string buttons = info->GetLangText("BtnText", kDefaultButtonTexts);
    int charset = info->Charset();
    if (foreground && g_MainWindow) ShowWindow(g_MainWindow, SW_SHOW);
    PumpMessagesFor(1000, 1);
    bool checksumOk = false;
    std::string entry;
    ExtractOutcome outcome = ExtractOutcome::Done;
    ExtractPackage(package, target, agentName, checksumOk, UpdateProgressBars, prompt, title, buttons, charset,
                   GetForcePrompt(), entry, &outcome, &zlibError);
    PumpMessagesFor(1000);
    if (!entry.empty() && checksumOk) {
      std::string tag = EngineTag();
      // An engine may read its command line through the ANSI functions: a
      // path that code page cannot hold goes as its short form.
      EngineCommand cmd = BuildEngineCommandLine(entry, AnsiReadablePath(target), arguments, tag,
                                                 AnsiReadablePath(OwnExePath()), IsUpdateAgentProcess());
      result = RunEngine(cmd.commandLine, tag, foreground);
    } else {
      g_ExitCode = ExtractionExitCode(outcome);
      DebugLinePid(" No engine started, exit code " + std::to_string(g_ExitCode));
    }
    // Damaged compressed data: the caller tells the user, no checksum box on top.
    if (!checksumOk && outcome != ExtractOutcome::Decompression)
      ErrorMsg(0, info->GetLangText("s7", "Bad CRC!<P>This indicates that your setup file might be corrupted..."),
               info->GetLangText("Error", "Error"), charset, buttons);
  } else {
    // Only a "No" is the user's cancel; a folder that could not be made is a failure.
    g_ExitCode = noFolder ? kExitSetupFailed : kExitUserCancelled;
  }
  RemoveAlternativeFolder();
  return result;
}

void StartSetupMode(HWND window) {
  FlowRunning flow;
  KillTimer(window, 1);
  TGFileInfo& own = OwnPackage();
  std::string agentName = own.WriteAgentCopy() ? own.AgentExeName() : std::string();
  SetHiddenOperation(SwitchPresent("/hide") || own.Silent());
  if (own.WebSetup()) {
    WebSetupBranch(agentName);
  } else {
    std::string span = SwitchValue("/SpanDiskFName1=");
    bool hidden = SwitchPresent("/hide") || own.Silent();
    EZLibError zlibError;
    if (span.empty()) {
      // The package is this very file: read through the handle held since the start.
      HeldPackage package;
      package.HoldDuplicate(OwnFileHandle(), OwnExePath());
      RunSetup(GetSetupFolder(), package, agentName, CommandTail(), !hidden, zlibError);
    } else {
      RunSetup(GetSetupFolder(), span, agentName, CommandTail(), !hidden, zlibError);
    }
    // A damaged compressed item: tell the user; nothing was started, clean up below.
    if (zlibError)
      ErrorMsg(0, DecompressionErrorText(zlibError), own.GetLangText("Error", "Error"), own.Charset(),
               own.GetLangText("BtnText", kDefaultButtonTexts));
  }
  RemoveAlternativeFolder();
  RemoveSetupFolder();
  DebugLinePid(" ==== Setup ExitCode=" + std::to_string(g_ExitCode));
  PostQuitMessage(0);
}
