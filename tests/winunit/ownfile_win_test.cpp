// The own file held from the start: opened so that nobody can change it,
// checked against the file the program was loaded from, and read, streamed
// and copied through the one handle.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

#include "package/gfileinfo.h"
#include "package/package_writer.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/widepath_win.h"
#include "process/ownfile_win.h"
#include "setup/files_win.h"
#include "setup/heldpackage_win.h"

namespace {

class OwnFileWin : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = TempDir(true) + "zs_ownfile_" + std::to_string(GetCurrentProcessId()) + "_" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name();
    DeleteTree(dir, true);
    ASSERT_TRUE(ForceDirectories(dir));
  }
  void TearDown() override { DeleteTree(dir, true); }
  std::string P(const std::string& name) const { return dir + "\\" + name; }
  std::string dir;
};

struct Attempt {
  const char* what;
  bool allowed;
};

TEST_F(OwnFileWin, TheRunningProgramIsHeldAgainstWritersRenamesAndDeletes) {
  const std::string self = OwnExePathWin();
  // The names of one file in the forms a user or a shortcut may start it by.
  for (const std::string& path : {self, LowerCase(self), "\\\\?\\" + self}) {
    HANDLE h = INVALID_HANDLE_VALUE;
    std::string why;
    ASSERT_EQ(OpenAsImageOf(path, GetModuleHandleW(nullptr), h, why), OwnFileCheck::Held) << path << ": " << why;
    CloseHandle(h);
  }

  HANDLE h = INVALID_HANDLE_VALUE;
  std::string why;
  ASSERT_EQ(OpenAsImageOf(self, GetModuleHandleW(nullptr), h, why), OwnFileCheck::Held) << why;
  std::wstring wide = WidePath(self), moved = WidePath(self + ".moved");
  auto opens = [&](DWORD access, DWORD share) {
    HANDLE o = CreateFileW(wide.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (o == INVALID_HANDLE_VALUE) return false;
    CloseHandle(o);
    return true;
  };
  const Attempt attempts[] = {
      // A second start of the same setup opens it the same way.
      {"another reader", opens(GENERIC_READ, FILE_SHARE_READ)},
      {"a writer", opens(GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)},
      {"a rename", MoveFileExW(wide.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING) != 0},
      {"a delete", DeleteFileW(wide.c_str()) != 0},
  };
  // Should a rename have gone through, the program must keep its name for the next run.
  MoveFileW(moved.c_str(), wide.c_str());
  EXPECT_TRUE(attempts[0].allowed) << attempts[0].what;
  for (size_t i = 1; i < sizeof attempts / sizeof attempts[0]; ++i)
    EXPECT_FALSE(attempts[i].allowed) << attempts[i].what;
  CloseHandle(h);
}

TEST_F(OwnFileWin, AnotherFileOrOneThatCannotBeHeldIsRefused) {
  std::string copy = P("copy.exe");
  ASSERT_TRUE(CopyFileW(WidePath(OwnExePathWin()).c_str(), WidePath(copy).c_str(), FALSE));
  HANDLE h = INVALID_HANDLE_VALUE;
  std::string why;
  // The same bytes under another name are not the file the program runs from.
  EXPECT_EQ(OpenAsImageOf(copy, GetModuleHandleW(nullptr), h, why), OwnFileCheck::NotTheImage);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_NE(why.find("copy.exe"), std::string::npos) << why;
  // Nothing stays open after a refusal.
  EXPECT_TRUE(DeleteFileW(WidePath(copy).c_str()));

  EXPECT_EQ(OpenAsImageOf(P("missing.exe"), GetModuleHandleW(nullptr), h, why), OwnFileCheck::CannotOpen);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);

  // A file that someone holds open for writing could change after the check.
  ASSERT_TRUE(WriteFileText(P("written.exe"), "MZ", 0, false));
  HANDLE writer = CreateFileW(WidePath(P("written.exe")).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenAsImageOf(P("written.exe"), GetModuleHandleW(nullptr), h, why), OwnFileCheck::CannotOpen);
  CloseHandle(writer);
}

TEST_F(OwnFileWin, ReadsStreamsAndCopiesThroughTheHandle) {
  // More than one piece of the copy, with bytes that show a shifted or cut piece.
  std::string bytes(3 * 65536 + 123, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 31 + i / 65536);
  const uint32_t date = DosTimeOf(2011, 4, 5, 6, 7, 8);
  ASSERT_TRUE(WriteFileText(P("src.exe"), bytes, date, false));
  HANDLE h = CreateFileW(WidePath(P("src.exe")).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(HandleDosTime(h), date);

  // A stream starts at the file's start wherever the handle stands, and
  // closing it leaves the handle open.
  SeekFile(h, 1000, FILE_BEGIN);
  std::FILE* f = StreamOverHandle(h);
  ASSERT_TRUE(f);
  char head[4] = {};
  EXPECT_EQ(std::fread(head, 1, 4, f), 4u);
  EXPECT_EQ(std::string(head, 4), bytes.substr(0, 4));
  std::fclose(f);
  std::string whole;
  ASSERT_TRUE(ReadWholeHandle(h, whole));
  EXPECT_EQ(whole, bytes);

  // A copy carries every byte and the modification time, and replaces an older file.
  ASSERT_TRUE(WriteFileText(P("X_copy.exe"), "old and longer than nothing", 0, false));
  ASSERT_TRUE(CopyHandleTo(h, P("X_copy.exe")));
  EXPECT_EQ(ReadFilePart(P("X_copy.exe"), 0, 0), bytes);
  EXPECT_EQ(FileDosTime(P("X_copy.exe")), date);
  // A target in use (a copy that still runs) is left as it is.
  HANDLE busy = CreateFileW(WidePath(P("X_copy.exe")).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CopyHandleTo(h, P("X_copy.exe")));
  CloseHandle(busy);
  EXPECT_EQ(ReadFilePart(P("X_copy.exe"), 0, 0), bytes);
  EXPECT_FALSE(CopyHandleTo(INVALID_HANDLE_VALUE, P("none.exe")));
  EXPECT_FALSE(IsExistingFile(P("none.exe")));

  // A package held as a duplicate reads the same file; letting it go (as the
  // extraction does at a later volume) keeps the original held.
  {
    HeldPackage package;
    ASSERT_TRUE(package.HoldDuplicate(h, P("src.exe")));
    EXPECT_EQ(package.Size(), int64_t(bytes.size()));
    EXPECT_FALSE(package.Info().HasPackage());
    package.Close();
  }
  ASSERT_TRUE(ReadWholeHandle(h, whole));
  EXPECT_EQ(whole, bytes);
  HeldPackage none;
  EXPECT_FALSE(none.HoldDuplicate(INVALID_HANDLE_VALUE, P("src.exe")));
  CloseHandle(h);
}

}  // namespace
