#include "update/stubau_win.h"


#include "dialogs/zmsgbox_win.h"
#include "net/inethttp_win.h"
#include "package/gfileinfo.h"
#include "paths/platform.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/zdebug.h"
#include "process/procstate_win.h"
#include "process/settings.h"
#include "process/settings_win.h"
#include "setup/files_win.h"
#include "update/audecide.h"

int64_t AutoUpdateTimerCount = -3;
int32_t QuitCountdown = -1;

namespace {
bool g_busy = false;
bool g_quitSetWhileBusy = false;
bool g_stopRequested = false;
bool g_forceRequest = false;
bool g_infoOnlyRequest = false;
bool g_probingEnabled = true;
int g_interactionMode = 0;
// Command 31 with value 2: the next tick is the user's own check.
bool g_userCheckPending = false;
int g_agentState = 0;
bool g_testMode = false;
std::string g_testModeUrl;
std::string g_testModeShutDownWait;
std::string g_testModeRetryMinute;
OnceCheckRetry g_onceRetry;
// A record of an interrupted update waits while its engine runs: looked at
// again every few seconds.
bool g_leftoversLooked = false;
uint32_t g_leftoversLookedAt = 0;
constexpr uint32_t kLeftoverLookMs = 5000;
uint32_t g_lastTestModeRequest = 0;
const char* const kTestModeKey = "HKEY_CURRENT_USER\\Software\\Vindraco\\Zelkan\\AutoUpdate";

// Holds the busy flag for one tick and gives it back on every way out, so
// that nothing can leave the agent deaf for the rest of its run.
class BusyGuard {
 public:
  BusyGuard() { g_busy = true; }
  ~BusyGuard() {
    g_agentState = 0;
    g_busy = false;
  }
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;
};

int32_t Low32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }

// The last check of this run (done or declined), whether or not the ORIGINAL
// file took it: an unwritable file must not make every tick a check.
int64_t g_lastCheck = 0;

void RecordCheck(int64_t now) {
  g_lastCheck = now;
  SetProbeSecondsLast(now);
}

int ShotTimeStatusNow() {
  ShotFacts f;
  f.probingEnabled = g_probingEnabled;
  f.forceRequest = g_forceRequest;
  f.testMode = g_testMode;
  f.probeInterval = GetProbeSecondsInterval();
  f.probeLast = GetProbeSecondsLast();
  f.probeFloor = g_lastCheck;
  f.retryAt = g_onceRetry.nextAt;
  f.now = NowSeconds();
  g_forceRequest = false;
  return ShotTimeStatus(f);
}

void AskBeforeCheck(int& status) {
  bool test = CheckTestMode(true);
  std::string base = test ? g_testModeUrl : OwnPackage().UpdateUrl();
  std::string text = AskBeforeCheckText(ReadAutoUpdateText("s22", ""), ReadAutoUpdateText("s23", ""),
                                        ReadAutoUpdateText("s24", ""), base, test, GetOriginalProgramName());
  if (!AuConfirmYesNo(1, text)) status = 0;
}

// Size of the offered file in the folder or on the server; -1 when unknown.
int64_t OfferedFileSize(std::string& where) {
  bool inform = GetAutoInform() == 1;
  std::string name = AgentDownloadName(inform ? GetNameOfInformFile() : GetNameOfUpdateFile());
  std::string base = g_testMode ? g_testModeUrl : GetDownloadURL_UPDATE();
  where = base + "\\" + name;
  if (name.empty() || base.empty()) return -1;
  if (IsExistingFile(where)) return FileSizeByName(where);
  std::string connError;
  if ((g_testMode && !IsWebBase(base)) || !InternetConnected(connError)) return -1;
  where = base + "/" + name;
  return HttpFileSize(where);
}

bool SizeTest() {
  int64_t expected = GetAutoInform() == 1 ? GetSizeOfInformFile() : GetSizeOfUpdateFile();
  std::string where;
  int64_t actual = OfferedFileSize(where);
  bool holds = SizeTestHolds(actual, expected);
  if (!holds) {
    AppendLog("  InfoSize=" + IntToStr(expected));
    AppendLog("  HttpSize=" + IntToStr(actual));
    AppendLog("  URL=" + where);
  }
  return holds;
}

bool GetOkToPerformAU(bool downloaded, int& status, std::string& reason, bool& offerAgain) {
  OfferFacts f;
  f.infoDownloaded = downloaded;
  f.versionOriginal = GetVersionOriginal();
  f.versionNew = GetVersionNew();
  f.newStamp = GetNewStamp();
  f.originalStamp = GetOriginalStamp();
  f.reAskDue = ReAskDue(NowSeconds(), GetReAskSecondsLast(), GetReAskSecondsInterval());
  f.userRequested = g_interactionMode == 1;
  f.validVersions = GetValidVersions();
  f.offerAgain = offerAgain = GetOfferAgain();
  // The size query may go to the network: only when it can decide anything.
  if (OfferNeedsSizeTest(f)) f.sizeOk = SizeTest();
  status = OfferStatus(f);
  reason = OfferReason(status);
  DebugLine(" GetOkToPerformAU=" + IntToStr(status));
  AppendLog("GetOkToPerformAU = " + IntToStr(status) + " - " + reason);
  return status == 6;
}

// One check; true when the INFO file's source answered (see InfoSourceAnswered).
bool PerformShot() {
  DebugLine(" Fire  " + LogTimeStamp(NowDateTime()));
  CheckTestMode(true);
  bool performed = false;
  g_agentState = 1;
  NotifyClient(40, 1);
  std::string error;
  bool ok = DownloadFileAU(OwnPackage().UpdateUrl(), InfoFilePath(), kDownloadInfo, error);
  bool answered = InfoSourceAnswered();
  NotifyClient(40, 2);
  RecordCheck(NowSeconds());
  int status = 0;
  std::string reason;
  bool offerAgain = false;
  bool offer = GetOkToPerformAU(ok, status, reason, offerAgain);
  // Two engines must not work on one installation: an offer waits for the
  // end of the one an ended run left running, and stays due.
  bool held = offer && ResolveInterruptedUpdate();
  if (held) AppendLog("Update held: the setup of an interrupted update is still running");
  if (offerAgain && !held && OfferAgainSpent(status)) SetOfferAgain(false);
  if (offer && !held) {
    DebugLine(" ==== PerformShot-1 ====");
    performed = true;
    SetReAskSecondsLast(NowSeconds());
    SetOriginalStamp(GetNewStamp());
    if (GetAutoInform() == 1) {
      PerformAutoInform();
    } else if (PerformAutoUpdate()) {
      ReStartAutoUpdateExe();
    }
    DebugLine(" ==== PerformShot-2 ====");
  }
  if (g_interactionMode != 1) return answered;
  PumpMessagesFor(1000);
  if (g_MainWindow) ShowWindow(g_MainWindow, SW_HIDE);
  if (performed) return answered;
  std::string connError;
  bool connected = InternetConnected(connError);
  DebugLine(" TestMode=" + BoolText(g_testMode) + " InternetConnected=" + BoolText(connected));
  if (!g_testMode && !connected) {
    std::string text = ReadAutoUpdateText("s2", "");
    if (!connError.empty()) text += "<P><P>" + connError;
    AuErrorMsg(0, text);
  } else if (!g_testMode && !error.empty()) {
    AuErrorMsg(0, error);
  } else {
    AuAttentionMsg(1, NothingToDoText(ReadAutoUpdateText("s21", ""), DiagnosticSwitch(), status));
  }
  return answered;
}

// Logs what the once-per-run check's schedule became after a check.
void NoteCheckEnd(bool onceCheck, bool answered) {
  bool hadTry = g_onceRetry.nextAt != 0;
  const int64_t minute = RetryMinuteSeconds(g_testMode, g_testModeRetryMinute);
  NoteCheckAnswer(g_onceRetry, onceCheck, answered, NowSeconds(), minute);
  if (g_onceRetry.nextAt != 0 && onceCheck)
    AppendLog("Check got no answer: tried again in " + IntToStr(g_onceRetry.nextAt - NowSeconds()) + " s");
  else if (hadTry && g_onceRetry.nextAt == 0)
    AppendLog("Check answered: no further tries in this run");
}

// At the first tick, and every few seconds while it must wait.
void LookAtLeftovers() {
  uint32_t now = GetTickCount();
  if (g_leftoversLooked && !(InterruptedUpdatePending() && uint32_t(now - g_leftoversLookedAt) >= kLeftoverLookMs))
    return;
  g_leftoversLooked = true;
  g_leftoversLookedAt = now;
  ResolveInterruptedUpdate();
}

bool JustDownloadInfoFile() {
  NotifyClient(40, 1);
  std::string error;
  bool result = DownloadFileAU(OwnPackage().UpdateUrl(), InfoFilePath(), kDownloadInfo, error);
  NotifyClient(40, 2);
  return result;
}

void TickBody() {
  if (g_infoOnlyRequest) {
    DebugLine("-------------- JustDownloadInfoFile ---------------");
    g_infoOnlyRequest = false;
    JustDownloadInfoFile();
    return;
  }
  SetMsgBoxFont(GetMsgBoxFontName(), GetMsgBoxFontSize(), GetMsgBoxCharSet());
  g_agentState = 0;
  LookAtLeftovers();
  // The mode of this tick, for its whole length: a request that arrives
  // during its questions is for the next tick.
  if (g_userCheckPending) {
    g_userCheckPending = false;
    g_interactionMode = 1;
  }
  if (g_interactionMode == 1) AutoUpdateTimerCount = 0;
  ++AutoUpdateTimerCount;
  DebugLine(" AutoUpdateTimerCount=" + IntToStr(AutoUpdateTimerCount));
  if (AutoUpdateTimerCount < 1) return;
  CheckTestMode(false);
  int status = ShotTimeStatusNow();
  DebugLine(" ShotTimeStatus=" + IntToStr(status));
  const bool onceCheck = status == 2;
  if (onceCheck) g_probingEnabled = false;
  // The user agreed to this run's check already: its tries again do not ask.
  const bool tryAgain = onceCheck && g_onceRetry.misses > 0;
  if (status >= 1 && !tryAgain && (g_interactionMode == 1 || ConfirmBeforeCheck())) {
    AskBeforeCheck(status);
    // A declined timed question counts as a check: it comes back after the
    // probe interval, not at the next tick.
    if (status == 0 && g_interactionMode != 1) {
      AppendLog("Check declined");
      RecordCheck(NowSeconds());
      // The user's answer ends the once-per-run check as a server's would.
      NoteCheckEnd(onceCheck, true);
    }
  }
  if (status >= 1) NoteCheckEnd(onceCheck, PerformShot());
}

// The whole agent stops: the main loop ends at the quit, every open box
// closes on it, and a download under way is cut off.
void RequestStop() {
  AppendLog("Stop requested");
  g_stopRequested = true;
  SetHttpAbort(true);
  PostQuitMessage(0);
}
}  // namespace

bool TestModeOn() { return g_testMode; }
const std::string& TestModeUrl() { return g_testModeUrl; }
const std::string& TestModeShutDownWait() { return g_testModeShutDownWait; }

void SetQuitCountdown(int32_t ticks) {
  QuitCountdown = ticks;
  g_quitSetWhileBusy = g_busy;
}

bool AgentStopRequested() { return g_stopRequested || QuitMessagePending(); }
int InteractionMode() { return g_interactionMode; }
void SetAgentState(int state) { g_agentState = state; }

void AuErrorMsg(intptr_t ownerCode, const std::string& text) {
  ErrorMsg(ownerCode, text, GetMsgBoxError(), GetMsgBoxCharSet(), GetMsgBoxBtnText());
}
void AuAttentionMsg(intptr_t ownerCode, const std::string& text) {
  AttentionMsg(ownerCode, text, GetMsgBoxAttention(), 0, GetMsgBoxCharSet(), GetMsgBoxBtnText());
}
bool AuConfirmYesNo(intptr_t ownerCode, const std::string& text) {
  return ConfirmYesNo(ownerCode, text, GetMsgBoxConfirm(), 0, GetMsgBoxCharSet(), GetMsgBoxBtnText());
}

bool CheckTestMode(bool force) {
  uint32_t now = GetTickCount();
  if (force || uint32_t(now - g_lastTestModeRequest) > 30000u) {
    std::string mode = ReadRegString(kTestModeKey, "TestMode", "0");
    std::string date = ReadRegString(kTestModeKey, "TestModeDate", "");
    g_testMode = mode == "1" && date == DateStampText(NowDateTime());
    g_testModeUrl = ReadRegString(kTestModeKey, "TestModeURL", "");
    g_testModeShutDownWait = g_testMode ? ReadRegString(kTestModeKey, "TestModeShutDownWait", "") : "";
    g_testModeRetryMinute = g_testMode ? ReadRegString(kTestModeKey, "TestModeRetryMinute", "") : "";
  }
  g_lastTestModeRequest = now;
  return g_testMode;
}

void AutoUpdateTimerTick() {
  if (g_stopRequested) return;
  // Counted also in the ticks that come while the agent is busy, from the
  // waits and boxes below, so that a stop can end them.
  if (QuitCountdownTick(QuitCountdown, g_busy, g_quitSetWhileBusy)) {
    RequestStop();
    return;
  }
  if (g_busy) return;
  BusyGuard busy;
  // Failures come back as values (the stub has no C++ exceptions), so the
  // tick always ends here and the next one runs normally.
  TickBody();
  // A user-requested check lasts exactly one tick, also when it was declined.
  if (g_interactionMode == 1) g_interactionMode = 0;
}

int32_t HandleAgentCommand(int32_t command, int32_t value) {
  switch (command) {
    case 4:
      return GetVersionOriginal();
    case 5:
      return GetVersionNew();
    case 7:
      return g_agentState;
    case 8:
      return Low32(GetProbeSecondsInterval());
    case 9:
      return Low32(GetReAskSecondsInterval());
    case 10:
      return Low32(GetProbeSecondsLast());
    case 11:
      return Low32(GetReAskSecondsLast());
    case 12:
      SetProbeSecondsInterval(WidenSeconds(value));
      return 0;
    case 13:
      SetReAskSecondsInterval(WidenSeconds(value));
      return 0;
    case 14:
      // Set on purpose: it replaces the run's own last check too.
      g_lastCheck = WidenSeconds(value);
      SetProbeSecondsLast(g_lastCheck);
      return 0;
    case 15:
      SetReAskSecondsLast(WidenSeconds(value));
      return 0;
    case 20:
    case 21:
    case 22:
    case 23:
    case 24:
    case 25:
      SetOverride(command - 20, uint8_t(value & 0xFF));
      return 0;
    case 30:
      SetQuitCountdown(value);
      return 0;
    case 31:
      g_forceRequest = true;
      if (AutoUpdateTimerCount < 1) AutoUpdateTimerCount = 1;
      if (value == 2) g_userCheckPending = true;
      return 0;
    case 32:
      g_infoOnlyRequest = true;
      return 0;
    default:
      return 0;
  }
}
