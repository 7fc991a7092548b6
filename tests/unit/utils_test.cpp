#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "paths/platform.h"
#include "paths/utils.h"

namespace {

// ---- delimited lists ----

TEST(Lists, CountAndItem) {
  struct Row {
    const char* list;
    int index;
    int count;
    const char* item;
  } rows[] = {
      {"|a||c|", 0, 3, "a"},
      {"|a||c|", 1, 3, "<def>"},  // empty item gives the default
      {"|a||c|", 2, 3, "c"},
      {"|a||c|", 3, 3, "<def>"},
      {"|a|b", 0, 0, "a"},        // unclosed list counts nothing ...
      {"|a|b", 1, 0, "<def>"},    // ... and its unclosed last piece is no item
      {"", 0, 0, "<def>"},
      {"|", 0, 0, "<def>"},
      {"||JAN|FEB|", 1, 3, "JAN"},
      {"\x02one\x02two\x02", 1, 2, "two"},
      {"|a|b|", -1, 2, "<def>"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.list) + " @" + std::to_string(r.index));
    EXPECT_EQ(ListCount(r.list), r.count);
    EXPECT_EQ(ListItem(r.list, r.index, "<def>"), r.item);
  }
}

TEST(Lists, ItemInt) {
  EXPECT_EQ(ListItemInt("|12|x||-7|", 0, 99), 12);
  EXPECT_EQ(ListItemInt("|12|x||-7|", 1, 99), 99);
  EXPECT_EQ(ListItemInt("|12|x||-7|", 2, 99), 99);
  EXPECT_EQ(ListItemInt("|12|x||-7|", 3, 99), -7);
  EXPECT_EQ(ListItemInt("|12|x||-7|", 4, 99), 99);
}

TEST(Lists, SetItem) {
  struct Row {
    std::string list;
    int index;
    std::string value;
    std::string want;
  } rows[] = {
      {"|a|b|", 1, "z", "|a|z|"},
      {"|a|b|", 3, "x", "|a|b||x|"},
      {"|a|b|", 0, "p|q", "^p|q^b^"},
      {"", 0, "x", "|x|"},
      {"", 2, "x", "|||x|"},
      {"|a|b|", 0, "|^!~", "@|^!~@b@"},
      // The old separator is not kept: a list rewritten from ^ goes back to |.
      {"^a^b^", 1, "c", "|a|c|"},
      {"|a|b|", 0, std::string("|^!~@#$&*\xFF"), std::string("\0|^!~@#$&*\xFF\0b\0", 14)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.list + " @" + std::to_string(r.index) + " = " + r.value);
    EXPECT_EQ(SetListItem(r.list, r.index, r.value), r.want);
  }
}

TEST(Lists, Value) {
  const std::string list = "|Name=Joe| Size =3|Empty=|Pad= x|";
  struct Row {
    std::string list;
    std::string key;
    std::string want;
  } rows[] = {
      {list, "name", "Joe"},
      {list, "Size=", "3"},     // blank after the separator and before "=" ignored
      {list, "SIZE", "3"},
      {list, "Pad", " x"},      // a blank after "=" stays
      {list, "Empty", "<empty>"},
      {list, "Missing", "<def>"},
      {list, "ame", "<def>"},   // keys match whole from the separator
      {"|a=1", "a", "<def>"},   // not framed by the separator
      {"||", "", "<def>"},
      {"#k=v#", "k", "v"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.list + " " + r.key);
    EXPECT_EQ(ListValue(r.list, r.key, "<def>", "<empty>"), r.want);
  }
}

// ---- text helpers ----

TEST(Text, TrimAndCase) {
  EXPECT_EQ(Trim(" \t\r\n ab c\x01 "), "ab c");
  EXPECT_EQ(Trim("\xE9x\xA0"), "\xE9x\xA0");  // bytes above 127 are text
  EXPECT_EQ(UpperCase("ab\xE9z"), "AB\xE9Z");
  EXPECT_EQ(LowerCase("AB\xC9Z"), "ab\xC9z");
  EXPECT_TRUE(SameText("Tool.EXE", "tool.exe"));
  EXPECT_FALSE(SameText("\xE9", "\xC9"));
  EXPECT_TRUE(SameTextTrim("  X_Tool.exe ", "x_tool.EXE"));
}

TEST(Text, BeforeAfter) {
  EXPECT_EQ(TextBefore("key=val=2", "=", "d"), "key");
  EXPECT_EQ(TextAfter("key=val=2", "=", "d"), "val=2");
  EXPECT_EQ(TextBefore("abc", "=", "d"), "d");
  EXPECT_EQ(TextAfter("abc", "=", "d"), "d");
}

TEST(Text, StripQuotes) {
  struct Row {
    const char* text;
    bool force, single;
    const char* want;
  } rows[] = {
      {"\"", false, false, ""},
      {"\"\"x\"\"", false, false, "x"},
      {"\"\"x\"\"", false, true, "\"x\""},
      {"\"x", false, false, "\"x"},  // not framed, not forced
      {"\"x", true, false, "x"},
      {"x\"", true, true, "x"},
      {"ab", true, false, "ab"},
      {"\"\"", false, true, ""},
      {"", true, false, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(StripQuotes(r.text, '"', r.force, r.single), r.want);
  }
  EXPECT_EQ(TrimStripQuotes("  \"\"C:\\a b\"  "), "C:\\a b");
}

TEST(Text, Replace) {
  EXPECT_EQ(ReplaceText("a.a.a", "a", "aa"), "aa.aa.aa");  // no second pass over inserted text
  EXPECT_EQ(ReplaceText("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceText("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceText("ABC", "b", "x"), "ABC");
  EXPECT_EQ(ReplaceTextNoCase("<WinDir>\\x<windir>", "<WINDIR>", "C:\\W"), "C:\\W\\xC:\\W");
  EXPECT_EQ(ReplaceTextNoCase("KeepCase", "CASE", "Mode"), "KeepMode");
}

TEST(Text, Positions) {
  struct Row {
    const char* part;
    const char* text;
    int pos, noCase, last, lastNoCaseFromEnd;
  } rows[] = {
      {"bc", "abcABC", 2, 2, 2, 1},
      {"BC", "abcabc", 0, 2, 0, 1},
      {"x", "abc", 0, 0, 0, 0},
      {"", "abc", 0, 0, 0, 0},
      {"abcd", "abc", 0, 0, 0, 0},
      {"ab", "abxxab", 1, 1, 5, 1},  // last "ab" ends at the text's end
      {"ab", "abxxabyy", 1, 1, 5, 3},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.part) + " in " + r.text);
    EXPECT_EQ(PosText(r.part, r.text), r.pos);
    EXPECT_EQ(PosNoCase(r.part, r.text), r.noCase);
    EXPECT_EQ(LastPos(r.part, r.text), r.last);
    EXPECT_EQ(LastPosNoCaseFromEnd(r.part, r.text), r.lastNoCaseFromEnd);
  }
}

TEST(Text, PosFrom) {
  EXPECT_EQ(PosFrom("a", "abab", 1, false), 1);
  EXPECT_EQ(PosFrom("a", "abab", 2, false), 3);  // counted from the text's start
  EXPECT_EQ(PosFrom("A", "abab", 2, false), 0);
  EXPECT_EQ(PosFrom("A", "abab", 2, true), 3);
  EXPECT_EQ(PosFrom("b", "abab", 4, false), 4);
  EXPECT_EQ(PosFrom("a", "abab", 5, false), 0);
}

TEST(Text, StartsEnds) {
  EXPECT_TRUE(StartsWith("HK", "hkey_users", true));
  EXPECT_FALSE(StartsWith("HK", "hkey_users", false));
  EXPECT_FALSE(StartsWith("abcd", "abc", true));
  EXPECT_TRUE(EndsWith(".EXE", "x.exe", true));
  EXPECT_FALSE(EndsWith(".EXE", "x.exe", false));
  EXPECT_FALSE(EndsWith("long.exe", "exe", true));
}

TEST(Text, SmallHelpers) {
  EXPECT_EQ(ReverseText("abc"), "cba");
  EXPECT_EQ(PadLeft("7", 3, ' '), "  7");
  EXPECT_EQ(PadLeft("12345", 3, ' '), "12345");  // never cut
  EXPECT_EQ(ZeroPad(5, 2), "05");
  EXPECT_EQ(ZeroPad(123, 2), "123");
  EXPECT_EQ(ZeroPad(-5, 3), "-05");
  EXPECT_EQ(ReplaceChar("a/b/c", '/', '\\'), "a\\b\\c");
  EXPECT_EQ(ReplaceChar("aaa", 'a', 'a'), "aaa");
  EXPECT_EQ(BoolText(true), "TRUE");
  EXPECT_EQ(BoolText(false), "FALSE");
}

TEST(Text, HexToInt) {
  struct Row {
    const char* text;
    uint64_t want;
  } rows[] = {
      {"FF", 255},          {"0xff", 255},   {" 0X1a2B ", 0x1A2B}, {"", 0},
      {"0x", 0},            {"10", 16},      {"FFFFFFFFFFFFFFFF", 0xFFFFFFFFFFFFFFFFull},
      {"80000002", 0x80000002u},  // above 32 bits of a signed long
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(HexToInt(r.text), r.want);
  }
}

TEST(Text, DecimalNumbers) {
  struct Row {
    const char* text;
    bool ok;
    int64_t value;
  } rows[] = {
      {"0", true, 0},
      {" 42 ", true, 42},
      {"-17", true, -17},
      {"+8", true, 8},
      {"4294967296", true, 4294967296LL},  // beyond 32 bits (Windows long)
      {"9223372036854775807", true, INT64_MAX},
      {"-9223372036854775808", true, INT64_MIN},
      {"9223372036854775808", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"TRUE", false, 0},
      {"12a", false, 0},
      {"1 2", false, 0},
      {"0x10", false, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    int64_t v = -1;
    EXPECT_EQ(TryStrToInt64(r.text, v), r.ok);
    if (r.ok) {
      EXPECT_EQ(v, r.value);
    }
    EXPECT_EQ(StrToInt64Def(r.text, -99), r.ok ? r.value : -99);
  }
  EXPECT_EQ(IntToStr(-4294967296LL), "-4294967296");
}

TEST(Text, FixedText) {
  struct Row {
    double value;
    int decimals;
    const char* text;
  } rows[] = {
      {0, 3, "0.000"},          {12.5, 2, "12.50"},     {0.0625, 3, "0.063"},  // half rounds up
      {9.995, 1, "10.0"},       {1234567.891, 0, "1234568"}, {0.5, 0, "1"},
      {-3.2, 2, "0.00"},        {1e-12, 2, "0.00"},    {1048576.0 / 3, 2, "349525.33"},
      {std::nan(""), 1, "0.0"}, {4.25, 12, "4.250000000"},  // at most nine decimals
  };
  for (const Row& r : rows) EXPECT_EQ(FixedText(r.value, r.decimals), r.text) << r.value << " " << r.decimals;
}

TEST(Text, RandomRange) {
  std::set<int64_t> seen;
  for (int i = 0; i < 200; ++i) {
    int64_t v = RandomRange(3, 6);
    EXPECT_GE(v, 3);
    EXPECT_LE(v, 6);
    seen.insert(v);
  }
  EXPECT_EQ(seen.size(), 4u);  // both ends are reachable
  int64_t n = StrToInt64Def(RandomRangeText(10000, 100000), -1);
  EXPECT_GE(n, 10000);
  EXPECT_LE(n, 100000);
}

// ---- command line ----

TEST(CommandLine, Tail) {
  struct Row {
    const char* raw;
    const char* exe;
    const char* tail;
  } rows[] = {
      {"\"C:\\Prog Files\\Tool.exe\" /STOP=1", "C:\\Prog Files\\Tool.exe", "/STOP=1"},
      {"\"c:\\prog files\\tool.EXE\"  /a /b ", "C:\\Prog Files\\Tool.exe", "/a /b"},
      {"C:\\T\\Tool.exe /x", "C:\\T\\Tool.exe", "/x"},
      {"C:\\T\\Tool.exe", "C:\\T\\Tool.exe", ""},
      // Started under another spelling: the first argument is still dropped.
      {"Tool.exe /WAIT=3", "C:\\T\\Tool.exe", "/WAIT=3"},
      {"\"..\\T\\Tool.exe\" /WAIT=3", "C:\\T\\Tool.exe", "/WAIT=3"},
      {"Tool /x", "", "/x"},
      // An argument naming the program's own file is an argument, not the program.
      {"C:\\T\\Setup.exe /SpanDiskFName1=\"C:\\T\\Setup.exe\"", "C:\\T\\Setup.exe",
       "/SpanDiskFName1=\"C:\\T\\Setup.exe\""},
      {"\"C:\\T\\Setup.exe\" /a C:\\T\\Setup.exe", "C:\\T\\Setup.exe", "/a C:\\T\\Setup.exe"},
      // A command line without the program's name: its first switch is kept.
      {"/hide /X=1", "C:\\T\\Setup.exe", "/hide /X=1"},
      {"  /STOP=0", "C:\\T\\Tool.exe", "/STOP=0"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.raw);
    EXPECT_EQ(CommandTailOf(r.raw, r.exe), r.tail);
  }
}

TEST(CommandLine, SwitchValue) {
  struct Row {
    const char* tail;
    const char* sw;
    const char* value;
  } rows[] = {
      {"/wait=250 /STOP=1", "/WAIT=", "250"},
      {"/STOP=1 /WAIT=", "/WAIT=", "TRUE"},
      {"/STOP=12 /X", "/STOP=", "12"},
      {"/TEST=5/WAIT=1", "/TEST=", "5"},
      {"/TEST=5/WAIT=1", "/WAIT=", "1"},
      {"/TRANSIENT=\"C:\\My Files\\a b.txt\" /X", "/TRANSIENT=", "C:\\My Files\\a b.txt"},
      {"/OriginExe=\"C:\\a/b c", "/OriginExe=", "C:\\a/b c"},  // unclosed quote runs to the end
      {"/STOP= /X", "/STOP=", ""},
      {"/X", "/STOP=", ""},
      {"/SleepX=-1", "/sleepx=", "-1"},
      {"/WM_MSG=1234:5", "/WM_MSG=", "1234:5"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.tail) + " " + r.sw);
    EXPECT_EQ(SwitchValueIn(r.tail, r.sw), r.value);
  }
}

TEST(CommandLine, SwitchIntAndPresence) {
  EXPECT_EQ(SwitchIntIn("/wait=250", "/WAIT=", 7), 250);
  EXPECT_EQ(SwitchIntIn("/x /WAIT=", "/WAIT=", 7), 7);  // "TRUE" is no number
  EXPECT_EQ(SwitchIntIn("/WAIT= /x", "/WAIT=", 7), 7);
  EXPECT_EQ(SwitchIntIn("/x", "/STOP=", -1), -1);
  EXPECT_EQ(SwitchIntIn("/STOP=abc", "/STOP=", -1), -1);
  EXPECT_EQ(SwitchIntIn("/STOP=0", "/STOP=", -1), 0);
  EXPECT_TRUE(SwitchPresentIn("/HIDE", "/hide"));
  EXPECT_TRUE(SwitchPresentIn("/HIDEME", "/hide"));  // plain substring test
  EXPECT_FALSE(SwitchPresentIn("/x", "/hide"));
}

TEST(CommandLine, ProcessWide) {
  SetProcessCommandLine("\"C:\\T\\Tool.exe\" /stop=3 /hide", "C:\\T\\Tool.exe");
  EXPECT_EQ(CommandTail(), "/stop=3 /hide");
  EXPECT_EQ(SwitchInt("/STOP=", -1), 3);
  EXPECT_TRUE(SwitchPresent("/HIDE"));
  EXPECT_EQ(SwitchValue("/hide"), "TRUE");
  EXPECT_EQ(OwnFolder(true), "C:\\T\\");
  EXPECT_EQ(OwnFolder(false), "C:\\T");
  SetProcessCommandLine("C:\\Tool.exe", "C:\\Tool.exe");
  EXPECT_EQ(OwnFolder(true), "C:\\");
  SetProcessCommandLine("", "");
}

// ---- paths ----

// Pretends 0x81 is a lead byte, as in a double-byte code page.
class DbcsPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = Platform().isDbcsLeadByte;
    Platform().isDbcsLeadByte = [](uint8_t c) { return c == 0x81; };
  }
  void TearDown() override { Platform().isDbcsLeadByte = saved_; }
  bool (*saved_)(uint8_t) = nullptr;
};

TEST_F(DbcsPaths, NormalizeDirSlash) {
  struct Row {
    const char* path;
    bool add;
    const char* want;
  } rows[] = {
      {"C:\\Temp\\", false, "C:\\Temp"},
      {"C:\\Temp", true, "C:\\Temp\\"},
      {"C:\\Temp\\", true, "C:\\Temp\\"},
      {"C:\\", false, "C:"},
      {"C:", true, "C:\\"},
      {"\\", false, "\\"},
      {"\\", true, "\\"},  // not doubled into a network prefix
      {"", true, ""},      // no folder does not become the root
      {"C:\\\x81\\", false, "C:\\\x81\\"},  // trail byte, not a separator
      {"C:\\\x81\\", true, "C:\\\x81\\\\"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.path);
    EXPECT_EQ(NormalizeDirSlash(r.path, r.add), r.want);
  }
}

TEST_F(DbcsPaths, RemoveTrailingBackslash) {
  EXPECT_EQ(RemoveTrailingBackslash("\\"), "");
  EXPECT_EQ(RemoveTrailingBackslash("C:\\"), "C:");
  EXPECT_EQ(RemoveTrailingBackslash("a\\"), "a");
  EXPECT_EQ(RemoveTrailingBackslash("a"), "a");
  EXPECT_EQ(RemoveTrailingBackslash("a\x81\\"), "a\x81\\");
}

TEST_F(DbcsPaths, CollapseDoubleSlashes) {
  struct Row {
    const char* text;
    bool removeTrailing;
    const char* want;
  } rows[] = {
      {"C:\\a\\\\b", false, "C:\\a\\b"},
      {"C:\\a\\\\\\b", false, "C:\\a\\b"},  // three in a row become one
      {"\\\\server\\share\\\\x", false, "\\\\server\\share\\x"},
      {"\\\\\\server", false, "\\\\server"},  // pair at 2-3 reduced: UNC keeps two
      {"C:\\a\\\\", false, "C:\\a\\\\"},      // pair that ends the text stays
      {"C:\\a\\\\", true, "C:\\a\\"},
      {"C:\\a\\", true, "C:\\a"},
      {"a\\\\", false, "a\\\\"},
      {"\\\\", false, "\\\\"},
      {"C:\\\x81\\\\x", false, "C:\\\x81\\\\x"},  // pair after a lead byte
      // Framed list item: a pair right after the framing character stays.
      {"|x|\\\\srv\\\\a|", false, "|x|\\\\srv\\a|"},
      {"x|\\\\srv", false, "x|\\srv"},  // not framed: reduced
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(CollapseDoubleSlashes(r.text, r.removeTrailing), r.want);
  }
}

TEST(Paths, FileNameParts) {
  struct Row {
    const char* path;
    const char* name;
    const char* dir;
    const char* ext;
  } rows[] = {
      {"C:\\a\\Tool.exe", "Tool.exe", "C:\\a", ".exe"},
      {"C:\\a.b\\Tool", "Tool", "C:\\a.b", ""},
      {"C:/a/x.tar.gz", "x.tar.gz", "C:/a", ".gz"},
      {"C:Tool.exe", "Tool.exe", "C:", ".exe"},
      {"Tool.exe", "Tool.exe", "", ".exe"},
      {"C:\\Tool.exe", "Tool.exe", "C:", ".exe"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.path);
    EXPECT_EQ(ExtractFileName(r.path), r.name);
    EXPECT_EQ(ExtractFileDir(r.path), r.dir);
    EXPECT_EQ(ExtractFileExt(r.path), r.ext);
  }
  EXPECT_EQ(ChangeFileExt("C:\\a\\Tool.exe", ".log"), "C:\\a\\Tool.log");
  EXPECT_EQ(ChangeFileExt("C:\\a.b\\Tool", ".log"), "C:\\a.b\\Tool.log");
}

// ---- registry paths ----

TEST(Registry, SplitRegPath) {
  struct Row {
    const char* path;
    uint32_t root;
    const char* sub;
  } rows[] = {
      {"HKLM\\Software\\X", 0x80000002u, "Software\\X"},
      {"Software\\X", 0x80000001u, "Software\\X"},
      {"hkey_users", 0x80000003u, ""},
      {"  HKEY_CLASSES_ROOT\\.txt ", 0x80000000u, ".txt"},
      {"HKCC\\a", 0x80000005u, "a"},
      {"HKDD\\a", 0x80000006u, "a"},
      {"hku\\S-1\\x", 0x80000003u, "S-1\\x"},
      {"HKXX\\a", 0x80000001u, "a"},  // unknown root name
      {"HKLMX\\a", 0x80000001u, "a"}, // names compare whole
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.path);
    uint32_t root = 0;
    std::string sub = "junk";
    SplitRegPath(r.path, root, sub);
    EXPECT_EQ(root, r.root);
    EXPECT_EQ(sub, r.sub);
  }
}

// ---- scrambling ----

TEST(Scramble, RoundTripAndFormat) {
  const std::string texts[] = {"", "a", "Hello, World! [Section]\r\nKey=Value", std::string("\x00\xFF\x80z", 4),
                               std::string(600, 'q')};
  for (const std::string& t : texts) {
    SCOPED_TRACE(t.size());
    std::string s = ScrambleText(t, true);
    ASSERT_EQ(s.size(), t.size() + 13);
    EXPECT_EQ(s.substr(0, 12), "Scrambled=01");
    EXPECT_GE(uint8_t(s[12]), 33);
    EXPECT_LE(uint8_t(s[12]), 122);
    EXPECT_EQ(ScrambleText(s, false), t);
    EXPECT_EQ(ScrambleText(s, true), s);  // already scrambled
  }
}

TEST(Scramble, KnownBodyAndPlainText) {
  // Key '!' (33): even positions XOR (i + 34), odd positions XOR (i - 32) mod 256.
  std::string body;
  const std::string plain = "abc";
  body += char('a' ^ 34);
  body += char('b' ^ ((1 - 33 + 1) & 0xFF));
  body += char('c' ^ 36);
  EXPECT_EQ(ScrambleText("Scrambled=01!" + body, false), plain);
  EXPECT_EQ(ScrambleText("plain text", false), "plain text");
  EXPECT_EQ(ScrambleText("Scrambled=01", false), "");
}

// ---- time ----

TEST(Time, EncodeDecode) {
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1, 0, 0, 0), 2.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 12, 0, 0), 36526.5);
  struct Row {
    int y, mo, d, h, mi, s;
  } rows[] = {{2026, 12, 6, 14, 5, 9}, {2000, 2, 29, 23, 59, 59}, {1980, 1, 1, 0, 0, 0}, {2107, 12, 31, 0, 0, 1}};
  for (const Row& r : rows) {
    int y, mo, d, h, mi, s;
    DecodeDateTime(EncodeDateTime(r.y, r.mo, r.d, r.h, r.mi, r.s), y, mo, d, h, mi, s);
    EXPECT_EQ(y, r.y);
    EXPECT_EQ(mo, r.mo);
    EXPECT_EQ(d, r.d);
    EXPECT_EQ(h, r.h);
    EXPECT_EQ(mi, r.mi);
    EXPECT_EQ(s, r.s);
  }
  // Fractions of a second are cut, not rounded into the next second or day.
  int y, mo, d, h, mi, s;
  DecodeDateTime(EncodeDateTime(2026, 12, 31, 23, 59, 59) + 0.7 / 86400, y, mo, d, h, mi, s);
  EXPECT_EQ(y * 10000 + mo * 100 + d, 20261231);
  EXPECT_EQ(h * 10000 + mi * 100 + s, 235959);
}

TEST(Time, Stamps) {
  double dt = EncodeDateTime(2026, 12, 6, 14, 5, 9);
  EXPECT_EQ(DateStampText(dt), "06-DEC-2026");
  EXPECT_EQ(LogTimeStamp(dt), "06-DEC-2026  14:05:09");
  EXPECT_EQ(ShortTimeStamp(dt), "06/12/26 14:05:09");
  EXPECT_EQ(ShortTimeStamp(dt, '.', '-'), "06.12.26 14-05-09");
  EXPECT_EQ(DateStampText(EncodeDateTime(2001, 1, 9, 0, 0, 0)), "09-JAN-2001");
  EXPECT_EQ(ShortTimeStamp(EncodeDateTime(2000, 3, 1, 0, 0, 0)), "01/03/00 00:00:00");
}

double FixedClock() { return EncodeDateTime(2026, 12, 6, 14, 5, 9) + 0.6 / 86400; }

TEST(Time, InjectedClock) {
  SetClock(FixedClock);
  EXPECT_DOUBLE_EQ(NowDateTime(), FixedClock());
  // Whole seconds since 1899-12-30, rounded to the nearest.
  EXPECT_EQ(NowSeconds(), (int64_t(46362) * 86400 + 14 * 3600 + 5 * 60 + 9) + 1);
  SetClock(nullptr);
  // The real clock is somewhere after 2020 and before 2200.
  EXPECT_GT(NowDateTime(), EncodeDateTime(2020, 1, 1, 0, 0, 0));
  EXPECT_LT(NowDateTime(), EncodeDateTime(2200, 1, 1, 0, 0, 0));
}

TEST(Time, DosDateTime) {
  double dt = EncodeDateTime(2026, 12, 6, 14, 5, 9);
  uint32_t dos = DateTimeToDos(dt);
  EXPECT_EQ(dos >> 16, uint32_t((2026 - 1980) << 9 | 12 << 5 | 6));
  EXPECT_EQ(dos & 0xFFFF, uint32_t(14 << 11 | 5 << 5 | 4));  // two-second steps
  EXPECT_DOUBLE_EQ(DosToDateTime(dos), EncodeDateTime(2026, 12, 6, 14, 5, 8));
  EXPECT_EQ(DateTimeToDos(EncodeDateTime(1970, 5, 5, 1, 1, 1)), DateTimeToDos(EncodeDateTime(1980, 1, 1, 0, 0, 0)));
  EXPECT_DOUBLE_EQ(DosToDateTime(0), 0.0);                            // month 0
  EXPECT_DOUBLE_EQ(DosToDateTime((46u << 9 | 2 << 5 | 30) << 16), 0.0);  // 30 February
  EXPECT_NE(DosToDateTime((20u << 9 | 2 << 5 | 29) << 16), 0.0);        // 29 February 2000
}

}  // namespace
