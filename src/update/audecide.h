// The agent's decisions as plain functions of facts: whether a check is due,
// whether the INFO file offers something, which texts the dialogs show, which
// file names a download may use and how the program is shut down. The Win32
// side only gathers the facts and carries the answers out.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// ---- is a check due? ----
struct ShotFacts {
  bool probingEnabled = true;
  bool forceRequest = false;
  bool testMode = false;
  int64_t probeInterval = 0;  // ProbeSecondsInterval as stored
  int64_t probeLast = 0;      // ProbeSecondsLast
  // The last check of this run, kept in memory: a check counts even when the
  // ORIGINAL file could not record it (read-only, locked).
  int64_t probeFloor = 0;
  // When the once-per-run check that got no answer is tried again (0: it
  // is not); see OnceCheckRetry.
  int64_t retryAt = 0;
  int64_t now = 0;            // NowSeconds
};
// 0 = not due, 1 = due, 2 = due and it is the once-per-run check (or one of
// its tries again).
int ShotTimeStatus(const ShotFacts& f);

// ---- trying the once-per-run check again ----
// At logon the network is often not up yet: a once-per-run check that got
// no answer (no connection, nothing heard from the server) is tried again
// after 1, 5, 15 and 60 minutes, then every 60 minutes. Once any check of
// the run got an answer (an INFO file accepted or refused, an error page),
// the run checks no more.
struct OnceCheckRetry {
  int misses = 0;       // unanswered tries of the once-per-run check
  bool answered = false;
  int64_t nextAt = 0;   // 0: no try pending
};
// Delay after the n-th unanswered try (n >= 1); a "minute" lasts
// minuteSeconds (60, shorter only in the test mode).
int64_t OnceRetryDelaySeconds(int misses, int64_t minuteSeconds);
// Records the end of a check: onceCheck for the once-per-run check and its
// tries again (a forced check that got no answer changes nothing).
void NoteCheckAnswer(OnceCheckRetry& r, bool onceCheck, bool answered, int64_t now, int64_t minuteSeconds);
// The minute of that schedule in seconds: 60; in the agent's test mode a
// TestModeRetryMinute (seconds, text) from 1 to 59 shortens it.
int64_t RetryMinuteSeconds(bool testMode, const std::string& testMinuteSeconds);

// last + interval, held at the ends of the range instead of wrapping round
// (INI values can be anything).
int64_t SaturatingSum(int64_t last, int64_t interval);

// ---- is there something to offer? ----
// The re-ask time has come: only with a positive interval.
bool ReAskDue(int64_t now, int64_t reAskLast, int64_t reAskInterval);
// Size of the file on the server (or in the folder) against the published
// size. An unknown size (-1) never passes.
bool SizeTestHolds(int64_t actual, int64_t expected);

struct OfferFacts {
  bool infoDownloaded = false;
  int32_t versionOriginal = 0;
  int32_t versionNew = 0;
  int32_t newStamp = 0;
  int32_t originalStamp = 0;
  bool reAskDue = false;
  bool userRequested = false;  // interaction mode 1
  // An update that an ended run left unfinished is offered once more, as if
  // its stamp were new (see PlanLeftovers).
  bool offerAgain = false;
  std::string validVersions;
  bool sizeOk = false;  // evaluated only when every earlier test passed
};
// The status 0..6 of the decision; 6 means "offer it".
int OfferStatus(const OfferFacts& f);
// Reaches the size test only when everything before it passed, so callers
// can skip the (network) size query otherwise.
bool OfferNeedsSizeTest(const OfferFacts& f);
std::string OfferReason(int status);
// The offer of an interrupted update is used up by a decision that offered
// it or found nothing to offer for this installation; one that failed
// before (no INFO file, the size on the server) keeps it for the next check.
bool OfferAgainSpent(int status);

// A base (update_url, DownloadURL_UPDATE, TestModeURL) fetched over HTTP
// rather than read from a folder.
bool IsWebBase(const std::string& base);

// ---- dialog texts ----
// s22 + s23 + s24 (+ the test-mode note); s23 is left out for a drive-path base.
std::string AskBeforeCheckText(const std::string& s22, const std::string& s23, const std::string& s24,
                               const std::string& base, bool testMode, const std::string& programName);
struct AnnounceTexts {
  std::string s11, s12, s13, s18, s19;
};
std::string AnnouncementText(const AnnounceTexts& t, bool installConfirmation, bool downloadForced,
                             const std::string& programName);
std::string InstallQuestionText(const std::string& s14, const std::string& s20, bool installForced,
                                const std::string& programName);
// The attention text of a failed update or inform download.
std::string DownloadFailureText(bool aborted, const std::string& source, const std::string& s3,
                                const std::string& s4, const std::string& s5);
// "<P><P>(status - reason)   " appended to s21 with the diagnostic switch on.
std::string NothingToDoText(const std::string& s21, bool diagnostic, int status);

// ---- file names from the INFO file ----
struct AgentFileNames {
  std::string agentExe;  // AgentExeName
  std::string infoFile;  // file-name part of InfoFileName
  std::string originalFile;
  std::string logFile;   // file name of the log
};
// The name an update or inform file is stored under in the agent folder:
// the file-name part only; empty when that is unusable (empty, ".", "..",
// ":" or wildcards) or names one of the agent's own files.
std::string SafeDownloadName(const std::string& nameFromInfo, const AgentFileNames& own);

// ---- shutting the program down ----
enum class ShutDownKind { AskToClose, WmClose, WmQuit, Terminate, DontShutDown, WaitOnly };
ShutDownKind ParseShutDownMethod(const std::string& method);  // exact, case-sensitive
// How long the agent waits for the program to end, its requests to close it
// included, before it abandons the update: a program that refuses to close
// must not hold the agent for good.
constexpr int64_t kShutDownWaitSeconds = 5 * 60;
// That wait in milliseconds; in the agent's test mode a positive
// TestModeShutDownWait (seconds) shortens it, never lengthens it.
uint64_t ShutDownWaitMs(bool testMode, const std::string& testWaitSeconds);

// ---- an update that an ended run left unfinished ----
// Before the program is shut down for an update, the agent records what the
// run is about to leave (the ORIGINAL file's UpdateInProgress section) and
// removes the record when the update ends. A run ended in between (logoff,
// power, the task manager) leaves the record; the next agent removes what
// it names, and offers the update again unless its version was recorded.
struct UpdateMarker {
  int32_t version = 0;      // VersionNew of the update
  std::string package;      // file name of the package in the agent folder
  std::string setupFolder;  // name of the SETUP_n folder in the temporary folder
};
struct LeftoverFacts {
  UpdateMarker marker;
  std::string agentDir;  // with its trailing backslash
  std::string tempDir;   // with its trailing backslash
  AgentFileNames own;
  int32_t versionOriginal = 0;
  // A program still runs from that setup folder: the engine of that run, at
  // work. Its files must not go from under it.
  bool setupFolderInUse = false;
};
struct LeftoverPlan {
  bool wait = false;          // try again later; nothing is removed now
  std::string packagePath;    // file to delete; empty: none
  std::string setupFolder;    // folder tree to delete (links are not followed); empty: none
  std::vector<std::string> refused;  // recorded values that name nothing of the agent's (logged)
  bool offerAgain = false;
};
// Only a plain file name that is not one of the agent's own files, and only
// a folder named SETUP_<n> or SETUP_<n>_<k>, are taken from the record: the
// ORIGINAL file must not make the agent delete anything else.
LeftoverPlan PlanLeftovers(const LeftoverFacts& f);
bool IsSetupFolderName(const std::string& name);

// ---- the quit countdown ----
// One timer tick of the countdown (ticks until the agent quits, -1 never);
// true when the agent quits now. While the agent is busy (checking,
// downloading, waiting for the program, showing a box) it runs only when it
// was set during that work: a stop asked for then is honoured then, and the
// check that a /TEST= start asked for, with its countdown of two, is not cut
// short.
bool QuitCountdownTick(int32_t& countdown, bool busy, bool setWhileBusy);

// ---- restarting the program ----
// Where a RunningProcess that is not a full path ("Product.exe",
// "bin\\Product") is looked for first, as WinExec would: in the install
// folder, with ".exe" added when the name has no extension. A full path
// (drive or network) is its only candidate. The search path comes after
// these (the Win32 side asks the system).
std::vector<std::string> RestartCandidates(const std::string& program, const std::string& installFolder);

// ---- restarting the agent ----
// The plain agent's command line: quoted path + " /_ZZ=99 /WAIT=10 /TRANSIENT=" + list.
std::string RestartAgentCommandLine(const std::string& agentDir, const std::string& agentExeName,
                                    const std::string& overrideList);
// Agent commands 12 to 15 carry seconds as a signed 32-bit value.
inline int64_t WidenSeconds(int32_t value) { return int64_t(value); }
