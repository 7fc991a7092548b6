// The Win32 file utilities and the Win32 extraction on real files.
#include <gtest/gtest.h>
#include <windows.h>

#include "package/package_writer.h"
#include "setup/files_win.h"
#include "setup/unpack_win.h"
#include "setup/zlibopen.h"

namespace {

std::string MakeTempFolder(const std::string& name) {
  char buf[MAX_PATH + 1];
  GetTempPathA(MAX_PATH, buf);
  std::string dir = std::string(buf) + "zs_files_" + std::to_string(GetCurrentProcessId()) + "_" + name;
  DeleteTree(dir, true);
  EXPECT_TRUE(ForceDirectories(dir));
  return dir;
}

std::string ReadWhole(const std::string& path) { return ReadFilePart(path, 0, 0); }

class FilesWin : public ::testing::Test {
 protected:
  void SetUp() override { dir = MakeTempFolder(::testing::UnitTest::GetInstance()->current_test_info()->name()); }
  void TearDown() override { DeleteTree(dir, true); }
  std::string P(const std::string& name) const { return dir + "\\" + name; }
  std::string dir;
};

const uint32_t kDate = DosTimeOf(2002, 9, 8, 13, 45, 30);

TEST_F(FilesWin, WriteFileTextCreatesReplacesAndAppends) {
  // Empty content: an empty file, success, and the time is set too.
  EXPECT_TRUE(WriteFileText(P("empty"), "", kDate, false));
  EXPECT_TRUE(IsExistingFile(P("empty")));
  EXPECT_EQ(FileSizeByName(P("empty")), 0);
  EXPECT_EQ(FileDosTime(P("empty")), kDate);

  EXPECT_TRUE(WriteFileText(P("a"), "first", 0, true));  // append on a missing file creates it
  EXPECT_TRUE(WriteFileText(P("a"), "+more", kDate, true));
  EXPECT_EQ(ReadWhole(P("a")), "first+more");
  EXPECT_EQ(FileDosTime(P("a")), kDate);
  EXPECT_TRUE(WriteFileText(P("a"), "new", 0, false));
  EXPECT_EQ(ReadWhole(P("a")), "new");
  EXPECT_NE(FileDosTime(P("a")), kDate);  // time 0 keeps the time of writing

  // Above 1 MiB the content goes out in chunks; every byte must arrive.
  std::string big(3 * 1048576 + 7, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7 + i / 4096);
  EXPECT_TRUE(WriteFileText(P("big"), big, 0, false));
  EXPECT_EQ(ReadWhole(P("big")), big);

  EXPECT_FALSE(WriteFileText(P("missing\\folder\\x"), "x", 0, false));
  EXPECT_FALSE(WriteFileText(dir, "x", 0, true));  // a folder is no file
}

TEST_F(FilesWin, AppendFileText) {
  EXPECT_TRUE(AppendFileText(P("log"), "one\r\n", 0));
  EXPECT_TRUE(AppendFileText(P("log"), "two\r\n", kDate));
  EXPECT_EQ(ReadWhole(P("log")), "one\r\ntwo\r\n");
  EXPECT_EQ(FileDosTime(P("log")), kDate);
  EXPECT_TRUE(AppendFileText(P("log"), "", 0));
  EXPECT_FALSE(AppendFileText(P("no\\such\\dir"), "x", 0));
}

TEST_F(FilesWin, ReadFilePart) {
  ASSERT_TRUE(WriteFileText(P("f"), "0123456789", 0, false));
  struct Case {
    int64_t maximum, offset;
    const char* result;
  } cases[] = {{0, 0, "0123456789"}, {3, 2, "234"}, {20, 5, "56789"}, {0, 9, "9"},
               {0, 10, ""},  // offset at the end
               {0, 11, ""},  {0, -1, ""}, {1, 10, ""}};
  for (const Case& c : cases) EXPECT_EQ(ReadFilePart(P("f"), c.maximum, c.offset), c.result) << c.maximum << "@" << c.offset;
  EXPECT_EQ(ReadFilePart(P("nothing"), 0, 0), "");
  EXPECT_EQ(FileSizeByName(P("f")), 10);
  EXPECT_EQ(FileSizeByName(P("nothing")), 0);
}

TEST_F(FilesWin, ReadFileUpToRefusesWhatIsLargerThanItsLimit) {
  ASSERT_TRUE(WriteFileText(P("five"), "12345", 0, false));
  ASSERT_TRUE(WriteFileText(P("none"), "", 0, false));
  struct Case {
    const char* name;
    int64_t limit;
    bool ok;
    const char* content;
  } cases[] = {
      {"five", 5, true, "12345"}, {"five", 4, false, ""}, {"none", 0, true, ""}, {"missing", 100, false, ""},
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(ReadFileUpTo(P(c.name), c.limit, out), c.ok) << c.name << " " << c.limit;
    EXPECT_EQ(out, c.content) << c.name << " " << c.limit;
  }
}

TEST_F(FilesWin, SeekAndSizeBeyondFourGigabytesOfOffset) {
  HANDLE h = CreateFileA(P("s").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(SeekFile(h, 5000000000LL, FILE_BEGIN), 5000000000LL);
  EXPECT_EQ(SeekFile(h, -1, FILE_CURRENT), 4999999999LL);
  EXPECT_EQ(FileSizeOfHandle(h), 0);
  CloseHandle(h);
}

TEST_F(FilesWin, DeleteFilesByMask) {
  WriteFileText(P("a.tmp"), "a", 0, false);
  WriteFileText(P("b.tmp"), "b", 0, false);
  WriteFileText(P("keep.txt"), "k", 0, false);
  SetFileAttributesA(P("b.tmp").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(DeleteFiles(P("*.tmp"), true));
  EXPECT_FALSE(IsExistingFile(P("a.tmp")));
  EXPECT_FALSE(IsExistingFile(P("b.tmp")));
  EXPECT_TRUE(IsExistingFile(P("keep.txt")));
  EXPECT_FALSE(DeleteFiles(P("*.tmp"), true));
}

TEST_F(FilesWin, DeleteTree) {
  ASSERT_TRUE(ForceDirectories(P("t\\a\\b\\c")));
  WriteFileText(P("t\\top.txt"), "x", 0, false);
  WriteFileText(P("t\\a\\b\\c\\deep.txt"), "x", 0, false);
  WriteFileText(P("t\\a\\ro.txt"), "x", 0, false);
  SetFileAttributesA(P("t\\a\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(DeleteTree(P("t"), true));
  EXPECT_FALSE(IsExistingFolder(P("t")));

  EXPECT_FALSE(DeleteTree(P("never"), true));
  EXPECT_FALSE(DeleteTree("", true));

  // A hidden sub-folder is not listed, so its parent stays.
  ASSERT_TRUE(ForceDirectories(P("h\\secret")));
  SetFileAttributesA(P("h\\secret").c_str(), FILE_ATTRIBUTE_HIDDEN);
  WriteFileText(P("h\\plain.txt"), "x", 0, false);
  EXPECT_FALSE(DeleteTree(P("h"), true));
  EXPECT_TRUE(IsExistingFolder(P("h\\secret")));
  EXPECT_FALSE(IsExistingFile(P("h\\plain.txt")));
  SetFileAttributesA(P("h\\secret").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FilesWin, FindInTree) {
  ASSERT_TRUE(ForceDirectories(P("x\\y\\Wanted")));
  WriteFileText(P("x\\y\\Wanted\\target.dat"), "t", 0, false);
  EXPECT_EQ(FindFileInTree(dir, "target.dat"), P("x\\y\\Wanted\\target.dat"));
  EXPECT_EQ(FindFileInTree(dir + "\\", "missing.dat"), "");
  EXPECT_EQ(FindFolderInTree(dir, "wanted"), P("x\\y\\Wanted"));
  EXPECT_EQ(FindFolderInTree(dir, "Nowhere"), "");
  // A full path is taken as it is when its drive has the type.
  UINT type = GetDriveTypeA((dir.substr(0, 1) + ":\\").c_str());
  EXPECT_EQ(FindFolderOnDrives(P("x"), type), P("x"));
  EXPECT_EQ(FindFolderOnDrives(P("x"), DRIVE_CDROM == type ? DRIVE_FIXED : DRIVE_CDROM), "");
  EXPECT_EQ(FindFolderOnDrives(P("none"), type), "");
}

TEST(FilesWinDisk, FreeDiskSpace) {
  EXPECT_GT(FreeDiskSpace(""), 0.0);  // the current folder's drive
  EXPECT_GT(FreeDiskSpace("C:\\"), 0.0);
  EXPECT_GT(FreeDiskSpace("C:\\no such folder\\deeper"), 0.0);  // falls back to the drive root
}

TEST(FilesWinDisk, EjectCdDriveRefusesOtherDrives) {
  EXPECT_FALSE(EjectCdDrive("C:\\Temp"));
  EXPECT_FALSE(EjectCdDrive(""));
  EXPECT_FALSE(EjectCdDrive("1:\\"));
}

// ---- the Win32 extraction ----

std::vector<std::pair<int, int>> g_steps;
void Record(int kind, int, int maximum, int, int, const std::string&) { g_steps.push_back({kind, maximum}); }

TEST_F(FilesWin, ExtractPackageWritesFilesDatesAndAgent) {
  PackagePlan plan;
  plan.stub.assign(0x400, '\0');
  plan.stub[0] = 'M';
  plan.stub[1] = 'Z';
  plan.stub[0x100] = 'P';
  plan.stub[0x101] = 'E';
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char(i % 251);
  plan.files = {{"Engine.exe", "MZ", "", kDate, 9, true, " /LANG=DE"}, {"Big.bin", big, "", kDate, kStoredLevel},
                {"Big.bin", "tail", "", kDate, 9}};
  ASSERT_EQ(WritePackage(plan, P("Setup.exe")).error, "");
  bool ok = false;
  std::string entry;
  g_steps.clear();
  ExtractPackage(P("Setup.exe"), P("out\\deeper"), "C:\\Somewhere\\Agent.exe", ok, Record, "<DISK_NUM>", "Attention",
                 "", 0, false, entry);
  EXPECT_TRUE(ok);
  EXPECT_EQ(entry, "Engine.exe* /LANG=DE");
  EXPECT_EQ(ReadWhole(P("out\\deeper\\Big.bin")), big + "tail");
  EXPECT_EQ(FileDosTime(P("out\\deeper\\Big.bin")), kDate);
  EXPECT_EQ(FileDosTime(P("out\\deeper\\Engine.exe")), kDate);
  std::vector<std::pair<int, int>> expect{{0, 0}, {0, 2}, {1, 0}, {1, 0}};  // two distinct files
  EXPECT_EQ(g_steps, expect);
  std::string agent = ReadWhole(P("out\\deeper\\Agent.exe"));
  ASSERT_GT(agent.size(), 0x100u + 74u);
  EXPECT_EQ(agent[agent.size() - 74 + 69], 1);
  EXPECT_EQ(agent.substr(0xFC, 4), std::string(4, '\0'));
  EXPECT_EQ(FileDosTime(P("out\\deeper\\Agent.exe")), FileDosTime(P("Setup.exe")));

  // A missing package is a failed checksum with nothing written.
  ExtractPackage(P("None.exe"), P("out2"), "", ok, nullptr, "", "", "", 0, false, entry);
  EXPECT_FALSE(ok);
  EXPECT_EQ(entry, "");
  EXPECT_FALSE(IsExistingFolder(P("out2")));
}

TEST_F(FilesWin, ZlibErrorLeavesNoFileOpen) {
  PackagePlan plan;
  plan.stub.assign(0x400, '\0');
  plan.stub[0] = 'M';
  plan.stub[1] = 'Z';
  plan.stub[0x100] = 'P';
  plan.stub[0x101] = 'E';
  std::string content(300000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = char((i * 2654435761u) >> 13);
  plan.files = {{"Engine.exe", "MZ", "", 0, 9, true, ""}, {"Data.bin", content, "", 0, 1}};
  plan.checksum = false;
  ASSERT_EQ(WritePackage(plan, P("Setup.exe")).error, "");
  // Damage the deflate data of the last item, well inside its payload.
  std::string bytes = ReadWhole(P("Setup.exe"));
  bytes[bytes.size() - 74 - 2000] ^= 0x5A;
  ASSERT_TRUE(WriteFileText(P("Setup.exe"), bytes, 0, false));
  bool ok = true;
  std::string entry;
  ExtractOutcome outcome = ExtractOutcome::Done;
  EZLibError zlibError;
  ExtractPackage(P("Setup.exe"), P("out"), "", ok, nullptr, "", "", "", 0, false, entry, &outcome, &zlibError);
  EXPECT_EQ(outcome, ExtractOutcome::Decompression);
  EXPECT_TRUE(zlibError);
  EXPECT_FALSE(ok);
  // Open handles would keep these from going away.
  EXPECT_TRUE(DeleteFileA(P("Setup.exe").c_str()));
  EXPECT_TRUE(DeleteTree(P("out"), false));
}

}  // namespace
