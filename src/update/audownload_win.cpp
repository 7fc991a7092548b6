// The agent's downloads: the INFO file into memory, the update and inform
// files into the agent folder, from a folder (test mode, drive or network
// base) or over HTTP, each checked before anything uses it.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "net/inethttp_win.h"
#include "package/cng_win.h"
#include "package/gfileinfo.h"
#include "package/signature.h"
#include "paths/widepath_win.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/zdebug.h"
#include "process/initext.h"
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

// Copies file to file in pieces, every write checked; a failed copy leaves
// nothing. A file that grows past maxSize (-1: no bound) is not copied on.
bool CopyWhole(const std::string& from, const std::string& to, int64_t maxSize, std::string& error) {
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
  int64_t copied = 0;
  bool tooLarge = false;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, buf.get(), 65536, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    copied += got;
    if (maxSize >= 0 && copied > maxSize) {
      ok = false;
      tooLarge = true;
      break;
    }
    DWORD put = 0;
    if (!WriteFile(out, buf.get(), got, &put, nullptr) || put != got) {
      ok = false;
      break;
    }
  }
  if (!ok)
    error = tooLarge ? "File larger than published (" + IntToStr(maxSize) + " bytes): " + from
                     : "Unable to copy " + from + ": " + LastErrorText();
  CloseHandle(in);
  CloseHandle(out);
  if (!ok) DeleteFileW(WidePath(to).c_str());
  return ok;
}

// The product token of the downloaded file against the agent's own; an
// update package is read through its held handle, an inform file from the
// bytes read once.
bool TokenTestPasses(int kind, const HeldPackage& package, const std::string& informBytes) {
  std::string own = OwnPackage().PackageToken(false);
  if (kind == kDownloadUpdate) return TokensMatch(package.Info().PackageToken(false), own);
  return TokensMatch(DecodeInformText(informBytes).tokenField, own);
}

bool KeyPinned() { return !OwnPackage().UpdatePublicKey().empty(); }

// The key that signed this check's INFO file ("" when none did).
std::string g_checkSigner;

// With a key, the update must carry this agent's trust: the agent copy that
// its setup writes is cut from its own header, and an update that brought no
// key, or not the one that signed this release, would leave an agent that
// trusts someone else, or no one. The next key may come (or the old one go)
// this way; the INFO and agent names must stay, or the copy would not be
// this agent any more. A new update_url is the publisher's to choose: the
// package is pinned by the signed INFO file.
bool UpdateKeepsTrust(const TGFileInfo& update, std::string& why) {
  const TGFileInfo& own = OwnPackage();
  if (!KeyPinned()) return true;
  if (!UpdateKeepsKeys(own.UpdatePublicKey(), update.UpdatePublicKey(), g_checkSigner)) {
    why = update.UpdatePublicKey().empty()
              ? "the update package carries no publisher key: it would leave an agent that takes unsigned updates"
              : "the update package does not carry the key that signed this release";
    return false;
  }
  const struct {
    const char* what;
    std::string theirs, ours;
  } names[] = {
      {"INFO file name", update.InfoFileName(), own.InfoFileName()},
      {"agent name", update.AgentExeName(), own.AgentExeName()},
  };
  for (const auto& n : names) {
    if (SameText(n.theirs, n.ours)) continue;
    why = std::string("the update package carries another ") + n.what + " than this agent (\"" + n.theirs +
          "\" instead of \"" + n.ours + "\")";
    return false;
  }
  return true;
}

// An update package must be whole before anything is shut down for it.
bool UpdatePackageWhole(HeldPackage& package, std::string& why) {
  if (!UpdateKeepsTrust(package.Info(), why)) return false;
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
  HttpLimits limits;
  limits.fresh = true;
  limits.maxSize = kMaxSignatureFile;
  HttpDownload(kHttpShowNothing, url, "", text, nullptr, error, limits);
  if (error.empty() && !text.empty()) error = DescribeHttpErrorPage("", text, url, "", false);
  return error.empty() && int64_t(text.size()) <= kMaxSignatureFile;
}

void RefuseInfo(const std::string& reason, std::string& error) {
  error = "The INFO file was refused: " + reason;
  DebugLinePid(" DownloadFileAU: INFO file refused, " + reason);
  AppendLog("ERROR: INFO file refused: " + reason);
}

// The highest serial seen per key in this run: it holds even when the
// ORIGINAL file cannot record it.
struct SeenSerial {
  std::string fingerprint;
  int64_t serial;
};
std::vector<SeenSerial> g_seenSerials;

bool HighestSerial(const std::string& fingerprint, int64_t& serial) {
  bool known = GetAcceptedSerial(fingerprint, serial);
  for (const SeenSerial& s : g_seenSerials)
    if (s.fingerprint == fingerprint && (!known || s.serial > serial)) {
      serial = s.serial;
      known = true;
    }
  return known;
}

void RecordSerial(const std::string& fingerprint, int64_t serial) {
  bool seen = false;
  for (SeenSerial& s : g_seenSerials)
    if (s.fingerprint == fingerprint) {
      s.serial = std::max(s.serial, serial);
      seen = true;
    }
  if (!seen) g_seenSerials.push_back({fingerprint, serial});
  int64_t stored = 0;
  if (GetAcceptedSerial(fingerprint, stored) && stored >= serial) return;
  if (!SetAcceptedSerial(fingerprint, serial)) AppendLog("ERROR: the INFO serial could not be recorded");
}

int64_t TodayUtc() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  uint64_t t = uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
  // 100 ns since 1601 -> days since 1970
  return int64_t(t / 10000000ULL / 86400ULL) - 134774;
}

// An agent with a publisher key takes only an INFO file signed with one of
// its keys, no older than the last one it accepted from that key and not
// past its expiry; the bytes are checked in memory, before they ever reach
// the disk, and they are what every decision of the check reads.
bool InfoTrusted(const std::string& base, bool fromFolder, const std::string& name, const std::string& data,
                  std::string& error) {
  std::string key = OwnPackage().UpdatePublicKey();
  if (key.empty()) return true;
  std::string sig;
  bool fetched = FetchSignature(base, fromFolder, name, sig);
  int index = -1;
  InfoVerdict v = CheckInfoSignature(key, data, fetched, sig, CngVerifyP256, &index);
  if (!InfoAccepted(v)) {
    RefuseInfo(InfoVerdictText(v), error);
    return false;
  }
  std::vector<std::string> points;
  ParsePublisherKeys(key, points);
  std::string fingerprint = KeyFingerprint(points[size_t(index)]);
  g_checkSigner = points[size_t(index)];
  IniText info = IniText::Parse(data);
  FreshFacts f;
  f.signedInfo = true;
  f.serialText = info.Get(kInfoTrustSection, kInfoSerialKey);
  f.expiresText = info.Get(kInfoTrustSection, kInfoExpiresKey);
  f.serialRecorded = HighestSerial(fingerprint, f.recordedSerial);
  f.todayUtc = TodayUtc();
  FreshVerdict fv = CheckInfoFreshness(f);
  if (!FreshAccepted(fv)) {
    std::string reason = FreshVerdictText(fv);
    if (fv == FreshVerdict::SerialLower)
      reason += " (" + Trim(f.serialText) + " after " + IntToStr(f.recordedSerial) + ")";
    if (fv == FreshVerdict::Expired) reason += " (last day " + Trim(f.expiresText) + ", UTC)";
    RefuseInfo(reason, error);
    // A management tool sees that this agent is kept from its updates.
    NotifyClient(45, fv == FreshVerdict::Expired                                          ? 2
                     : fv == FreshVerdict::SerialLower || fv == FreshVerdict::SerialMissing ? 1
                                                                                           : 3);
    return false;
  }
  int64_t serial = 0;
  if (ParseInfoSerial(f.serialText, serial)) RecordSerial(fingerprint, serial);
  DebugLinePid(" DownloadFileAU: INFO file signature valid (key " + IntToStr(index + 1) + ")");
  return true;
}

// The update or inform file against the SHA-256 that the INFO file publishes;
// with a publisher key, a file without a published hash is refused. An
// inform file is hashed from its bytes in memory.
bool PublishedHashAccepted(int kind, const std::string& target, const std::string& informBytes, std::string& why) {
  bool keyPinned = !OwnPackage().UpdatePublicKey().empty();
  std::string published = kind == kDownloadUpdate ? GetSha256OfUpdateFile() : GetSha256OfInformFile();
  std::string digest, hashError;
  bool hashed = false;
  if (HashNeeded(keyPinned, published)) {
    if (kind == kDownloadInform) {
      hashed = CngSha256(informBytes, digest);
      if (!hashed) hashError = "CNG is not available";
    } else {
      hashed = CngSha256File(target, digest, hashError);
    }
  }
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

AgentFileNames AgentOwnFileNames() {
  AgentFileNames own;
  own.agentExe = OwnPackage().AgentExeName();
  own.infoFile = ExtractFileName(InfoFilePath());
  own.originalFile = ExtractFileName(OriginalFilePath());
  own.logFile = ExtractFileName(LogFilePath());
  return own;
}

std::string AgentDownloadName(const std::string& nameFromInfo) {
  return SafeDownloadName(nameFromInfo, AgentOwnFileNames());
}

namespace {
bool g_infoAnswered = false;
}  // namespace

bool InfoSourceAnswered() { return g_infoAnswered; }

bool DownloadFileAU(const std::string& baseIn, const std::string& file, int kind, std::string& error,
                    HeldPackage* held, std::string* informBytes) {
  bool success = false;
  std::string data, target;
  error.clear();
  if (kind == kDownloadInfo) g_infoAnswered = false;
  if (informBytes) informBytes->clear();
  // Every download starts unaborted: an earlier close stopped the download
  // that ran then, and must not make this one's failure read "aborted". A
  // stop stays in force.
  SetHttpAbort(AgentStopRequested());
  std::string name = kind == kDownloadInfo ? ExtractFileName(file) : AgentDownloadName(file);
  if (name.empty()) {
    // Only a plain name of a file that is not the agent's own may be fetched.
    DebugLinePid(" DownloadFileAU: refused file name >" + file + "<");
    AppendLog("ERROR: refused file name: " + file);
    error = "Refused file name: " + file;
    return false;
  }
  bool test = TestModeOn();
  SetHttpSameSchemeRedirects(KeyPinned());
  std::string base = test ? TestModeUrl() : baseIn;
  int64_t published = kind == kDownloadUpdate   ? GetSizeOfUpdateFile()
                      : kind == kDownloadInform ? GetSizeOfInformFile()
                                                : -1;
  if (kind == kDownloadInfo) {
    ForgetInfoBytes();  // this check decides from what it fetches, or from nothing
    g_checkSigner.clear();
  }
  std::string source = base + "\\" + name;
  const bool web = IsWebBase(base);
  bool inFolder = !base.empty() && !web && IsExistingFile(source);
  // A folder base that exists has answered, with the file or without it; a
  // missing one (a share not reachable yet) has not.
  if (kind == kDownloadInfo && !base.empty() && !web) g_infoAnswered = IsExistingFolder(base);
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
      if (CopyWhole(source, target, published > 0 ? published : -1, error) && show) StepFolderCopyProgress();
    }
  } else if ((!test || web) && !base.empty() && InternetConnected(connError)) {
    PumpMessagesFor(500);
    source = base + "/" + name;
    if (kind != kDownloadInfo) target = AgentDir() + name;
    uintptr_t owner = InteractionMode() == 1 ? reinterpret_cast<uintptr_t>(g_MainWindow) : kHttpShowNothing;
    HttpLimits limits;
    limits.fresh = kind == kDownloadInfo;
    // A file larger than published is not the one that was published: it
    // never gets the chance to fill the disk.
    if (published > 0) limits.maxSize = published;
    HttpDownload(owner, source, target, data, UpdateProgressBars, error, limits);
    if (kind == kDownloadInfo) g_infoAnswered = HttpLastAnswered();
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
    if (error.empty() && !data.empty() && InfoTrusted(base, inFolder, name, data, error)) {
      AcceptInfoBytes(data);
      // The file is the record of what was accepted (and what the update's
      // engine is pointed to); the agent never reads it back.
      success = WriteFileText(AgentDir() + name, data, 0, false);
      if (!success) AppendLog("ERROR: the INFO file could not be written");
    }
    return success;
  }
  if (error.empty()) {
    success = true;
    // Opened once, writers denied: the token check, the verification and the
    // run all read this one file.
    HeldPackage local;
    HeldPackage& package = held ? *held : local;
    if (kind == kDownloadUpdate) package.Open(target);
    // An inform file is read once; every check and the window see these bytes.
    std::string inform;
    if (kind == kDownloadInform && !ReadFileUpTo(target, kMaxTextFile, inform)) inform.clear();
    if (!TokenTestPasses(kind, package, inform)) {
      success = false;
      std::string text = DescribeHttpErrorPage(target, "", source, "Bad Secret Token!", false);
      package.Close();
      DeleteFileW(WidePath(target).c_str());
      AppendLog("ERROR: " + text);
      AuErrorMsg(0, text);
    } else if (std::string why; !PublishedHashAccepted(kind, target, inform, why)) {
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
    } else if (informBytes) {
      *informBytes = inform;
    }
  } else {
    AppendLog("ERROR: download failed: " + error);
    if (source.size() > 2 && GetRequestConfirmationBeforeDownload()) {
      std::string text = DownloadFailureText(HttpAborted(), source, ReadAutoUpdateText("s3", "File Download Aborted!"),
                                             ReadAutoUpdateText("s4", "File not Found!"),
                                             ReadAutoUpdateText("s5", "Unable to Download File!"));
      AppendLog("ATTENTION: " + text);
      AuAttentionMsg(0, text);
    }
  }
  return success;
}
