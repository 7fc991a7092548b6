// The wait for a program to end, over a scripted process list and a clock
// that the waits themselves advance.
#include "process/waitend.h"

#include <gtest/gtest.h>

#include <deque>

namespace {

class ScriptedWait : public ProcessWaitEnv {
 public:
  void Pump(uint32_t ms) override { now += ms; }
  uint64_t Tick() override { return now; }
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

uint64_t Waited(ScriptedWait& w, int limit) {
  uint64_t start = w.now;
  WaitForProcessEndWith(w, limit);
  return w.now - start;
}

TEST(WaitForProcessEnd, FollowsTheHeldProcessUntilItEnds) {
  ScriptedWait w;
  w.endsAt = w.now + 5000;
  EXPECT_EQ(Waited(w, 0), 5000u);
  EXPECT_EQ(w.heldPid, 42u);
}

TEST(WaitForProcessEnd, ProgramThatIsNotRunningEndsTheWaitAfterOneSecond) {
  ScriptedWait w;
  w.searchDefault = N;
  EXPECT_EQ(Waited(w, 0), 1000u);
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
    EXPECT_EQ(Waited(w, 0), c.waited) << c.what;
  }
}

TEST(WaitForProcessEnd, TimeLimitEndsEveryKindOfWait) {
  for (ProcessSearch s : {F, X}) {
    ScriptedWait w;
    w.searchDefault = s;
    w.canHold = false;
    w.listDefault = X;
    uint64_t waited = Waited(w, 5000);
    EXPECT_GE(waited, 5000u);
    EXPECT_LE(waited, 6000u);
  }
}

TEST(WaitForProcessEnd, SnapshotFamilySearchesAgainEverySecond) {
  ScriptedWait w;
  w.snapshot = true;
  w.searchScript = {F, X, F, N};
  EXPECT_EQ(Waited(w, 0), 5000u);
  EXPECT_EQ(w.searches, 4);
}

}  // namespace
