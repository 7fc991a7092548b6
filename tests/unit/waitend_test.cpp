// The waits for a program to end, over a scripted process list, a scripted
// box and a clock that the waits themselves advance.
#include "process/waitend.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace {

class ScriptedWait : public ProcessWaitEnv {
 public:
  void Pump(uint32_t ms) override { now += ms; }
  uint64_t Tick() override { return now; }
  bool StopRequested() override { return now >= stopAt; }
  bool SnapshotFamily() override { return snapshot; }
  ProcessSearch Search(uint32_t& pid) override {
    ++searches;
    ProcessSearch r = Next(searchScript, searchDefault);
    if (r == ProcessSearch::Found) pid = 42;
    return r;
  }
  bool Hold(uint32_t pid) override {
    heldPid = pid;
    return canHold;
  }
  bool HeldEnded() override { return now >= endsAt; }
  ProcessSearch StillListed(uint32_t pid) override {
    EXPECT_EQ(pid, 42u);
    return Next(listScript, listDefault);
  }

  static ProcessSearch Next(std::deque<ProcessSearch>& script, ProcessSearch def) {
    if (script.empty()) return def;
    ProcessSearch r = script.front();
    script.pop_front();
    return r;
  }

  uint64_t now = 100000;
  uint64_t stopAt = UINT64_MAX;
  bool snapshot = false;
  bool canHold = true;
  uint64_t endsAt = UINT64_MAX;
  uint32_t heldPid = 0;
  int searches = 0;
  std::deque<ProcessSearch> searchScript;
  ProcessSearch searchDefault = ProcessSearch::Found;
  std::deque<ProcessSearch> listScript;
  ProcessSearch listDefault = ProcessSearch::Found;
};

constexpr auto F = ProcessSearch::Found;
constexpr auto N = ProcessSearch::NotFound;
constexpr auto X = ProcessSearch::ListFailed;
constexpr uint64_t kHour = 3600000;

struct Outcome {
  WaitEnd end;
  uint64_t waited;
};

Outcome Wait(ScriptedWait& w, uint64_t limit = kHour) {
  uint64_t start = w.now;
  WaitEnd end = WaitForProcessEndWith(w, DeadlineAfter(w.now, limit));
  return {end, w.now - start};
}

TEST(WaitForProcessEnd, FollowsTheHeldProcessUntilItEnds) {
  ScriptedWait w;
  w.endsAt = w.now + 5000;
  Outcome o = Wait(w);
  EXPECT_EQ(o.end, WaitEnd::Ended);
  EXPECT_EQ(o.waited, 5000u);
  EXPECT_EQ(w.heldPid, 42u);
}

TEST(WaitForProcessEnd, ProgramThatIsNotRunningEndsTheWaitAfterOneSecond) {
  ScriptedWait w;
  w.searchDefault = N;
  Outcome o = Wait(w);
  EXPECT_EQ(o.end, WaitEnd::Ended);
  EXPECT_EQ(o.waited, 1000u);
}

TEST(WaitForProcessEnd, FailedListsCountAsStillRunning) {
  struct Case {
    const char* what;
    bool canHold;
    std::deque<ProcessSearch> search, list;
    uint64_t waited;
  } cases[] = {
      // The first searches fail: keep looking until the list answers.
      {"failed search, then the program is gone", true, {X, X, X, N}, {}, 4000},
      // Without a handle, a list that cannot be read never ends the wait.
      {"unreadable list while following", false, {F}, {X, X, X, F, N}, 6000},
      {"the id now runs another program", false, {F}, {F, N}, 3000},
  };
  for (Case& c : cases) {
    ScriptedWait w;
    w.canHold = c.canHold;
    w.searchScript = c.search;
    w.listScript = c.list;
    w.listDefault = X;
    Outcome o = Wait(w);
    EXPECT_EQ(o.end, WaitEnd::Ended) << c.what;
    EXPECT_EQ(o.waited, c.waited) << c.what;
  }
}

// Every way the wait can follow a program that never ends.
struct Route {
  const char* what;
  bool snapshot;
  bool canHold;
  ProcessSearch search;
};
const Route kRoutes[] = {
    {"held process", false, true, F},
    {"followed in the list", false, false, F},
    {"list never readable", false, true, X},
    {"snapshot family", true, true, F},
};

ScriptedWait NeverEnding(const Route& r) {
  ScriptedWait w;
  w.snapshot = r.snapshot;
  w.canHold = r.canHold;
  w.searchDefault = r.search;
  w.listDefault = X;
  return w;
}

TEST(WaitForProcessEnd, DeadlineEndsEveryKindOfWait) {
  for (const Route& r : kRoutes) {
    ScriptedWait w = NeverEnding(r);
    Outcome o = Wait(w, 5000);
    EXPECT_EQ(o.end, WaitEnd::TimedOut) << r.what;
    EXPECT_GE(o.waited, 5000u) << r.what;
    EXPECT_LE(o.waited, 6000u) << r.what;
  }
}

TEST(WaitForProcessEnd, StopRequestEndsEveryKindOfWaitWithinASecond) {
  for (const Route& r : kRoutes) {
    for (uint64_t after : {0u, 2500u}) {
      ScriptedWait w = NeverEnding(r);
      w.stopAt = w.now + after;
      Outcome o = Wait(w);
      EXPECT_EQ(o.end, WaitEnd::Stopped) << r.what << " " << after;
      EXPECT_GE(o.waited, after) << r.what;
      EXPECT_LE(o.waited, after + 1000) << r.what;
    }
  }
}

TEST(WaitForProcessEnd, ProgramEndingInTheLastSecondCountsAsEnded) {
  ScriptedWait w;
  w.endsAt = w.now + 5000;
  EXPECT_EQ(Wait(w, 5000).end, WaitEnd::Ended);
}

TEST(WaitForProcessEnd, FarDeadlineDoesNotWrapRound) {
  ScriptedWait w;
  w.endsAt = w.now + 3000;
  Outcome o = Wait(w, UINT64_MAX);
  EXPECT_EQ(o.end, WaitEnd::Ended);
  EXPECT_EQ(o.waited, 3000u);
}

TEST(WaitForProcessEnd, SnapshotFamilySearchesAgainEverySecond) {
  ScriptedWait w;
  w.snapshot = true;
  w.searchScript = {F, X, F, N};
  Outcome o = Wait(w);
  EXPECT_EQ(o.end, WaitEnd::Ended);
  EXPECT_EQ(o.waited, 5000u);
  EXPECT_EQ(w.searches, 4);
}

// The box is answered after `answerAfter` ms (or closes at its timeout,
// which counts as OK); `answered` false: it closes without an answer.
class ScriptedAsk : public AskToCloseEnv {
 public:
  void Pump(uint32_t ms) override { now += ms; }
  uint64_t Tick() override { return now; }
  bool StopRequested() override { return now >= stopAt; }
  bool Running() override { return now < endsAt; }
  bool Ask(uint64_t timeoutMs) override {
    opened.push_back(now);
    timeouts.push_back(timeoutMs);
    const uint64_t closesAfter = answerAfter < timeoutMs ? answerAfter : timeoutMs;
    if (closesAfter >= stopAt - now) {  // a stop closes the open box unanswered
      now = stopAt;
      return false;
    }
    now += closesAfter;
    return answered;
  }

  uint64_t now = 50000;
  uint64_t stopAt = UINT64_MAX;
  uint64_t endsAt = UINT64_MAX;
  uint64_t answerAfter = 0;
  bool answered = true;
  std::vector<uint64_t> opened, timeouts;
};

TEST(AskUntilClosed, Outcomes) {
  struct Case {
    const char* what;
    uint64_t endsAfter, answerAfter, stopAfter;
    bool answered;
    WaitEnd end;
    size_t boxes;
  } cases[] = {
      {"closed before OK", 3000, 4000, UINT64_MAX, true, WaitEnd::Ended, 1},
      {"not running at all", 0, 0, UINT64_MAX, true, WaitEnd::Ended, 0},
      {"closed after the second box", 12000, 8000, UINT64_MAX, true, WaitEnd::Ended, 2},
      // Closed with the title bar's X, or not shown: not asked again.
      {"unanswered", UINT64_MAX, 2000, UINT64_MAX, false, WaitEnd::Ended, 1},
      {"stop while the box is open", UINT64_MAX, 60000, 5000, true, WaitEnd::Stopped, 1},
      {"stop between boxes", UINT64_MAX, 4000, 4500, true, WaitEnd::Stopped, 1},
      {"never closed", UINT64_MAX, 7000, UINT64_MAX, true, WaitEnd::TimedOut, 4},
  };
  for (const Case& c : cases) {
    ScriptedAsk a;
    const uint64_t start = a.now;
    a.endsAt = DeadlineAfter(start, c.endsAfter);
    a.stopAt = DeadlineAfter(start, c.stopAfter);
    a.answerAfter = c.answerAfter;
    a.answered = c.answered;
    EXPECT_EQ(AskUntilClosed(a, start + 30000), c.end) << c.what;
    EXPECT_EQ(a.opened.size(), c.boxes) << c.what;
    EXPECT_LE(a.now, start + 30000) << c.what;
  }
}

TEST(AskUntilClosed, BoxClosesItselfAtTheDeadline) {
  ScriptedAsk a;
  a.answerAfter = UINT64_MAX;  // nobody there
  const uint64_t deadline = a.now + 300000;
  EXPECT_EQ(AskUntilClosed(a, deadline), WaitEnd::TimedOut);
  ASSERT_EQ(a.timeouts.size(), 1u);
  EXPECT_EQ(a.timeouts[0], 300000u);
  EXPECT_EQ(a.now, deadline);
}

TEST(AskUntilClosed, OkPressedAtOnceAsksAtMostOnceASecond) {
  ScriptedAsk a;
  const uint64_t start = a.now;
  EXPECT_EQ(AskUntilClosed(a, start + 10000), WaitEnd::TimedOut);
  ASSERT_EQ(a.opened.size(), 10u);
  for (size_t i = 1; i < a.opened.size(); ++i) EXPECT_GE(a.opened[i] - a.opened[i - 1], 1000u);
  // Every box closes by itself no later than the deadline.
  for (size_t i = 0; i < a.opened.size(); ++i) EXPECT_EQ(a.opened[i] + a.timeouts[i], start + 10000);
}

}  // namespace
