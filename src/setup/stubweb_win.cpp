// The web branch of the setup: take the real setup from beside the stub or
// download it, check that it belongs to this stub, then run it.
#include <memory>

#include "dialogs/zmsgbox_win.h"
#include "net/inethttp_win.h"
#include "package/cng_win.h"
#include "package/gfileinfo.h"
#include "package/signature.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/widepath_win.h"
#include "setup/files_win.h"
#include "setup/heldpackage_win.h"
#include "setup/setupflow.h"
#include "setup/stubsetup_win.h"
#include "process/ownfile_win.h"
#include "process/procstate_win.h"
#include "paths/zdebug.h"

namespace {
// The stub itself, marked as an update agent, for the installation to keep.
void WriteAgentCopyOfStub(const std::string& agentName) {
  std::string bytes;
  if (!ReadWholeHandle(OwnFileHandle(), bytes)) return;
  if (bytes.size() >= 0x100) {
    uint32_t l = uint8_t(bytes[0xFC]) | (uint8_t(bytes[0xFD]) << 8) | (uint8_t(bytes[0xFE]) << 16) |
                 (uint32_t(uint8_t(bytes[0xFF])) << 24);
    if (l < bytes.size() && bytes.size() - l < 10000) bytes.resize(l);
  }
  if (bytes.size() > 5) bytes[bytes.size() - 5] = 1;
  std::string folder = GetSetupFolder();
  if (folder.empty()) return;  // never beside whatever the current folder is
  WriteFileText(NormalizeDirSlash(folder, true) + agentName, bytes, HandleDosTime(OwnFileHandle()), false);
}

// The downloaded setup goes when the branch ends, however it ends.
struct DeleteWhenDone {
  std::string path;
  bool on = false;
  ~DeleteWhenDone() {
    if (on) DeleteFileW(WidePath(path).c_str());
  }
};

// A stub built with the setup's SHA-256 runs only that very file; without
// CNG it cannot tell, so it runs nothing.
bool SetupHashAccepted(const std::string& pinned, const std::string& setupPath) {
  if (pinned.empty()) return true;
  std::string digest, error;
  bool hashed = CngSha256File(setupPath, digest, error);
  HashVerdict v = CheckPublishedHash(true, pinned, hashed, digest);
  DebugLinePid(std::string(" WebDownloadSetup: ") + HashVerdictText(v) + (error.empty() ? "" : " (" + error + ")"));
  return HashAccepted(v);
}
}  // namespace

void WebDownloadSetup(const std::string& setupFolder, const std::string& base, const std::string& name) {
  TGFileInfo& own = OwnPackage();
  std::string error;
  int failure = kExitSetupFailed;  // the exit code when error is set
  DeleteWhenDone downloaded;
  bool& deleteAfter = downloaded.on;
  bool hidden = SwitchPresent("/hide") || own.Silent();
  std::string buttons = own.GetLangText("BtnText", kDefaultButtonTexts);
  int charset = own.Charset();
  std::string setupPath = NormalizeDirSlash(base, true) + name;
  std::string url = base + "/" + name;
  if (!IsExistingFile(setupPath)) {
    SetStatusText(g_MainWindow, own.GetLangText("s10", "Downloading File..."), own.FontName(), charset,
                  own.FontSize());
    if (own.ConfirmDownload() && !hidden) {
      std::string msg = own.GetLangText(
          "s11",
          "<b>INTERNET DOWNLOAD</b><p><p>Zelkan will download the Setup File from the Internet...<p>Please make sure "
          "your Internet connection is properly set.<p><p>Continue with Setup?<p><P>Size: <SIZE> MB<P>");
      msg = ReplaceText(msg, "<SIZE>", FormatMegabytes(double(StrToInt64Def(own.WebSize(), 0))));
      if (!ConfirmYesNo(0, msg, own.GetLangText("Confirm", "Confirm"), 0, charset, buttons)) error = "!";
    }
    std::string connError;
    if (!InternetConnected(connError)) {
      error = own.GetLangText("s12", "No valid Internet Connection.<p>Can not Download File!");
      if (!connError.empty()) error += "<P><P>" + connError;
    }
    SetHttpAbort(false);
    setupPath = TempDir(true) + name;
    downloaded.path = setupPath;
    if (error.empty()) {
      std::string content;
      HttpDownload(hidden ? 0 : reinterpret_cast<intptr_t>(g_MainWindow), url, setupPath, content,
                   UpdateProgressBars, error);
      // A close request of the window stopped it: the user cancelled.
      if (!error.empty() && HttpAborted()) failure = kExitUserCancelled;
    }
    if (error.empty()) deleteAfter = true;
    PumpMessagesFor(300);
    UpdateProgressBars(0, 0, 10, 0, 1, "");
    PumpMessagesFor(700);
  }
  {
    // Held from the token check to the end of the extraction: the setup that
    // was checked is the one that runs, and nobody can swap it meanwhile.
    HeldPackage held;
    if (error.empty()) {
      held.Open(setupPath);
      auto info = std::make_unique<TGFileInfo>(held.Info());
      if (!TokensMatch(info->WebToken(false), own.WebToken(false))) {
        error = DescribeHttpErrorPage(setupPath, "", url, "Bad Secret Token!", false);
        // A server's error page saved as the setup is a failed download, not a foreign package.
        failure = error == "Bad Secret Token!" ? kExitPackageDamaged : kExitSetupFailed;
      }
    }
    // Hashed while held: nobody can write, rename or delete the file meanwhile.
    if (error.empty() && !SetupHashAccepted(own.WebSha256(), setupPath)) {
      error = DescribeHttpErrorPage(setupPath, "", url, "Bad Secret Token!", false);
      failure = kExitPackageDamaged;
    }
    EZLibError zlibError;
    if (error.empty()) RunSetup(setupFolder, held, "", CommandTail(), !hidden, zlibError);
    if (zlibError) {
      error = DecompressionErrorText(zlibError);
      failure = kExitPackageDamaged;
    }
  }
  if (deleteAfter) DeleteFileW(WidePath(setupPath).c_str());
  deleteAfter = false;
  if (!error.empty()) g_ExitCode = error == "!" ? kExitUserCancelled : failure;
  // Under hidden operation the box itself only writes its text to the debug channel.
  if (!error.empty() && error != "!") ErrorMsg(0, error, own.GetLangText("Error", "Error"), charset, buttons);
}

void WebSetupBranch(const std::string& agentName) {
  TGFileInfo& own = OwnPackage();
  std::string base = own.WebBase();
  if (!agentName.empty()) WriteAgentCopyOfStub(agentName);
  std::string name = own.WebFileName();
  if (!own.WebAlwaysDownload() && IsExistingFile(OwnFolder(true) + name)) base = OwnFolder(false);
  WebDownloadSetup(GetSetupFolder(), base, name);
}
