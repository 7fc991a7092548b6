// Paths (UTF-8) at the Win32 boundary: files under names the ANSI code page
// cannot hold, the forms handed to ANSI readers, and the log's line form.
// Runs under Wine with code page 1252.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/widepath_win.h"
#include "setup/files_win.h"

namespace {

class UnicodeFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetACP(), 1252u) << "these cases assume the ANSI code page 1252";
    root_ = TempDir(true) +
            "widepath-\xC5\x81\xC3\xB3"
            "d\xC5\xBA \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";
    DeleteTree(root_, false);
    ASSERT_TRUE(ForceDirectories(root_));
  }
  void TearDown() override { DeleteTree(root_, false); }
  std::string root_;
};

TEST_F(UnicodeFolder, FilesAreMadeReadAndRemovedUnderTheirRealNames) {
  std::string file = root_ + "\\M\xC3\xBCller.txt";
  ASSERT_TRUE(WriteFileText(file, "abc", 0, false));
  EXPECT_TRUE(IsExistingFile(file));
  EXPECT_EQ(FileSizeByName(file), 3);
  // The wide functions see the very name.
  std::wstring wide = WidePath(file);
  EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(PathFromWide(wide.c_str()), file);
  DeleteTree(root_, false);
  EXPECT_FALSE(IsExistingFolder(root_));
}

TEST_F(UnicodeFolder, AnsiReadersGetTheShortFormOnlyWhenTheyNeedIt) {
  bool exact = true;
  PathInCodePage(root_, CP_ACP, &exact);
  EXPECT_FALSE(exact);
  std::string readable = AnsiReadablePath(root_);
  std::string shortForm = ShortPathOf(root_);
  if (shortForm.empty()) GTEST_SKIP() << "no short names on this volume";
  EXPECT_EQ(readable, shortForm);
  PathInCodePage(readable, CP_ACP, &exact);
  EXPECT_TRUE(exact) << readable;
  // The ANSI functions open what they are given.
  std::string ansi = PathInCodePage(readable, CP_ACP);
  EXPECT_NE(GetFileAttributesA(ansi.c_str()), INVALID_FILE_ATTRIBUTES) << ansi;

  // A path that code page holds goes unchanged, byte for byte.
  std::string inside = "C:\\J\xC3\xB6s\xC3\xA9\\Setup.exe";
  EXPECT_EQ(AnsiReadablePath(inside), inside);
  EXPECT_EQ(PathInCodePage(inside, CP_ACP), "C:\\J\xF6s\xE9\\Setup.exe");
}

TEST(PathForms, ConversionsTable) {
  struct Row {
    const char* path;  // UTF-8
    const char* ansi;  // its form in code page 1252
    bool exact;
  } rows[] = {
      {"C:\\Plain\\a.txt", "C:\\Plain\\a.txt", true},
      {"C:\\J\xC3\xB6s\xC3\xA9", "C:\\J\xF6s\xE9", true},
      {"C:\\\xE2\x82\xAC", "C:\\\x80", true},  // the euro sign is 0x80 in 1252
      {"C:\\\xC5\x81\xC3\xB3"
       "d\xC5\xBA",
       "C:\\?\xF3"
       "d?",
       false},                                    // no best fit: Ł is not L
      {"C:\\\xF0\x9F\x98\x80", "C:\\??", false},  // outside the BMP: two units, two '?'
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.path);
    bool exact = !r.exact;
    EXPECT_EQ(PathInCodePage(r.path, CP_ACP, &exact), r.ansi);
    EXPECT_EQ(exact, r.exact);
    if (r.exact) EXPECT_EQ(PathFromAnsi(r.ansi), r.path);
  }
  // Bytes that are not UTF-8 came from an 8-bit source: read in the ANSI code page.
  EXPECT_EQ(PathFromWide(WidePath("C:\\J\xF6s\xE9").c_str()), "C:\\J\xC3\xB6s\xC3\xA9");
}

TEST(PathForms, LogLinesKeepTheirBytesWhereTheCodePageHoldsThem) {
  struct Row {
    const char* line;
    const char* written;
  } rows[] = {
      {"WinExec: C:\\Plain\\X_A.exe", "WinExec: C:\\Plain\\X_A.exe"},
      {"WinExec: C:\\J\xC3\xB6s\xC3\xA9\\X_A.exe", "WinExec: C:\\J\xF6s\xE9\\X_A.exe"},  // as before
      {"WinExec: C:\\\xC5\x81"
       "d\xC5\xBA\\X_A.exe",
       "WinExec: C:\\\xC5\x81"
       "d\xC5\xBA\\X_A.exe"},                    // stays UTF-8
      {"Text: M\xF6glich", "Text: M\xF6glich"},  // an 8-bit text is not touched
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    EXPECT_EQ(LineForAnsiReader(r.line), r.written);
  }
}

}  // namespace
