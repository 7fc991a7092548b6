#include "setup/stubsetup_win.h"

#include <memory>

#include "dialogs/zmsgbox_win.h"
#include "package/gfileinfo.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "setup/files_win.h"
#include "setup/setupflow.h"
#include "setup/unpack_win.h"
#include "setup/zlibopen.h"
#include "process/procstate_win.h"
#include "paths/zdebug.h"
#include "process/process_win.h"
#include "process/settings_win.h"

namespace {
std::string g_setupFolder;
std::string g_roomierBase;
std::string g_alternativeFolder;
const char* const kAtomPrefix = "AutoUpdateAtomTokenByZelkan";

// A fresh folder: an old tree of that name goes first.
void MakeFreshFolder(const std::string& path) {
  if (DirectoryExistsA(path)) DeleteTree(path, true);
  ForceDirectories(path);
}

std::string EngineTag() { return "_" + std::to_string(GetCurrentThreadId()); }

// Runs the engine and reports whether it removed its completion atom.
bool RunEngine(const std::string& commandLine, const std::string& tag, bool foreground) {
  std::string startUpLink = GetStartUpLink();
  std::string checkLink = GetCheckforNewUpdateLink();
  DebugLinePid(" ==== WinExec(Engine.exe) >>" + commandLine + "<<");
  std::string atomName = kAtomPrefix + tag;
  GlobalAddAtomA(atomName.c_str());
  HANDLE proc = StartProcess(commandLine, foreground ? SW_SHOW : SW_HIDE);
  if (g_MainWindow) ShowWindow(g_MainWindow, SW_HIDE);
  PumpMessagesFor(1000);
  WaitForProcess(proc);
  DWORD code = 0;
  if (proc && GetExitCodeProcess(proc, &code))
    g_ExitCode = int(code);
  else
    g_ExitCode = 0;
  if (proc) CloseHandle(proc);
  WaitWhileWindowExists(".SDialog_Class_Name." + tag, "");
  PumpMessagesFor(1000);
  ATOM atom = GlobalFindAtomA(atomName.c_str());
  bool result = atom == 0;
  if (atom) GlobalDeleteAtom(atom);
  if (result) {
    if (GetRemoveStartUpShortcut() && !startUpLink.empty() && FileExistsA(startUpLink))
      DeleteFileA(startUpLink.c_str());
    if (GetRemoveCheckForNewUpdateShortcut() && !checkLink.empty() && FileExistsA(checkLink))
      DeleteFileA(checkLink.c_str());
  }
  return result;
}
}  // namespace

std::string GetSetupFolder() {
  if (g_setupFolder.empty()) {
    g_setupFolder = TempDir(true) + SetupFolderName(FileDosTime(OwnExePath()));
    MakeFreshFolder(g_setupFolder);
  }
  return g_setupFolder;
}

std::string NewSetupFolder() {
  g_setupFolder.clear();
  return GetSetupFolder();
}

HANDLE StartProcess(const std::string& commandLine, int show) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = WORD(show);
  PROCESS_INFORMATION pi{};
  std::string cl = commandLine;
  if (!CreateProcessA(nullptr, cl.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
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
  double required = double(info.SpaceRequired(folder));
  return required < FreeDiskSpace(folder) && DirectoryExistsA(folder);
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
    if (GetDriveTypeA(root.c_str()) != DRIVE_FIXED) continue;
    std::string probe = root + "TEMP";
    if (DirectoryExistsA(probe)) probe = root + "TEMP\\TEMP" + RandomRangeText(10000, 100000);
    ForceDirectories(probe);
    std::string test = probe + "\\~aa.tmp";
    WriteFileText(test, "aa", 0, false);
    if (FileExistsA(test)) freeBytes[i] = FreeDiskSpace(probe);
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
    if (DirectoryExistsA(g_roomierBase)) g_roomierBase += "\\TEMP";
  }
  return !g_roomierBase.empty();
}

std::string GetAlternativeFolder() {
  if (g_alternativeFolder.empty() && !g_roomierBase.empty()) {
    g_alternativeFolder = g_roomierBase + "_" + RandomRangeText(10000, 100000);
    MakeFreshFolder(g_alternativeFolder);
  }
  return g_alternativeFolder;
}

void RemoveAlternativeFolder() {
  // Forgotten once removed, so that a later run of this process makes its own.
  if (!g_alternativeFolder.empty()) DeleteTree(g_alternativeFolder, false);
  g_alternativeFolder.clear();
}

bool RunSetup(std::string target, const std::string& package, const std::string& agentName,
              const std::string& arguments, bool foreground) {
  bool result = false;
  auto info = std::make_unique<TGFileInfo>(package);
  bool proceed = true;
  if (info->ActivityBar() && g_ActivityBar) ShowWindow(g_ActivityBar, SW_SHOW);
  SetStatusText(g_MainWindow, info->GetLangText("s1", "Extracting Files..."), info->FontName(), info->Charset(),
                info->FontSize());
  if (!SpaceIsEnough(target, package) && FindRoomierTempDrive()) target = GetAlternativeFolder();
  DebugLine("========= ForegroundOp=" + BoolText(foreground) + " ==========");
  if (foreground) proceed = ConfirmTempSpace(target, package, *info);
  if (proceed) {
    std::string prompt = info->GetLangText("s8", "Please insert <B>DISK #<DISK_NUM></B> and press OK to continue");
    std::string title = info->GetLangText("Attention", "Attention");
    std::string buttons = info->GetLangText("BtnText", kDefaultButtonTexts);
    int charset = info->Charset();
    if (foreground && g_MainWindow) ShowWindow(g_MainWindow, SW_SHOW);
    PumpMessagesFor(1000, 1);
    bool checksumOk = false;
    std::string entry;
    ExtractPackage(package, target, agentName, checksumOk, UpdateProgressBars, prompt, title, buttons, charset,
                   GetForcePrompt(), entry);
    PumpMessagesFor(1000);
    if (!entry.empty() && checksumOk) {
      std::string tag = EngineTag();
      EngineCommand cmd = BuildEngineCommandLine(entry, target, arguments, tag, OwnExePath(), IsUpdateAgentProcess());
      result = RunEngine(cmd.commandLine, tag, foreground);
    }
    if (!checksumOk)
      ErrorMsg(0, info->GetLangText("s7", "Bad CRC!<P>This indicates that your setup file might be corrupted..."),
               info->GetLangText("Error", "Error"), charset, buttons);
  }
  RemoveAlternativeFolder();
  return result;
}

void StartSetupMode(HWND window) {
  KillTimer(window, 1);
  TGFileInfo& own = OwnPackage();
  std::string agentName = own.WriteAgentCopy() ? own.AgentExeName() : std::string();
  try {
    if (own.WebSetup()) {
      WebSetupBranch(agentName);
    } else {
      std::string package = OwnExePath();
      std::string span = SwitchValue("/SpanDiskFName1=");
      if (!span.empty()) package = span;
      bool hidden = SwitchPresent("/hide") || own.Silent();
      RunSetup(GetSetupFolder(), package, agentName, CommandTail(), !hidden);
    }
  } catch (const EZLibError& e) {
    // A damaged compressed item: tell the user, start nothing, clean up below.
    DebugLinePid(std::string(" EZLibError: ") + e.what());
    ErrorMsg(0, std::string("Decompression error: ") + e.what(), own.GetLangText("Error", "Error"), own.Charset(),
             own.GetLangText("BtnText", kDefaultButtonTexts));
  }
  RemoveAlternativeFolder();
  DeleteTree(GetSetupFolder(), false);
  PostQuitMessage(0);
}
