// The agent's downloads: the INFO file into memory, the update and inform
// files into the agent folder, from a folder (test mode, drive or network
// base) or over HTTP, each checked before anything uses it.
#include <windows.h>

#include <memory>

#include "net/inethttp_win.h"
#include "package/cng_win.h"
#include "package/gfileinfo.h"
#include "package/signature.h"
#include "paths/widepath_win.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/zdebug.h"
#include "process/procstate_win.h"
#include "process/settings_win.h"
#include "setup/files_win.h"
#include "setup/heldpackage_win.h"
#include "setup/stubsetup_win.h"
#include "setup/unpack_win.h"
#include "update/audecide.h"
#include "update/stubau_win.h"

namespace {

// INFO and inform files are small; anything larger is not one.
constexpr int64_t kMaxTextFile = 1 << 20;
// A signature file is one line of base64.
constexpr int64_t kMaxSignatureFile = 4096;

const char* StatusKey(int kind) { return kind == kDownloadInfo ? "s31" : kind == kDownloadUpdate ? "s32" : "s33"; }
const char* StatusDefault(int kind) {
  return kind == kDownloadInfo     ? "Downloading INFO File..."
         : kind == kDownloadUpdate ? "Downloading UPDATE File..."
                                   : "Downloading INFORM File...";
}

// Copies file to file in pieces, every write checked; a failed copy leaves nothing.
bool CopyWhole(const std::string& from, const std::string& to, std::string& error) {
  HANDLE in = CreateFileW(WidePath(from).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (in == INVALID_HANDLE_VALUE) {
    error = "Unable to open " + from + ": " + LastErrorText();
    return false;
  }
  HANDLE out =
      CreateFileW(WidePath(to).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
  if (!ok) DeleteFileW(WidePath(to).c_str());
  return ok;
}

// The product token of the downloaded file against the agent's own; an
// update package is read through its held handle.
bool TokenTestPasses(int kind, const std::string& target, const HeldPackage& package) {
  std::string own = OwnPackage().PackageToken(false);
  if (kind == kDownloadUpdate) return TokensMatch(package.Info().PackageToken(false), own);
  std::string text;
  return ReadFileUpTo(target, kMaxTextFile, text) && TokensMatch(DecodeInformText(text).tokenField, own);
}

// An update package must be whole before anything is shut down for it.
bool UpdatePackageWhole(HeldPackage& package, std::string& why) {
  int64_t size = package.Size();
  if (!SizeTestHolds(size, GetSizeOfUpdateFile())) {
    why = "size " + IntToStr(size) + " against the published " + IntToStr(GetSizeOfUpdateFile());
    return false;
  }
  return VerifyPackageFile(package, why);
}

// The detached signature of the INFO file, from where the INFO file came:
// the folder, or the same web base (fetched afresh, never from a cache).
bool FetchSignature(const std::string& base, bool fromFolder, const std::string& infoName, std::string& text) {
  std::string name = SignatureFileName(infoName);
  text.clear();
  if (fromFolder) {
    std::string path = base + "\\" + name;
    return ReadFileUpTo(path, kMaxSignatureFile, text);
  }
  std::string url = base + "/" + name, error;
  HttpDownload(kHttpShowReload, url, "", text, nullptr, error);
  if (error.empty() && !text.empty()) error = DescribeHttpErrorPage("", text, url, "", false);
  return error.empty() && int64_t(text.size()) <= kMaxSignatureFile;
}

// An agent with a publisher key takes only an INFO file signed with it; the
// bytes are checked in memory, before they ever reach the disk.
bool InfoSignatureAccepted(const std::string& base, bool fromFolder, const std::string& name,
                           const std::string& data, std::string& error) {
  std::string key = OwnPackage().UpdatePublicKey();
  if (key.empty()) return true;
  std::string sig;
  bool fetched = FetchSignature(base, fromFolder, name, sig);
  InfoVerdict v = CheckInfoSignature(key, data, fetched, sig, CngVerifyP256);
  if (InfoAccepted(v)) {
    DebugLinePid(" DownloadFileAU: INFO file signature valid");
    return true;
  }
  error = std::string("The INFO file was refused: ") + InfoVerdictText(v);
  DebugLinePid(" DownloadFileAU: INFO file refused, " + std::string(InfoVerdictText(v)));
  AppendLog("ERROR: INFO file refused: " + std::string(InfoVerdictText(v)));
  return false;
}

// The update or inform file against the SHA-256 that the INFO file publishes;
// with a publisher key, a file without a published hash is refused.
bool PublishedHashAccepted(int kind, const std::string& target, std::string& why) {
  bool keyPinned = !OwnPackage().UpdatePublicKey().empty();
  std::string published = kind == kDownloadUpdate ? GetSha256OfUpdateFile() : GetSha256OfInformFile();
  std::string digest, hashError;
  bool hashed = HashNeeded(keyPinned, published) && CngSha256File(target, digest, hashError);
  if (!hashError.empty()) AppendLog("SHA-256: " + hashError);
  HashVerdict v = CheckPublishedHash(keyPinned, published, hashed, digest);
  why = HashVerdictText(v);
  if (v != HashVerdict::Unchecked) DebugLinePid(" DownloadFileAU: " + why);
  return HashAccepted(v);
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

bool DownloadFileAU(const std::string& baseIn, const std::string& file, int kind, std::string& error,
                    HeldPackage* held) {
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
  bool inFolder = !base.empty() && IsExistingFile(source);
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
      ReadFileUpTo(source, kMaxTextFile, data);  // empty when missing or too large
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
    if (error.empty() && !data.empty() && InfoSignatureAccepted(base, inFolder, name, data, error))
      success = WriteFileText(AgentDir() + name, data, 0, false);
    return success;
  }
  if (error.empty()) {
    success = true;
    // Opened once, writers denied: the token check, the verification and the
    // run all read this one file.
    HeldPackage local;
    HeldPackage& package = held ? *held : local;
    if (kind == kDownloadUpdate) package.Open(target);
    if (!TokenTestPasses(kind, target, package)) {
      success = false;
      std::string text = DescribeHttpErrorPage(target, "", source, "Bad Secret Token!", false);
      package.Close();
      DeleteFileW(WidePath(target).c_str());
      AppendLog("ERROR: " + text);
      AuErrorMsg(0, text);
    } else if (std::string why; !PublishedHashAccepted(kind, target, why)) {
      // Refused before anything is shut down for it (hashed while held, so it
      // is the file that would have run).
      success = false;
      package.Close();
      DeleteFileW(WidePath(target).c_str());
      AppendLog("ERROR: " + std::string(kind == kDownloadUpdate ? "update" : "inform") + " file refused: " + why);
      if (GetRequestConfirmationBeforeDownload())
        AuErrorMsg(0, "The downloaded file is not the one that was published.<P><P>" + why + "<P><P>" + source);
    } else if (kind == kDownloadUpdate) {
      std::string why;
      if (!UpdatePackageWhole(package, why)) {
        success = false;
        package.Close();
        DeleteFileW(WidePath(target).c_str());
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
