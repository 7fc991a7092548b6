#include <gtest/gtest.h>

#include <vector>

#include "paths/platform.h"
#include "paths/utils.h"
#include "paths/zdebug.h"

namespace {

std::vector<std::string> g_pieces;
void CollectPiece(const std::string& piece) { g_pieces.push_back(piece); }

// A viewer that writes to the channel while it is handed a piece, as a
// window procedure run during a synchronous send would.
void ReentrantPiece(const std::string& piece) {
  g_pieces.push_back(piece);
  if (g_pieces.size() == 1) DebugLine("inner");
}

class DebugChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    g_pieces.clear();
    SetDebugSender(nullptr);
    DebugFlush();  // drop anything earlier tests left behind
    SetDebugSender(CollectPiece);
  }
  void TearDown() override { SetDebugSender(nullptr); }
};

TEST_F(DebugChannel, LongLineArrivesInPiecesOf128) {
  std::string line;
  for (int i = 0; i < 200; ++i) line += char('0' + i % 10);
  DebugLine(line);
  ASSERT_EQ(g_pieces.size(), 2u);
  EXPECT_EQ(g_pieces[0], line.substr(0, 128));
  EXPECT_EQ(g_pieces[1], line.substr(128) + "\r\n");
}

TEST_F(DebugChannel, PieceBoundaries) {
  struct Row {
    size_t length;
    std::vector<size_t> pieces;
  } rows[] = {
      {0, {2}},
      {126, {128}},
      {127, {128, 1}},     // the line end is split over two pieces
      {128, {128, 2}},
      {300, {128, 128, 46}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.length);
    g_pieces.clear();
    DebugLine(std::string(r.length, 'x'));
    std::vector<size_t> sizes;
    std::string joined;
    for (const std::string& p : g_pieces) {
      sizes.push_back(p.size());
      joined += p;
    }
    EXPECT_EQ(sizes, r.pieces);
    EXPECT_EQ(joined, std::string(r.length, 'x') + "\r\n");
  }
}

TEST_F(DebugChannel, WritesWaitForLineEndOrFullBuffer) {
  DebugWrite("abc");
  DebugWrite("def");
  EXPECT_TRUE(g_pieces.empty());
  DebugLine("!");
  ASSERT_EQ(g_pieces.size(), 1u);
  EXPECT_EQ(g_pieces[0], "abcdef!\r\n");

  g_pieces.clear();
  DebugWrite(std::string(100, 'a'));
  DebugWrite(std::string(100, 'b'));  // fills the buffer across two writes
  ASSERT_EQ(g_pieces.size(), 1u);
  EXPECT_EQ(g_pieces[0], std::string(100, 'a') + std::string(28, 'b'));
  DebugFlush();
  ASSERT_EQ(g_pieces.size(), 2u);
  EXPECT_EQ(g_pieces[1], std::string(72, 'b'));
  DebugFlush();  // nothing left: no empty piece
  EXPECT_EQ(g_pieces.size(), 2u);
}

TEST_F(DebugChannel, LinePidAndNoViewer) {
  auto saved = Platform().processId;
  Platform().processId = [] { return uint32_t(4242); };
  DebugLinePid(" ==== STUB START ====> ");
  Platform().processId = saved;
  ASSERT_EQ(g_pieces.size(), 1u);
  EXPECT_EQ(g_pieces[0], "4242 ==== STUB START ====> \r\n");

  SetDebugSender(nullptr);  // text is discarded, the buffer still empties
  DebugLine(std::string(300, 'z'));
  SetDebugSender(CollectPiece);
  DebugLine("next");
  EXPECT_EQ(g_pieces.back(), "next\r\n");
}

TEST_F(DebugChannel, WritingDuringSendKeepsBothTexts) {
  SetDebugSender(ReentrantPiece);
  DebugLine("outer");
  SetDebugSender(CollectPiece);
  ASSERT_EQ(g_pieces.size(), 2u);
  EXPECT_EQ(g_pieces[0], "outer\r\n");
  EXPECT_EQ(g_pieces[1], "inner\r\n");
}

// ---- log file ----

TEST(LogFile, PathFor) {
  struct Row {
    const char* exe;
    const char* log;
  } rows[] = {
      {"C:\\Prog\\Tool.exe", "C:\\Prog\\X_Tool.log"},
      {"C:\\Prog\\X_Tool.exe", "C:\\Prog\\X_Tool.log"},
      {"C:\\Prog\\x_tool.exe", "C:\\Prog\\X_x_tool.log"},  // prefix test is case-exact
      {"C:\\Prog.d\\Tool", "C:\\Prog.d\\X_Tool.log"},
      {"C:\\Prog\\Tool.v2.exe", "C:\\Prog\\X_Tool.v2.log"},
      {"Tool.exe", "X_Tool.log"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.exe);
    EXPECT_EQ(LogFilePathFor(r.exe), r.log);
  }
}

TEST(LogFile, LineFormat) {
  double t = EncodeDateTime(2026, 12, 6, 14, 5, 9);
  struct Row {
    uint32_t thread;
    const char* tag;
    const char* msg;
    char ds, ts;
    const char* want;
  } rows[] = {
      {123, "   ", "=== START === C:\\T.exe", '/', ':', "06/12/26 14:05:09   123   === START === C:\\T.exe\r\n"},
      {7, " X ", "", '/', ':', "06/12/26 14:05:09     7 X \r\n"},
      {1234567, "   ", "m", '.', '.', "06.12.26 14.05.09 1234567   m\r\n"},  // long id in full
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.want);
    EXPECT_EQ(FormatLogLine(t, r.thread, r.tag, r.msg, r.ds, r.ts), r.want);
  }
}

std::vector<std::pair<std::string, std::string>> g_appended;
bool RecordAppend(const std::string& path, const std::string& bytes) {
  g_appended.emplace_back(path, bytes);
  return true;
}
double LogClock() { return EncodeDateTime(2026, 1, 2, 3, 4, 5); }

TEST(LogFile, AppendLogFollowsSwitchTagAndFixedPath) {
  g_appended.clear();
  SetProcessCommandLine("C:\\Prog\\X_Tool.exe", "C:\\Prog\\X_Tool.exe");
  SetLogAppender(RecordAppend);
  SetClock(LogClock);
  auto savedTid = Platform().threadId;
  Platform().threadId = [] { return uint32_t(42); };

  SetLogSwitch(false);
  AppendLog("dropped");
  EXPECT_TRUE(g_appended.empty());

  SetLogSwitch(true);
  SetLogTag(" X ");
  SetLogSeparators('-', '.');
  AppendLog("DoRunStubWin() --- Start");
  // The path was fixed by the first line; a later change of the program's
  // path does not move the log.
  SetProcessCommandLine("D:\\Other\\Tool.exe", "D:\\Other\\Tool.exe");
  AppendLog("");

  ASSERT_EQ(g_appended.size(), 2u);
  EXPECT_EQ(g_appended[0].first, "C:\\Prog\\X_Tool.log");
  EXPECT_EQ(g_appended[0].second, "02-01-26 03.04.05    42 X DoRunStubWin() --- Start\r\n");
  EXPECT_EQ(g_appended[1].first, "C:\\Prog\\X_Tool.log");
  EXPECT_EQ(g_appended[1].second, "02-01-26 03.04.05    42 X \r\n");
  EXPECT_EQ(LogFilePath(), "C:\\Prog\\X_Tool.log");

  Platform().threadId = savedTid;
  SetClock(nullptr);
  SetLogAppender(nullptr);
  SetLogSwitch(false);
  SetLogTag("   ");
  SetLogSeparators('/', ':');
  SetProcessCommandLine("", "");
}

}  // namespace
