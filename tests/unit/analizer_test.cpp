#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "process/analizer.h"

namespace {

struct Win {
  uintptr_t handle;
  uintptr_t rootOwner;
  bool titled;
  bool visible;
};

WindowFacts FactsFrom(uintptr_t window, void* context) {
  const auto* list = static_cast<const std::vector<Win>*>(context);
  for (const Win& w : *list)
    if (w.handle == window) return WindowFacts{w.rootOwner, w.titled, w.visible};
  return WindowFacts{};
}

uintptr_t BestOf(std::vector<Win> wins) {
  auto a = std::make_unique<TAnalizer>(7);
  for (const Win& w : wins) a->Add(w.handle);
  a->Score(FactsFrom, &wins);
  return a->Best();
}

struct ScoreCase {
  const char* what;
  std::vector<Win> wins;
  uintptr_t best;
};

TEST(Analizer, PicksTheMainWindow) {
  const ScoreCase cases[] = {
      {"no windows", {}, 0},
      {"only hidden untitled windows that own nothing", {{10, 0, false, false}, {11, 0, false, false}}, 0},
      {"hidden titled beats visible untitled", {{10, 0, false, true}, {11, 0, true, false}}, 11},
      {"visible titled beats titled", {{10, 0, true, false}, {11, 0, true, true}}, 11},
      {"equal scores: the earlier window", {{10, 0, true, false}, {11, 0, true, false}}, 10},
      {"owning one window beats title and visibility",
       {{10, 0, true, true}, {11, 12, false, false}, {12, 0, false, false}}, 12},
      {"the root of an owner chain collects the points, not the middle owner",
       {{10, 0, false, false}, {11, 10, true, true}, {12, 10, true, true}}, 10},
      {"an owner outside the process gives nobody points",
       {{10, 99, false, false}, {11, 0, false, true}}, 11},
      {"more owned windows win over fewer",
       {{10, 0, true, true}, {20, 0, false, false}, {11, 10, false, false}, {21, 20, false, false},
        {22, 20, false, false}},
       20},
  };
  for (const ScoreCase& c : cases) EXPECT_EQ(BestOf(c.wins), c.best) << c.what;
}

TEST(Analizer, ScoresAddUp) {
  std::vector<Win> wins = {{1, 0, true, true}, {2, 1, true, false}, {3, 1, false, true}};
  TAnalizer a(5);
  for (const Win& w : wins) a.Add(w.handle);
  a.Score(FactsFrom, &wins);
  EXPECT_EQ(a.ScoreOf(0), 2 * 4 + 2 + 1);
  EXPECT_EQ(a.ScoreOf(1), 2);
  EXPECT_EQ(a.ScoreOf(2), 1);
  EXPECT_EQ(a.ProcessId(), 5u);
}

TEST(Analizer, WindowsBeyondTheLimitAreIgnored) {
  // The first window owns every other listed one: its score reaches the
  // highest value the list allows and must not wrap around.
  std::vector<Win> wins;
  for (int i = 0; i < TAnalizer::kMaxWindows + 5; ++i)
    wins.push_back({uintptr_t(1000 + i), i == 0 ? 0 : uintptr_t(1000), false, false});
  // A titled window owning two others sits past the limit: never seen.
  wins.push_back({5000, 0, true, true});
  wins.push_back({5001, 5000, false, false});
  wins.push_back({5002, 5000, false, false});

  auto a = std::make_unique<TAnalizer>(1);
  int accepted = 0;
  for (const Win& w : wins) accepted += a->Add(w.handle) ? 1 : 0;
  EXPECT_EQ(accepted, TAnalizer::kMaxWindows);
  EXPECT_EQ(a->Count(), TAnalizer::kMaxWindows);
  a->Score(FactsFrom, &wins);
  EXPECT_EQ(a->ScoreOf(0), (TAnalizer::kMaxWindows - 1) * 4);
  EXPECT_EQ(a->Best(), 1000u);
}

struct MatchCase {
  const char* what;
  const char* sought;
  const char* soughtShort;  // "" when no short form could be formed
  bool fullPathOnly;
  const char* procFull;
  const char* procBare;
  const char* procShort;
  bool match;
};

TEST(ProcessMatch, Table) {
  const MatchCase cases[] = {
      {"full path, other case, blanks around", "  c:\\apps\\TOOL.exe ", "", false, "C:\\Apps\\tool.EXE", "tool.EXE",
       "", true},
      {"full path with full-path-only", "C:\\Apps\\tool.exe", "", true, "C:\\Apps\\tool.exe", "tool.exe", "", true},
      {"bare name", "TOOL.EXE", "", false, "C:\\Apps\\tool.exe", "tool.exe", "", true},
      {"bare name refused with full-path-only", "tool.exe", "", true, "C:\\Apps\\tool.exe", "tool.exe", "", false},
      {"short forms equal", "C:\\Program Files\\Long App.exe", "C:\\PROGRA~1\\LONGAP~1.EXE", true,
       "C:\\PROGRA~1\\LONGAP~1.EXE", "LONGAP~1.EXE", "c:\\progra~1\\longap~1.exe", true},
      {"short forms differ", "C:\\Program Files\\Long App.exe", "C:\\PROGRA~1\\LONGAP~1.EXE", true,
       "C:\\PROGRA~1\\LONGAP~2.EXE", "LONGAP~2.EXE", "C:\\PROGRA~1\\LONGAP~2.EXE", false},
      {"neither short form could be formed", "C:\\gone\\tool.exe", "", true, "C:\\other\\x.exe", "x.exe", "", false},
      {"other folder, same name, full-path-only", "C:\\A\\tool.exe", "C:\\A\\tool.exe", true, "C:\\B\\tool.exe",
       "tool.exe", "C:\\B\\tool.exe", false},
      {"part of the name", "tool", "", false, "C:\\Apps\\tool.exe", "tool.exe", "", false},
      {"quotes are the caller's job", "\"C:\\Apps\\tool.exe\"", "", false, "C:\\Apps\\tool.exe", "tool.exe", "",
       false},
      {"empty name never matches an unreadable process", "", "", false, "", "", "", false},
      {"blank name", "   ", "", false, "", "", "", false},
      {"the bare-name sentinel cannot be sought", "*X*", "", true, "C:\\Apps\\tool.exe", "tool.exe", "", false},
      {"the short-form sentinel cannot be sought", "*XX*", "", false, "C:\\Apps\\tool.exe", "tool.exe",
       "*XX*", false},
  };
  for (const MatchCase& c : cases) {
    SoughtProcess s = MakeSoughtProcess(c.sought, c.soughtShort, c.fullPathOnly);
    EXPECT_EQ(ProcessMatches(s, c.procFull, c.procBare, c.procShort), c.match) << c.what;
  }
}

TEST(ProcessMatch, MissingShortFormUsesTheSentinel) {
  EXPECT_EQ(MakeSoughtProcess("C:\\x.exe", "", false).shortName, "*XX*");
  EXPECT_EQ(MakeSoughtProcess("C:\\x.exe", "C:\\X.EXE", false).shortName, "C:\\X.EXE");
}

}  // namespace
