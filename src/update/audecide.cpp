#include "update/audecide.h"

#include "paths/utils.h"
#include "process/settings.h"

int64_t SaturatingSum(int64_t last, int64_t interval) {
  if (interval > 0 && last > INT64_MAX - interval) return INT64_MAX;
  if (interval < 0 && last < INT64_MIN - interval) return INT64_MIN;
  return last + interval;
}

int ShotTimeStatus(const ShotFacts& f) {
  int result = 0;
  if (f.probingEnabled || f.forceRequest) {
    int64_t interval = f.testMode ? 5 : f.probeInterval;
    int64_t last = f.probeLast > f.probeFloor ? f.probeLast : f.probeFloor;
    if (f.now >= SaturatingSum(last, interval)) result = 1;
    if (f.probeInterval == 0 && result == 1) result = 2;
    if (f.probeInterval == -1) result = 0;
    if (f.forceRequest) result = 1;
  }
  // The once-per-run check is spent, but it got no answer yet.
  if (result == 0 && f.probeInterval == 0 && !f.probingEnabled && f.retryAt > 0 && f.now >= f.retryAt) result = 2;
  return result;
}

int64_t OnceRetryDelaySeconds(int misses, int64_t minuteSeconds) {
  static const int64_t kMinutes[] = {1, 5, 15, 60};
  int i = misses < 1 ? 0 : misses > 4 ? 3 : misses - 1;
  return kMinutes[i] * minuteSeconds;
}

void NoteCheckAnswer(OnceCheckRetry& r, bool onceCheck, bool answered, int64_t now, int64_t minuteSeconds) {
  if (answered) {
    r.answered = true;
    r.nextAt = 0;
    return;
  }
  if (!onceCheck || r.answered) return;
  ++r.misses;
  r.nextAt = SaturatingSum(now, OnceRetryDelaySeconds(r.misses, minuteSeconds));
}

int64_t RetryMinuteSeconds(bool testMode, const std::string& testMinuteSeconds) {
  int64_t seconds = 0;
  if (testMode && TryStrToInt64(testMinuteSeconds, seconds) && seconds > 0 && seconds < 60) return seconds;
  return 60;
}

bool ReAskDue(int64_t now, int64_t reAskLast, int64_t reAskInterval) {
  return reAskInterval > 0 && now > SaturatingSum(reAskLast, reAskInterval);
}

bool SizeTestHolds(int64_t actual, int64_t expected) {
  if (actual < 0) return false;
  int64_t d = actual - expected;
  return d > -100 && d < 100;
}

namespace {
// Status reached before the size test (at most 5).
int StatusBeforeSize(const OfferFacts& f) {
  int status = f.infoDownloaded ? 1 : 0;
  if (status == 1 && f.versionOriginal > 0) status = 2;
  if (status == 2 && (f.newStamp != f.originalStamp || f.reAskDue || f.userRequested || f.offerAgain)) status = 3;
  if (status == 3 && f.versionNew > f.versionOriginal) status = 4;
  if (status == 4 && VersionInValidList(f.validVersions, f.versionOriginal)) status = 5;
  return status;
}
}  // namespace

int OfferStatus(const OfferFacts& f) {
  int status = StatusBeforeSize(f);
  if (status == 5 && f.sizeOk) status = 6;
  return status;
}

bool OfferNeedsSizeTest(const OfferFacts& f) { return StatusBeforeSize(f) == 5; }

bool OfferAgainSpent(int status) { return status == 3 || status == 4 || status == 6; }

bool IsWebBase(const std::string& base) {
  std::string b = Trim(base);
  return StartsWith("http://", b, true) || StartsWith("https://", b, true);
}

std::string OfferReason(int status) {
  static const char* const kReasons =
      "|Error downloading .INFO file|Error reading .ORIGINAL file|Too early for retesting|New version is not higher "
      "then old version|\"Valid for version\" mismatch|Download file size error|OK|";
  return ListItem(kReasons, status);
}

std::string AskBeforeCheckText(const std::string& s22, const std::string& s23, const std::string& s24,
                               const std::string& base, bool testMode, const std::string& programName) {
  bool drivePath = base.size() < 2 || base[1] == ':';
  std::string text = s22 + (drivePath ? "" : s23) + s24;
  if (testMode) text += "<P><P><T><B>PLEASE NOTE</B> - You are now running in <B>Test Mode</B>!";
  return ReplaceText(text, "PROG_NAME", programName);
}

std::string AnnouncementText(const AnnounceTexts& t, bool installConfirmation, bool downloadForced,
                             const std::string& programName) {
  std::string second = installConfirmation ? t.s13 : t.s12;
  if (downloadForced) second = installConfirmation ? t.s19 : t.s18;
  return ReplaceText(t.s11 + second, "PROG_NAME", programName);
}

std::string InstallQuestionText(const std::string& s14, const std::string& s20, bool installForced,
                                const std::string& programName) {
  return ReplaceText(installForced ? s20 : s14, "PROG_NAME", programName);
}

std::string DownloadFailureText(bool aborted, const std::string& source, const std::string& s3,
                                const std::string& s4, const std::string& s5) {
  if (aborted) return s3;
  bool local = (source.size() >= 2 && source[1] == ':') || StartsWith("\\\\", source, false);
  return (local ? s4 : s5) + "<P><P>" + source;
}

std::string NothingToDoText(const std::string& s21, bool diagnostic, int status) {
  if (!diagnostic) return s21;
  return s21 + "<P><P>(" + IntToStr(status) + " - " + OfferReason(status) + ")   ";
}

std::string SafeDownloadName(const std::string& nameFromInfo, const AgentFileNames& own) {
  std::string name = Trim(ExtractFileName(Trim(nameFromInfo)));
  if (name.empty() || name == "." || name == "..") return "";
  if (name.find_first_of(":*?\"<>|") != std::string::npos) return "";
  // Trailing dots and blanks vanish in Windows names: "Agent.exe." is Agent.exe.
  std::string canonical = name;
  while (!canonical.empty() && (canonical.back() == '.' || canonical.back() == ' ')) canonical.pop_back();
  if (canonical.empty()) return "";
  const std::string agentExe = ExtractFileName(own.agentExe);
  const std::string mine[] = {agentExe, agentExe.empty() ? "" : "X_" + agentExe, ExtractFileName(own.infoFile),
                              ExtractFileName(own.originalFile), ExtractFileName(own.logFile)};
  for (const std::string& m : mine)
    if (!m.empty() && SameTextTrim(canonical, m)) return "";
  return name;
}

ShutDownKind ParseShutDownMethod(const std::string& method) {
  if (method == "Issue a Message Box") return ShutDownKind::AskToClose;
  if (method == "Using WM_CLOSE") return ShutDownKind::WmClose;
  if (method == "Using WM_QUIT") return ShutDownKind::WmQuit;
  if (method == "Using Terminate Process") return ShutDownKind::Terminate;
  if (method == "Don't Shut Down") return ShutDownKind::DontShutDown;
  return ShutDownKind::WaitOnly;
}

uint64_t ShutDownWaitMs(bool testMode, const std::string& testWaitSeconds) {
  int64_t seconds = kShutDownWaitSeconds;
  int64_t test = 0;
  if (testMode && TryStrToInt64(testWaitSeconds, test) && test > 0 && test < seconds) seconds = test;
  return uint64_t(seconds) * 1000;
}

bool IsSetupFolderName(const std::string& name) {
  // SETUP_<n> or SETUP_<n>_<k>, digits only: the names the setup flow makes.
  if (name.size() <= 6 || !StartsWith("SETUP_", name, true)) return false;
  size_t i = 6;
  for (int part = 0; part < 2; ++part) {
    size_t start = i;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9') ++i;
    if (i == start || i - start > 10) return false;
    if (i == name.size()) return true;
    if (part == 1 || name[i] != '_') return false;
    ++i;
  }
  return false;
}

LeftoverPlan PlanLeftovers(const LeftoverFacts& f) {
  LeftoverPlan plan;
  if (f.setupFolderInUse) {
    plan.wait = true;
    return plan;
  }
  const UpdateMarker& m = f.marker;
  std::string package = Trim(m.package);
  if (!package.empty()) {
    if (SafeDownloadName(package, f.own) == package && !f.agentDir.empty())
      plan.packagePath = f.agentDir + package;
    else
      plan.refused.push_back("package \"" + m.package + "\"");
  }
  std::string folder = Trim(m.setupFolder);
  if (!folder.empty()) {
    if (IsSetupFolderName(folder) && !f.tempDir.empty())
      plan.setupFolder = f.tempDir + folder;
    else
      plan.refused.push_back("setup folder \"" + m.setupFolder + "\"");
  }
  // A version already recorded was installed: the agent was ended after the
  // engine had finished.
  plan.offerAgain = m.version <= 0 || f.versionOriginal < m.version;
  return plan;
}

bool QuitCountdownTick(int32_t& countdown, bool busy, bool setWhileBusy) {
  if (busy && !setWhileBusy) return false;
  if (countdown == 0) return true;
  if (countdown > 0) --countdown;
  return false;
}

std::string RestartAgentCommandLine(const std::string& agentDir, const std::string& agentExeName,
                                    const std::string& overrideList) {
  return QuoteIfBlank(NormalizeDirSlash(agentDir, true) + agentExeName) + " /_ZZ=99 /WAIT=10 /TRANSIENT=" +
         overrideList;
}

std::vector<std::string> RestartCandidates(const std::string& program, const std::string& installFolder) {
  std::string p = Trim(program);
  if (p.empty()) return {};
  bool full = (p.size() >= 3 && p[1] == ':' && (p[2] == '\\' || p[2] == '/')) || p.compare(0, 2, "\\\\") == 0;
  if (full) return {p};
  std::vector<std::string> out;
  if (Trim(installFolder).empty()) return out;
  std::string base = NormalizeDirSlash(Trim(installFolder), true) + p;
  out.push_back(base);
  std::string name = ExtractFileName(base);
  if (name.find('.') == std::string::npos) out.push_back(base + ".exe");
  return out;
}
