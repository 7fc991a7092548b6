#include <gtest/gtest.h>

#include <map>

#include "setup/setupflow.h"
#include "paths/utils.h"
#include "start/roles.h"

TEST(FormatMegabytes, DecimalsFollowTheSize) {
  struct Row {
    double bytes;
    const char* text;
  } rows[] = {
      {12582912, "12.0"}, {5242880, "5.00"}, {524288, "0.500"}, {0, "0.000"}, {-5, "0.000"},
      {10485760, "10.00"}, {1048576, "1.00"}, {10485761, "10.0"}, {1048575, "1.000"},
  };
  for (const Row& r : rows) EXPECT_EQ(FormatMegabytes(r.bytes), r.text) << r.bytes;
}

TEST(RemoveSwitch, CutsToTheNextSlash) {
  struct Row {
    const char* text;
    const char* name;
    const char* expected;
  } rows[] = {
      {"a /SpanCdLvl=2 /X=1", "/SpanCdLvl=", "a /X=1"},
      {"a /X=1 /SpanCdLvl=2", "/SpanCdLvl=", "a /X=1 "},
      {"a /spancdlvl=2 /X=1", "/SpanCdLvl=", "a /spancdlvl=2 /X=1"},  // case-sensitive
      {"a", "/SpanCdLvl=", "a"},
  };
  for (const Row& r : rows) EXPECT_EQ(RemoveSwitch(r.text, r.name), r.expected) << r.text;
}

TEST(EngineCommandLine, BuildsTheEngineContract) {
  struct Row {
    const char* entry;
    const char* target;
    const char* args;
    bool agent;
    const char* expected;
  } rows[] = {
      {"Engine.exe*", "C:\\Temp\\SETUP_45677", "", false,
       "C:\\Temp\\SETUP_45677\\Engine.exe /TH_ID=_2520 /OriginExe=\"C:\\Dl\\Setup.exe\""},
      {"Engine.exe* /LANG=DE", "C:\\T\\", "/hide", false,
       "C:\\T\\Engine.exe /hide /LANG=DE /TH_ID=_2520 /OriginExe=\"C:\\Dl\\Setup.exe\""},
      {"Engine.exe*", "C:\\T", "/OriginExe=\"D:\\First.exe\"", true,
       "C:\\T\\Engine.exe /OriginExe=\"D:\\First.exe\" /TH_ID=_2520 /AutoUpdateProg"},
      // The switches of a spanned-CD start never reach the engine.
      {"Engine.exe*", "C:\\T", "/SpanCdLvl=2 /SpanDiskFName1=\"E:\\Setup.exe.001\" /X=1", false,
       "C:\\T\\Engine.exe /X=1 /TH_ID=_2520 /OriginExe=\"C:\\Dl\\Setup.exe\""},
      // A temp folder with a blank is quoted.
      {"Engine.exe*", "C:\\Users\\Ann Lee\\Temp\\SETUP_1", "", false,
       "\"C:\\Users\\Ann Lee\\Temp\\SETUP_1\\Engine.exe\" /TH_ID=_2520 /OriginExe=\"C:\\Dl\\Setup.exe\""},
  };
  for (const Row& r : rows) {
    EngineCommand c = BuildEngineCommandLine(r.entry, r.target, r.args, "_2520", "C:\\Dl\\Setup.exe", r.agent);
    EXPECT_EQ(c.commandLine, r.expected) << r.entry << " " << r.args;
    EXPECT_EQ(c.engineName, "Engine.exe");
  }
}

TEST(SetupFolderName, UsesTheTimeOfDay) {
  // 12:30:10 = 12*2048 + 30*32 + 5
  EXPECT_EQ(SetupFolderName((0x5A21u << 16) | 25541u), "SETUP_25541");
}

TEST(SetupFolderName, LaterAttemptsKeepThePrefixAndTheStamp) {
  uint32_t t = (0x5A21u << 16) | 25541u;
  EXPECT_EQ(SetupFolderCandidate(t, 0), "SETUP_25541");
  EXPECT_EQ(SetupFolderCandidate(t, 1), "SETUP_25541_1");
  EXPECT_EQ(SetupFolderCandidate(t, 12), "SETUP_25541_12");
}

// The atom table and the engine as a script: what the engine does to the
// atom, and whether the table takes a new one.
class ScriptedAtoms : public EngineAtomEnv {
 public:
  uint16_t AddAtom(const std::string& name) override {
    if (tableFull) return 0;
    table[name] = 0xC001;
    return 0xC001;
  }
  uint16_t FindAtom(const std::string& name) override { return table.count(name) ? table[name] : 0; }
  void DeleteAtom(uint16_t atom) override {
    for (auto it = table.begin(); it != table.end(); ++it)
      if (it->second == atom) {
        table.erase(it);
        return;
      }
  }
  void RunEngine() override {
    ran = true;
    if (engineRemoves) table.erase("Atom_1");
  }
  void Debug(const std::string& line) override { debug += line; }

  bool tableFull = false;
  bool engineRemoves = true;
  bool ran = false;
  std::map<std::string, uint16_t> table;
  std::string debug;
};

TEST(EngineAtom, OutcomeFollowsTheAtomAndAFailedAddIsUnknown) {
  struct Case {
    bool tableFull, engineRemoves;
    EngineOutcome outcome;
  } cases[] = {
      {false, true, EngineOutcome::Completed},
      {false, false, EngineOutcome::NotCompleted},
      // The add failed: no atom is there afterwards, yet nothing is known.
      {true, true, EngineOutcome::Unknown},
      {true, false, EngineOutcome::Unknown},
  };
  for (const Case& c : cases) {
    ScriptedAtoms env;
    env.tableFull = c.tableFull;
    env.engineRemoves = c.engineRemoves;
    EXPECT_EQ(RunEngineWithAtom(env, "Atom_1"), c.outcome);
    EXPECT_TRUE(env.ran) << "the engine runs in every case";
    EXPECT_TRUE(env.table.empty()) << "an atom left by the engine is removed";
    EXPECT_EQ(env.debug.find("GlobalAddAtom failed") != std::string::npos, c.tableFull);
  }
  // Someone else's atom of that name is left alone when ours could not be added.
  ScriptedAtoms env;
  env.tableFull = true;
  env.engineRemoves = false;
  env.table["Atom_1"] = 0xC002;
  EXPECT_EQ(RunEngineWithAtom(env, "Atom_1"), EngineOutcome::Unknown);
  EXPECT_EQ(env.table.size(), 1u);
}

TEST(SpaceQuestion, AsksWhenShortOrNoticeSet) {
  SpaceTexts t{"s2 <DRIVE>|", "s3 <DRIVE>|", "s4 <SPACE_REQ>|", "s5 <SPACE_AVAIL>|", "s6"};
  EXPECT_EQ(SpaceQuestion(t, false, "c:\\temp", 100, 200), "");
  EXPECT_EQ(SpaceQuestion(t, true, "c:\\temp", 100, 200), "s2 C:|s4 0.000|s5 0.000|s6");
  // Equal counts as too little.
  EXPECT_EQ(SpaceQuestion(t, false, "d:\\x", 5242880, 5242880), "s3 D:|s4 5.00|s5 5.00|s6");
  EXPECT_EQ(SpaceQuestion(t, true, "", 2, 1), "s3 |s4 0.000|s5 0.000|s6");
}

TEST(Roles, ClassNamesAndRoleTests) {
  EXPECT_EQ(StubClassNameFor(true, "C:\\App\\Tool.exe"), ".AutoUpdate.Tool");
  EXPECT_EQ(StubClassNameFor(true, "C:\\App\\X_Tool.exe"), ".AutoUpdate.X_Tool");
  EXPECT_EQ(StubClassNameFor(false, "C:\\Dl\\Setup.exe"), "C:\\Dl\\Setup.exe");
  EXPECT_EQ(XCopyClassName("My.Tool.exe"), ".AutoUpdate.X_My");
  EXPECT_TRUE(IsPlainAgent(true, "tool.EXE", " Tool.exe "));
  EXPECT_FALSE(IsPlainAgent(false, "Tool.exe", "Tool.exe"));
  EXPECT_FALSE(IsPlainAgent(true, "Tool.exe", ""));
  EXPECT_TRUE(IsXAgent(true, "x_tool.exe", "Tool.exe"));
  EXPECT_FALSE(IsXAgent(true, "Tool.exe", "Tool.exe"));
}

TEST(Roles, CommandLinesOfTheCopies) {
  EXPECT_EQ(XCopyArguments("", ""), "");
  EXPECT_EQ(XCopyArguments("|1|255|", ""), " /TRANSIENTx=|1|255|");
  EXPECT_EQ(XCopyArguments("|1|", "5"), " /SleepX=5");
  EXPECT_EQ(QuoteIfBlank("C:\\Program Files\\App\\X_Tool.exe"), "\"C:\\Program Files\\App\\X_Tool.exe\"");
  EXPECT_EQ(QuoteIfBlank("C:\\App\\X_Tool.exe"), "C:\\App\\X_Tool.exe");
  EXPECT_EQ(SpanRelaunchCommandLine("C:\\T\\SETUP_1\\Y_Setup.exe", "/a", "E:\\Setup.exe"),
            "C:\\T\\SETUP_1\\Y_Setup.exe /a /SpanCdLvl=2 /SpanDiskFName1=\"E:\\Setup.exe.001\" "
            "/OriginExe=\"E:\\Setup.exe\"");
  EXPECT_EQ(SpanRelaunchCommandLine("C:\\A B\\Y_S.exe", "", "E:\\S.exe"),
            "\"C:\\A B\\Y_S.exe\" /SpanCdLvl=2 /SpanDiskFName1=\"E:\\S.exe.001\" /OriginExe=\"E:\\S.exe\"");
}

TEST(Roles, WmMsgValue) {
  long long h = -1, n = -1;
  ParseWmMsg("1234:5678", h, n);
  EXPECT_EQ(h, 1234);
  EXPECT_EQ(n, 5678);
  ParseWmMsg("1234", h, n);
  EXPECT_EQ(h, 1234);
  EXPECT_EQ(n, 0);
}
