// The agent's downloads: the INFO file into memory, the update and inform
// files into the agent folder, from a folder (test mode, drive or network
// base) or over HTTP, each checked before anything uses it.
#include <windows.h>

#include <memory>

#include "net/inethttp_win.h"
#include "package/gfileinfo.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/zdebug.h"
#include "process/procstate_win.h"
#include "process/settings_win.h"
#include "setup/files_win.h"
#include "setup/stubsetup_win.h"
#include "setup/unpack_win.h"
#include "update/audecide.h"
#include "update/stubau_win.h"

namespace {

// INFO and inform files are small; anything larger is not one.
constexpr int64_t kMaxTextFile = 1 << 20;

const char* StatusKey(int kind) { return kind == kDownloadInfo ? "s31" : kind == kDownloadUpdate ? "s32" : "s33"; }
const char* StatusDefault(int kind) {
  return kind == kDownloadInfo     ? "Downloading INFO File..."
         : kind == kDownloadUpdate ? "Downloading UPDATE File..."
                                   : "Downloading INFORM File...";
}

// Copies file to file in pieces, every write checked; a failed copy leaves nothing.
bool CopyWhole(const std::string& from, const std::string& to, std::string& error) {
  HANDLE in = CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (in == INVALID_HANDLE_VALUE) {
    error = "Unable to open " + from + ": " + LastErrorText();
    return false;
  }
  HANDLE out = CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    error = "Unable to create " + to + ": " + LastErrorText();
    CloseHandle(in);
    return false;
  }
  std::unique_ptr<char[]> buf(new char[65536]);
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, buf.get(), 65536, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    DWORD put = 0;
    if (!WriteFile(out, buf.get(), got, &put, nullptr) || put != got) {
      ok = false;
      break;
    }
  }
  if (!ok) error = "Unable to copy " + from + ": " + LastErrorText();
  CloseHandle(in);
  CloseHandle(out);
  if (!ok) DeleteFileA(to.c_str());
  return ok;
}

// The product token of the downloaded file against the agent's own.
bool TokenTestPasses(int kind, const std::string& target) {
  std::string own = OwnPackage().PackageToken(false);
  if (kind == kDownloadUpdate) {
    TGFileInfo info(target);
    return TokensMatch(info.PackageToken(false), own);
  }
  if (FileSizeByName(target) > kMaxTextFile) return false;
  return TokensMatch(DecodeInformText(ReadFilePart(target, 0, 0)).tokenField, own);
}

// An update package must be whole before anything is shut down for it.
bool UpdatePackageWhole(const std::string& target, std::string& why) {
  int64_t size = FileSizeByName(target);
  if (!SizeTestHolds(size, GetSizeOfUpdateFile())) {
    why = "size " + IntToStr(size) + " against the published " + IntToStr(GetSizeOfUpdateFile());
    return false;
  }
  return VerifyPackageFile(target, why);
}

void StepFolderCopyProgress() {
  UpdateProgressBars(0, 0, 10, 0, 1, "");
  for (int i = 0; i < 10; ++i) {
    UpdateProgressBars(1, 0, 0, 0, 0, "");
    PumpMessagesFor(300);
  }
  UpdateProgressBars(0, 0, 0, 0, 1, "");
}

}  // namespace

std::string AgentDir() { return OwnFolder(true); }

std::string AgentDownloadName(const std::string& nameFromInfo) {
  AgentFileNames own;
  own.agentExe = OwnPackage().AgentExeName();
  own.infoFile = ExtractFileName(InfoFilePath());
  own.originalFile = ExtractFileName(OriginalFilePath());
  own.logFile = ExtractFileName(LogFilePath());
  return SafeDownloadName(nameFromInfo, own);
}

bool DownloadFileAU(const std::string& baseIn, const std::string& file, int kind, std::string& error) {
  bool success = false;
  std::string data, target;
  error.clear();
  std::string name = kind == kDownloadInfo ? ExtractFileName(file) : AgentDownloadName(file);
  if (name.empty()) {
    // Only a plain name of a file that is not the agent's own may be fetched.
    DebugLinePid(" DownloadFileAU: refused file name >" + file + "<");
    AppendLog("ERROR: refused file name: " + file);
    error = "Refused file name: " + file;
    return false;
  }
  bool test = TestModeOn();
  std::string base = test ? TestModeUrl() : baseIn;
  std::string source = base + "\\" + name;
  bool inFolder = !base.empty() && FileExistsA(source);
  DebugLine(" DownloadFileAU: " + BoolText(inFolder) + " " + source);
  AppendLog("TestMode=" + BoolText(test));
  AppendLog("Download START: " + source);
  bool show = kind == kDownloadUpdate && GetRequestConfirmationBeforeDownload() && InteractionMode() != 1;
  if (show && g_MainWindow) ShowWindow(g_MainWindow, SW_SHOW);
  SetStatusText(g_MainWindow, ReadAutoUpdateText(StatusKey(kind), StatusDefault(kind)), GetMsgBoxFontName(),
                GetMsgBoxCharSet(), GetMsgBoxFontSize());
  std::string connError;
  if (inFolder) {
    if (kind == kDownloadInfo) {
      if (FileSizeByName(source) <= kMaxTextFile) data = ReadFilePart(source, 0, 0);
    } else if (FileSizeByName(source) > 0) {
      target = AgentDir() + name;
      if (CopyWhole(source, target, error) && show) StepFolderCopyProgress();
    }
  } else if (!test && !base.empty() && InternetConnected(connError)) {
    PumpMessagesFor(500);
    source = base + "/" + name;
    SetHttpAbort(false);
    if (kind != kDownloadInfo) target = AgentDir() + name;
    uintptr_t owner = InteractionMode() == 1 ? reinterpret_cast<uintptr_t>(g_MainWindow) : kHttpShowNothing;
    HttpDownload(owner, source, target, data, UpdateProgressBars, error);
    PumpMessagesFor(500);
  } else if (kind != kDownloadInfo) {
    // Nothing could be fetched: say so, rather than failing later on a missing file.
    error = test ? "File not found in the test folder" : "No Internet connection";
    if (!connError.empty()) error += ": " + connError;
  }
  if (show && g_MainWindow) ShowWindow(g_MainWindow, SW_HIDE);
  AppendLog("Download END:   " + source);

  if (kind == kDownloadInfo) {
    if (error.empty() && !data.empty()) error = DescribeHttpErrorPage("", data, source, "", false);
    if (error.empty() && !data.empty()) success = WriteFileText(AgentDir() + name, data, 0, false);
    return success;
  }
  if (error.empty()) {
    success = true;
    if (!TokenTestPasses(kind, target)) {
      success = false;
      std::string text = DescribeHttpErrorPage(target, "", source, "Bad Secret Token!", false);
      DeleteFileA(target.c_str());
      AppendLog("ERROR: " + text);
      AuErrorMsg(0, text);
    } else if (kind == kDownloadUpdate) {
      std::string why;
      if (!UpdatePackageWhole(target, why)) {
        success = false;
        DeleteFileA(target.c_str());
        DebugLinePid(" DownloadFileAU: update package refused: " + why);
        AppendLog("ERROR: update package refused: " + why);
        if (GetRequestConfirmationBeforeDownload())
          AuErrorMsg(0, "The update file is damaged or incomplete.<P><P>" + source);
      }
    }
  } else if (source.size() > 2 && GetRequestConfirmationBeforeDownload()) {
    std::string text = DownloadFailureText(HttpAborted(), source, ReadAutoUpdateText("s3", "File Download Aborted!"),
                                           ReadAutoUpdateText("s4", "File not Found!"),
                                           ReadAutoUpdateText("s5", "Unable to Download File!"));
    AppendLog("ATTENTION: " + text);
    AuAttentionMsg(0, text);
  }
  return success;
}
