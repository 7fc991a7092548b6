#include "update/audecide.h"

#include <gtest/gtest.h>

namespace {

TEST(ShotTimeStatus, IntervalTestModeAndForce) {
  const int64_t now = 1000000;
  struct {
    const char* what;
    bool probing, force, testMode;
    int64_t interval, last;
    int status;
  } cases[] = {
      {"once per run, never checked", true, false, false, 0, 0, 2},
      {"once per run, already checked this run", false, false, false, 0, 0, 0},
      {"once per run, last check in the future", true, false, false, 0, now + 10, 0},
      {"never", true, false, false, -1, 0, 0},
      {"never, but forced", true, true, false, -1, 0, 1},
      {"forced after the once-per-run check", false, true, false, 0, now, 1},
      {"positive interval passed", true, false, false, 3600, now - 3600, 1},
      {"positive interval one second short", true, false, false, 3600, now - 3599, 0},
      {"test mode: 5 s instead of an hour", true, false, true, 3600, now - 5, 1},
      {"test mode: 4 s is too early", true, false, true, 3600, now - 4, 0},
      {"test mode keeps 'never'", true, false, true, -1, 0, 0},
      {"other negative interval: every tick", true, false, false, -7, now, 1},
      {"probing off and no force", false, false, false, 3600, 0, 0},
  };
  for (const auto& c : cases) {
    ShotFacts f;
    f.probingEnabled = c.probing;
    f.forceRequest = c.force;
    f.testMode = c.testMode;
    f.probeInterval = c.interval;
    f.probeLast = c.last;
    f.now = now;
    EXPECT_EQ(ShotTimeStatus(f), c.status) << c.what;
  }
}

TEST(ShotTimeStatus, TheRunsOwnLastCheckAndHugeValues) {
  const int64_t now = 1000000;
  const int64_t big = INT64_MAX, small = INT64_MIN;
  struct {
    const char* what;
    int64_t interval, last, floor;
    int status;
  } cases[] = {
      // The file still says "long ago" (its write failed); this run checked a minute ago.
      {"unwritable file, checked this run", 3600, 0, now - 60, 0},
      {"unwritable file, the interval has passed since", 3600, 0, now - 3600, 1},
      {"the file is newer than the run's check", 3600, now - 10, now - 7200, 0},
      // Sums that would wrap round: a huge interval is never due, a huge negative one always.
      {"huge interval", big, now - 10, 0, 0},
      {"huge last check", 3600, big - 5, 0, 0},
      {"most negative interval", small, now, 0, 1},
      {"most negative last check, negative interval", -7, small + 3, 0, 1},
  };
  for (const auto& c : cases) {
    ShotFacts f;
    f.probeInterval = c.interval;
    f.probeLast = c.last;
    f.probeFloor = c.floor;
    f.now = now;
    EXPECT_EQ(ShotTimeStatus(f), c.status) << c.what;
  }
  EXPECT_EQ(SaturatingSum(big - 1, 5), big);
  EXPECT_EQ(SaturatingSum(small + 1, -5), small);
  EXPECT_EQ(SaturatingSum(-5, 7), 2);
}

TEST(ShotTimeStatus, TheOncePerRunCheckTriedAgain) {
  const int64_t now = 1000000;
  struct {
    const char* what;
    bool probing, force;
    int64_t interval, retryAt;
    int status;
  } cases[] = {
      {"spent, no try pending", false, false, 0, 0, 0},
      {"spent, the try is due", false, false, 0, now, 2},
      {"spent, the try is due since long", false, false, 0, now - 7200, 2},
      {"spent, the try one second away", false, false, 0, now + 1, 0},
      {"forced while a try is pending", false, true, 0, now + 60, 1},
      // Only the once-per-run check is tried again.
      {"interval set since, try left over", false, false, 3600, now, 0},
      {"never checks, try left over", false, false, -1, now, 0},
  };
  for (const auto& c : cases) {
    ShotFacts f;
    f.probingEnabled = c.probing;
    f.forceRequest = c.force;
    f.probeInterval = c.interval;
    f.probeLast = now - 10;
    f.retryAt = c.retryAt;
    f.now = now;
    EXPECT_EQ(ShotTimeStatus(f), c.status) << c.what;
  }
}

TEST(OnceCheckRetry, GrowingDelaysUntilTheFirstAnswer) {
  // A run at logon without a network: no try gets an answer, the delays
  // grow to an hour and stay there; the first answer ends the tries.
  struct Step {
    bool onceCheck, answered;
    int64_t wait;  // seconds from this check to the next try; -1: none
    int misses;
  } steps[] = {
      {true, false, 60, 1},     {true, false, 300, 2},  {true, false, 900, 3},
      {true, false, 3600, 4},   {true, false, 3600, 5},
      {false, false, 3600, 5},  // a forced check without an answer leaves the schedule as it was
      {true, false, 3600, 6},   {true, true, -1, 6},
      {true, false, -1, 6},     // nothing brings the tries back
  };
  OnceCheckRetry r;
  int64_t now = 50000;
  for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
    int64_t before = r.nextAt;
    NoteCheckAnswer(r, steps[i].onceCheck, steps[i].answered, now, 60);
    int64_t want = steps[i].wait < 0 ? 0 : steps[i].onceCheck ? now + steps[i].wait : before;
    EXPECT_EQ(r.nextAt, want) << "step " << i;
    EXPECT_EQ(r.misses, steps[i].misses) << "step " << i;
    now += 4000;
  }
  EXPECT_TRUE(r.answered);
  const int64_t t0 = 50000;

  // A forced check that got an answer ends the tries too.
  OnceCheckRetry forced;
  NoteCheckAnswer(forced, true, false, t0, 60);
  NoteCheckAnswer(forced, false, true, t0 + 5, 60);
  EXPECT_EQ(forced.nextAt, 0);
  EXPECT_TRUE(forced.answered);

  // The test mode's short minute keeps the shape of the schedule.
  const int64_t want[] = {2, 10, 30, 120, 120, 120};
  for (int misses = 1; misses <= 6; ++misses) EXPECT_EQ(OnceRetryDelaySeconds(misses, 2), want[misses - 1]) << misses;
}

TEST(OnceCheckRetry, TestModeHookOnlyShortensTheMinute) {
  struct Case {
    bool testMode;
    const char* hook;
    int64_t seconds;
  } cases[] = {
      {false, "1", 60},  // the hook counts only in the test mode
      {true, "1", 1},    {true, " 5 ", 5}, {true, "59", 59}, {true, "60", 60},
      {true, "600", 60}, {true, "0", 60},  {true, "-1", 60}, {true, "", 60}, {true, "1s", 60},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RetryMinuteSeconds(c.testMode, c.hook), c.seconds) << c.testMode << " " << c.hook;
}

OfferFacts Offer() {
  OfferFacts f;
  f.infoDownloaded = true;
  f.versionOriginal = 100;
  f.versionNew = 101;
  f.newStamp = 7;
  f.originalStamp = 6;
  f.sizeOk = true;
  return f;
}

TEST(OfferStatus, EachTestInTurn) {
  struct {
    const char* what;
    void (*change)(OfferFacts&);
    int status;
  } cases[] = {
      {"all tests pass", [](OfferFacts&) {}, 6},
      {"INFO not downloaded", [](OfferFacts& f) { f.infoDownloaded = false; }, 0},
      {"no installed version", [](OfferFacts& f) { f.versionOriginal = 0; }, 1},
      {"negative installed version", [](OfferFacts& f) { f.versionOriginal = -5; }, 1},
      {"same stamp, no re-ask", [](OfferFacts& f) { f.newStamp = 6; }, 2},
      {"same stamp, re-ask due", [](OfferFacts& f) { f.newStamp = 6; f.reAskDue = true; }, 6},
      {"same stamp, user asked", [](OfferFacts& f) { f.newStamp = 6; f.userRequested = true; }, 6},
      {"same version", [](OfferFacts& f) { f.versionNew = 100; }, 3},
      {"older version", [](OfferFacts& f) { f.versionNew = 99; }, 3},
      {"valid list holds it", [](OfferFacts& f) { f.validVersions = "99,100,102"; }, 6},
      {"valid list lacks it", [](OfferFacts& f) { f.validVersions = "99,102"; }, 4},
      {"valid list with blanks", [](OfferFacts& f) { f.validVersions = "99, 100"; }, 4},
      {"size differs", [](OfferFacts& f) { f.sizeOk = false; }, 5},
      // An update that an ended run left unfinished counts as a new stamp, and only as that.
      {"same stamp, interrupted update", [](OfferFacts& f) { f.newStamp = 6; f.offerAgain = true; }, 6},
      {"interrupted update, version recorded since",
       [](OfferFacts& f) { f.offerAgain = true; f.versionOriginal = 101; }, 3},
      {"interrupted update, INFO not downloaded",
       [](OfferFacts& f) { f.offerAgain = true; f.infoDownloaded = false; }, 0},
  };
  for (const auto& c : cases) {
    OfferFacts f = Offer();
    c.change(f);
    EXPECT_EQ(OfferStatus(f), c.status) << c.what;
    EXPECT_EQ(OfferNeedsSizeTest(f), c.status >= 5) << c.what;
  }
}

TEST(OfferStatus, WebBasesAndFolders) {
  struct {
    const char* base;
    bool web;
  } cases[] = {
      {"http://example.com/upd", true}, {"HTTPS://example.com", true}, {" http://h/u ", true},
      {"C:\\Updates", false},           {"\\\\server\\share", false}, {"ftp://h/u", false},
      {"httpx://h", false},             {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsWebBase(c.base), c.web) << c.base;
}

TEST(OfferStatus, ReasonTexts) {
  EXPECT_EQ(OfferReason(0), "Error downloading .INFO file");
  EXPECT_EQ(OfferReason(3), "New version is not higher then old version");
  EXPECT_EQ(OfferReason(4), "\"Valid for version\" mismatch");
  EXPECT_EQ(OfferReason(6), "OK");
}

TEST(ReAskDue, OnlyWithAPositiveIntervalAndAfterIt) {
  EXPECT_FALSE(ReAskDue(1000, INT64_MAX - 10, 100));  // no wrap round into the past
  EXPECT_TRUE(ReAskDue(1000, 899, 100));
  EXPECT_FALSE(ReAskDue(1000, 900, 100));  // exactly at the time: not yet
  EXPECT_FALSE(ReAskDue(1000, 0, 0));
  EXPECT_FALSE(ReAskDue(1000, 0, -1));
}

TEST(SizeTest, DifferenceBelowHundredAndUnknownNeverPasses) {
  const int64_t big = int64_t(5) << 30;  // 5 GiB: beyond 32 bits
  struct {
    int64_t actual, expected;
    bool holds;
  } cases[] = {
      {1000, 1000, true}, {1099, 1000, true},  {1100, 1000, false}, {901, 1000, true},
      {900, 1000, false}, {-1, 0, false},      {-1, 50, false},     {0, 99, true},
      {big, big + 99, true}, {big + 100, big, false}, {big, int64_t(uint32_t(big)), false},
  };
  for (const auto& c : cases) EXPECT_EQ(SizeTestHolds(c.actual, c.expected), c.holds) << c.actual << " " << c.expected;
}

TEST(DialogTexts, QuestionBeforeCheck) {
  struct {
    const char* base;
    bool testMode;
    const char* text;
  } cases[] = {
      {"http://example.com/upd", false, "Ask PROG|online|?"},
      {"C:\\Updates", false, "Ask PROG|?"},
      {"", false, "Ask PROG|?"},
      {"\\\\server\\share", false, "Ask PROG|online|?"},
      {"C:\\Updates", true, "Ask PROG|?<P><P><T><B>PLEASE NOTE</B> - You are now running in <B>Test Mode</B>!"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(AskBeforeCheckText("Ask PROG_NAME|", "online|", "?", c.base, c.testMode, "PROG"), c.text) << c.base;
}

TEST(DialogTexts, AnnouncementAndInstallQuestion) {
  AnnounceTexts t{"New PROG_NAME. ", "12", "13 PROG_NAME", "18", "19"};
  EXPECT_EQ(AnnouncementText(t, false, false, "App"), "New App. 12");
  EXPECT_EQ(AnnouncementText(t, true, false, "App"), "New App. 13 App");
  EXPECT_EQ(AnnouncementText(t, false, true, "App"), "New App. 18");
  EXPECT_EQ(AnnouncementText(t, true, true, "App"), "New App. 19");
  EXPECT_EQ(InstallQuestionText("Install PROG_NAME?", "Installing PROG_NAME", false, "App"), "Install App?");
  EXPECT_EQ(InstallQuestionText("Install PROG_NAME?", "Installing PROG_NAME", true, "App"), "Installing App");
}

TEST(DialogTexts, DownloadFailure) {
  EXPECT_EQ(DownloadFailureText(true, "http://h/x", "aborted", "nf", "un"), "aborted");
  EXPECT_EQ(DownloadFailureText(false, "C:\\upd\\x", "a", "nf", "un"), "nf<P><P>C:\\upd\\x");
  EXPECT_EQ(DownloadFailureText(false, "\\\\srv\\upd\\x", "a", "nf", "un"), "nf<P><P>\\\\srv\\upd\\x");
  EXPECT_EQ(DownloadFailureText(false, "http://h/x", "a", "nf", "un"), "un<P><P>http://h/x");
  EXPECT_EQ(NothingToDoText("Nothing.", false, 3), "Nothing.");
  EXPECT_EQ(NothingToDoText("Nothing.", true, 3), "Nothing.<P><P>(3 - New version is not higher then old version)   ");
}

TEST(SafeDownloadName, OnlyAPlainNameThatIsNotTheAgentsOwn) {
  AgentFileNames own{"Agent.exe", "Product.info", "Product.original", "X_Agent.exe.log"};
  struct {
    const char* name;
    const char* stored;
  } cases[] = {
      {"Update11.exe", "Update11.exe"},
      {"  Update11.exe ", "Update11.exe"},
      {"sub\\Update11.exe", "Update11.exe"},
      {"..\\evil.exe", "evil.exe"},
      {"../../evil.exe", "evil.exe"},
      {"C:evil.exe", "evil.exe"},
      {"", ""},
      {".", ""},
      {"..", ""},
      {"sub\\..", ""},
      {"*.exe", ""},
      {"Up?.exe", ""},
      {"agent.EXE", ""},
      {"X_Agent.exe", ""},
      {"Agent.exe.", ""},
      {"product.info", ""},
      {"Product.original", ""},
      {"X_Agent.exe.log", ""},
      {"Agent.exe.001", "Agent.exe.001"},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeDownloadName(c.name, own), c.stored) << c.name;
}

TEST(ShutDownMethod, ExactTextsOnly) {
  EXPECT_EQ(ParseShutDownMethod("Issue a Message Box"), ShutDownKind::AskToClose);
  EXPECT_EQ(ParseShutDownMethod("Using WM_CLOSE"), ShutDownKind::WmClose);
  EXPECT_EQ(ParseShutDownMethod("Using WM_QUIT"), ShutDownKind::WmQuit);
  EXPECT_EQ(ParseShutDownMethod("Using Terminate Process"), ShutDownKind::Terminate);
  EXPECT_EQ(ParseShutDownMethod("Don't Shut Down"), ShutDownKind::DontShutDown);
  EXPECT_EQ(ParseShutDownMethod(""), ShutDownKind::WaitOnly);
  EXPECT_EQ(ParseShutDownMethod("using wm_close"), ShutDownKind::WaitOnly);
}

TEST(ShutDownWait, TestModeHookOnlyShortensTheWait) {
  const uint64_t full = uint64_t(kShutDownWaitSeconds) * 1000;
  struct Case {
    bool testMode;
    const char* hook;
    uint64_t ms;
  } cases[] = {
      {false, "20", full},  // the hook counts only in the test mode
      {true, "20", 20000},  {true, " 7 ", 7000}, {true, "", full},          {true, "0", full},
      {true, "-5", full},   {true, "2x", full},  {true, "999999", full},
  };
  for (const Case& c : cases) EXPECT_EQ(ShutDownWaitMs(c.testMode, c.hook), c.ms) << c.testMode << " " << c.hook;
}

// Ticks until QuitCountdownTick says "quit now"; -1 when it never does.
int TicksToQuit(int32_t countdown, bool busy, bool setWhileBusy) {
  for (int tick = 1; tick <= 100; ++tick)
    if (QuitCountdownTick(countdown, busy, setWhileBusy)) return tick;
  return -1;
}

TEST(QuitCountdown, RunsWhileBusyOnlyWhenSetDuringTheWork) {
  struct Case {
    int32_t countdown;
    bool busy, setWhileBusy;
    int quitsAtTick;
  } cases[] = {
      {0, false, false, 1},  {3, false, false, 4},  {-1, false, false, -1}, {-7, false, false, -1},
      // /TEST= started this copy and asked for two ticks: its check goes on.
      {2, true, false, -1},
      // A stop that came while the agent waits for the program or shows a box.
      {0, true, true, 1},    {5, true, true, 6},    {-1, true, true, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TicksToQuit(c.countdown, c.busy, c.setWhileBusy), c.quitsAtTick)
        << c.countdown << " " << c.busy << " " << c.setWhileBusy;
}

TEST(Leftovers, OnlyTheRecordedPackageAndSetupFolder) {
  const AgentFileNames own{"Agent.exe", "Product.info", "Product.original", "X_Agent.exe.log"};
  const char* const agentDir = "C:\\App\\";
  const char* const tempDir = "C:\\Temp\\";
  struct {
    const char* what;
    const char* package;
    const char* folder;
    const char* packagePath;
    const char* setupFolder;
    int refused;
  } cases[] = {
      {"both", "Update.exe", "SETUP_1234", "C:\\App\\Update.exe", "C:\\Temp\\SETUP_1234", 0},
      {"a later attempt's folder", "Update.exe", "SETUP_1234_2", "C:\\App\\Update.exe", "C:\\Temp\\SETUP_1234_2", 0},
      {"the profile's blanks", " Update.exe ", " setup_7 ", "C:\\App\\Update.exe", "C:\\Temp\\setup_7", 0},
      {"nothing recorded", "", "", "", "", 0},
      // What the agent never deletes, whatever the file says.
      {"the agent itself", "Agent.exe", "", "", "", 1},
      {"its copy", "X_Agent.exe", "", "", "", 1},
      {"its ORIGINAL file", "Product.original", "", "", "", 1},
      {"a path", "..\\Windows\\win.ini", "", "", "", 1},
      {"a full path", "C:\\Windows\\win.ini", "", "", "", 1},
      {"wildcards", "*.exe", "", "", "", 1},
      {"a folder path", "", "C:\\Users\\me", "", "", 1},
      {"up and out", "", "SETUP_1\\..\\..", "", "", 1},
      {"a sub-folder", "", "SETUP_1\\x", "", "", 1},
      {"no number", "", "SETUP_", "", "", 1},
      {"a letter", "", "SETUP_12a", "", "", 1},
      {"two underscores", "", "SETUP_1__2", "", "", 1},
      {"a third part", "", "SETUP_1_2_3", "", "", 1},
      {"another name", "", "Documents", "", "", 1},
      {"both refused", "a/b.exe", "..", "", "", 2},
  };
  for (const auto& c : cases) {
    LeftoverFacts f;
    f.marker = {101, c.package, c.folder};
    f.agentDir = agentDir;
    f.tempDir = tempDir;
    f.own = own;
    f.versionOriginal = 100;
    LeftoverPlan p = PlanLeftovers(f);
    EXPECT_FALSE(p.wait) << c.what;
    EXPECT_EQ(p.packagePath, c.packagePath) << c.what;
    EXPECT_EQ(p.setupFolder, c.setupFolder) << c.what;
    EXPECT_EQ(int(p.refused.size()), c.refused) << c.what;
    EXPECT_TRUE(p.offerAgain) << c.what;
  }
}

TEST(Leftovers, WaitWhileTheEngineRunsAndOfferAgainUnlessRecorded) {
  struct {
    const char* what;
    bool inUse;
    int32_t markerVersion, versionOriginal;
    bool wait, offerAgain;
  } cases[] = {
      {"the engine still runs from the folder", true, 101, 100, true, false},
      {"ended before the version was recorded", false, 101, 100, false, true},
      {"ended after it was recorded", false, 101, 101, false, false},
      {"an engine that wrote a later version", false, 101, 105, false, false},
      {"no version in the record", false, 0, 100, false, true},
  };
  for (const auto& c : cases) {
    LeftoverFacts f;
    f.marker = {c.markerVersion, "Update.exe", "SETUP_9"};
    f.agentDir = "C:\\App\\";
    f.tempDir = "C:\\Temp\\";
    f.own = {"Agent.exe", "Product.info", "Product.original", "X_Agent.exe.log"};
    f.versionOriginal = c.versionOriginal;
    f.setupFolderInUse = c.inUse;
    LeftoverPlan p = PlanLeftovers(f);
    EXPECT_EQ(p.wait, c.wait) << c.what;
    EXPECT_EQ(p.offerAgain, c.offerAgain) << c.what;
    // Waiting removes nothing yet.
    EXPECT_EQ(p.packagePath.empty() && p.setupFolder.empty(), c.wait) << c.what;
  }
}

TEST(RestartAgent, CommandLineQuotesAPathWithBlanks) {
  EXPECT_EQ(RestartAgentCommandLine("C:\\App", "Agent.exe", "|255|1|255|255|255|255|255|255|"),
            "C:\\App\\Agent.exe /_ZZ=99 /WAIT=10 /TRANSIENT=|255|1|255|255|255|255|255|255|");
  EXPECT_EQ(RestartAgentCommandLine("C:\\Program Files\\App\\", "Agent.exe", "|1|"),
            "\"C:\\Program Files\\App\\Agent.exe\" /_ZZ=99 /WAIT=10 /TRANSIENT=|1|");
  EXPECT_EQ(WidenSeconds(-1), -1);
  EXPECT_EQ(WidenSeconds(int32_t(0x80000000u)), -2147483648LL);
}

TEST(RestartCandidates, NamesThatAreNotFullPathsStartInTheInstallFolder) {
  using V = std::vector<std::string>;
  struct {
    const char* program;
    const char* folder;
    V want;
  } cases[] = {
      {"C:\\App\\Product.exe", "D:\\Other", V{"C:\\App\\Product.exe"}},
      {"\\\\server\\share\\P.exe", "D:\\Other", V{"\\\\server\\share\\P.exe"}},
      {"Product.exe", "C:\\App", V{"C:\\App\\Product.exe"}},
      {"Product.exe", "C:\\App\\", V{"C:\\App\\Product.exe"}},
      {"Product", "C:\\App", V{"C:\\App\\Product", "C:\\App\\Product.exe"}},
      {"bin\\Product.exe", "C:\\App", V{"C:\\App\\bin\\Product.exe"}},
      {"  Product.exe ", "C:\\App", V{"C:\\App\\Product.exe"}},
      {"Product.exe", "", V{}},  // only the search path is left
      {"", "C:\\App", V{}},
  };
  for (const auto& c : cases) EXPECT_EQ(RestartCandidates(c.program, c.folder), c.want) << c.program;
}

}  // namespace
