#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "paths/pathmacros_win.h"
#include "paths/shelldir_win.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "process/settings_win.h"

namespace {

// A fresh folder under the temporary folder, removed with its files.
class TempFolder {
 public:
  TempFolder() {
    path_ = TempDir(true) + "h5paths_" + IntToStr(GetCurrentProcessId()) + "_" + IntToStr(counter_++);
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempFolder() { Remove(path_); }
  const std::string& Path() const { return path_; }

 private:
  static void Remove(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        std::string full = dir + "\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          Remove(full);
        else
          DeleteFileA(full.c_str());
      } while (FindNextFileA(h, &fd));
      FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
  }
  static inline int counter_ = 0;
  std::string path_;
};

std::string TodayIso() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return ZeroPad(t.wYear, 4) + "-" + ZeroPad(t.wMonth, 2) + "-" + ZeroPad(t.wDay, 2);
}

// ---- special folders ----

TEST(ShellFoldersWin, TheShellLibrariesAnswer) {
  std::string appData = ShellFolderPathEx(0x8000 | kCsidlAppData);
  ASSERT_FALSE(appData.empty());
  EXPECT_TRUE(DirectoryExists(appData)) << appData;
  EXPECT_EQ(UserAppDataDir(), appData);
  EXPECT_EQ(UserAppDataDir(true), appData + "\\");

  std::string programs = ShellFolderPath(kCsidlPrograms);
  ASSERT_FALSE(programs.empty());
  if (DirectoryExists(programs)) {
    EXPECT_EQ(UserStartProgramMenuDir(), programs);
  }
  EXPECT_NE(programs.back(), '\\');

  // The user's profile is the parent of the personal folder.
  std::string personal = ShellFolderPathEx(0x8000 | kCsidlPersonal);
  ASSERT_TRUE(DirectoryExists(personal)) << personal;
  EXPECT_EQ(UserDir(), ExtractFileDir(personal));
  EXPECT_EQ(DocumentsAndSettingsDir(), ExtractFileDir(ExtractFileDir(personal)));
  EXPECT_EQ(MyDocumentsDir(), personal);

  // Every folder comes out as a name without trailing backslash.
  for (auto fn : {UserDir, DocumentsAndSettingsDir, AllUsersDir, UserAppDataDir, UserLocalAppDataDir,
                  AllUsersAppDataDir, MyDocumentsDir, AllUsersDocumentsDir, UserStartMenuDir, AllUsersStartMenuDir,
                  UserStartProgramMenuDir, AllUsersStartProgramMenuDir, UserDesktopDir, AllUsersDesktopDir}) {
    std::string dir = fn(false);
    EXPECT_FALSE(dir.empty());
    if (dir.size() > 2) {
      EXPECT_NE(dir.back(), '\\') << dir;
    }
  }
}

TEST(ShellFoldersWin, UnknownFolderIdGivesEmptyText) {
  EXPECT_EQ(ShellFolderPath(0x7ABC), "");
  EXPECT_EQ(ShellFolderPathEx(0x7ABC), "");
}

// The real system, except that SHFolder is missing and the Windows folder is
// a test folder.
class NoShFolderFacts : public Win32ShellFacts {
 public:
  std::string windows;
  std::string FolderPath(int) override { return ""; }
  std::string RegisteredOwner() override { return "Tester"; }
  std::string WindowsFolder() override { return windows.empty() ? Win32ShellFacts::WindowsFolder() : windows; }
};

TEST(ShellFoldersWin, FallbacksWhenSHFolderIsMissing) {
  NoShFolderFacts facts;
  // No folder under Windows\Profiles carries the owner's name here.
  std::string windows = WindowsDir(false);
  ASSERT_FALSE(DirectoryExists(windows + "\\Profiles\\Tester"));
  EXPECT_EQ(ShellFolderFor("<UserAppDataDir>", facts), windows + "\\Application Data");
  EXPECT_EQ(ShellFolderFor("<AllUsersDir>", facts), windows);

  // With the owner's profile folder in place, the user's folders move there.
  TempFolder temp;
  facts.windows = temp.Path();
  std::string profile = temp.Path() + "\\Profiles\\Tester";
  ASSERT_TRUE(CreateDirectoryA((temp.Path() + "\\Profiles").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(profile.c_str(), nullptr));
  EXPECT_EQ(ShellFolderFor("<UserAppDataDir>", facts), profile + "\\Application Data");
  EXPECT_EQ(ShellFolderFor("<MyDocumentsDir>", facts), profile + "\\My Documents");
  EXPECT_EQ(ShellFolderFor("<UserDir>", facts), profile);
  EXPECT_EQ(ShellFolderFor("<AllUsersAppDataDir>", facts), temp.Path() + "\\Application Data");
}

// ---- path macros ----

TEST(PathMacrosWin, ExpandsToAFullPath) {
  SetInstallFolders("C:\\Apps\\Tool", "C:\\Common", "");
  std::string appData = ShellFolderPathEx(0x8000 | kCsidlAppData);
  std::string windows = WindowsDir(false);
  std::string today = TodayIso();

  EXPECT_EQ(ExpandPathMacros("<InstallDir>..\\Other\\<Date=6>.log", "\\", true, true),
            "C:\\Apps\\Other\\" + today + ".log");
  EXPECT_EQ(ExpandPathMacros("|<InstallDir>..\\Other\\x.exe|<WinDir>|<UserAppDataDir>Acme\\<Date=6>.log|", "\\", true,
                             true),
            "|C:\\Apps\\Other\\x.exe|" + windows + "|" + appData + "\\Acme\\" + today + ".log|");
  EXPECT_EQ(ExpandPathMacros("<WinDir>\\system32\\..\\win.ini", "\\", true, true), windows + "\\win.ini");
  // Relative paths start in the current folder.
  char cwd[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, cwd);
  EXPECT_EQ(ExpandPathMacros("a\\..\\b.txt", "\\", true, true), NormalizeDirSlash(cwd, true) + "b.txt");
  SetInstallFolders("", "", "");
}

TEST(PathMacrosWin, SystemFoldersAndInformation) {
  EXPECT_EQ(ExpandPathMacros("<WinSysDir>", "\\", false, true), SystemDir(false));
  EXPECT_EQ(ExpandPathMacros("<TempDir>x", "\\", false, true), TempDir(true) + "x");
  EXPECT_EQ(ExpandPathMacros("<SrcDir>", "\\", false, true), OwnFolder(false));
  EXPECT_EQ(ExpandPathMacros("<WinDisk>", "\\", false, true), WindowsDir(false).substr(0, 2));
  EXPECT_EQ(ExpandPathMacros("<ComputerName>", "\\", false, false), ComputerNameText());
  EXPECT_EQ(ExpandPathMacros("<LoggedUserName>", "\\", false, false), LoggedUserName());

  std::string sys16 = System16Dir();
  EXPECT_TRUE(DirectoryExists(sys16)) << sys16;
  EXPECT_EQ(ExpandPathMacros("<WinSys16Dir>", "\\", false, true), sys16);
}

TEST(PathMacrosWin, APathTooLongToResolveIsKept) {
  std::string tooLong = "C:\\x\\..\\" + std::string(300, 'a');
  EXPECT_EQ(FullPathName(tooLong), "");
  EXPECT_EQ(FoldRelativePaths(tooLong), tooLong);
  EXPECT_EQ(FoldRelativePaths("|" + tooLong + "|C:\\y\\..\\z|"), "|" + tooLong + "|C:\\z|");
}

TEST(PathMacrosWin, OriginComesFromTheCommandLine) {
  std::string raw = RawCommandLine(), ownExe = OwnExePath();
  const std::string exe = "C:\\Agent\\agent.exe";
  SetProcessCommandLine("\"" + exe + "\" /OriginExe=\"D:\\Media Disk\\setup.exe\" /x", exe);
  EXPECT_EQ(OriginExePath(), "D:\\Media Disk\\setup.exe");
  EXPECT_EQ(OriginDir(), "D:\\Media Disk");
  EXPECT_EQ(ExpandPathMacros("<OriginDir>a|<OriginDrive>|<OriginDisk>", "\\", false, true),
            "D:\\Media Disk\\a|D:\\|D:");
  // Read once: a later command line does not change it.
  SetProcessCommandLine("\"" + exe + "\"", exe);
  EXPECT_EQ(OriginExePath(), "D:\\Media Disk\\setup.exe");
  SetProcessCommandLine(raw, ownExe);
}

// ---- the agent's INI files ----

class AgentFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_.Path() + "\\";
    SetAgentFiles(temp_.Path(), "My.Product.info");
    ResetOverrides();
    ForgetInfoBytes();
  }
  void TearDown() override {
    ResetOverrides();
    ForgetInfoBytes();
  }
  // Written by the profile functions, then handed over as a check hands
  // over the bytes it accepted: the getters read those bytes.
  void Info(const char* section, const char* key, const char* value) {
    ASSERT_TRUE(WriteIniString(InfoFilePath(), section, key, value));
    std::string bytes;
    FILE* f = fopen(InfoFilePath().c_str(), "rb");
    ASSERT_TRUE(f);
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
    fclose(f);
    AcceptInfoBytes(bytes);
  }
  void Original(const char* section, const char* key, const char* value) {
    ASSERT_TRUE(WriteIniString(OriginalFilePath(), section, key, value));
  }
  TempFolder temp_;
  std::string dir_;
};

TEST_F(AgentFiles, NamesBesideTheAgent) {
  EXPECT_EQ(InfoFilePath(), dir_ + "My.Product.info");
  EXPECT_EQ(OriginalFilePath(), dir_ + "My.original");
}

TEST_F(AgentFiles, DefaultsWhenFilesAreMissing) {
  EXPECT_EQ(GetVersionOriginal(), 0);
  EXPECT_EQ(GetProbeSecondsInterval(), 0);
  EXPECT_EQ(GetMsgBoxBtnText(), "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|");
  EXPECT_EQ(GetMsgBoxError(), "Error");
  EXPECT_EQ(GetMsgBoxConfirm(), "Confirm");
  EXPECT_EQ(GetMsgBoxAttention(), "Attention");
  EXPECT_EQ(GetMsgBoxFontName(), "Tahoma");
  EXPECT_EQ(GetMsgBoxFontSize(), 8);
  EXPECT_EQ(GetMsgBoxCharSet(), 0);
  EXPECT_EQ(GetAutoInformW(), 360);
  EXPECT_EQ(GetAutoInformH(), 360);
  EXPECT_FALSE(GetRequestConfirmationBeforeInstall());
  EXPECT_EQ(GetShutDownMethod(), "");
  EXPECT_EQ(ReadAutoUpdateText("s21", "none"), "none");
}

TEST_F(AgentFiles, TypedValuesOfTheInfoFile) {
  Info("NewSetup", "VersionNew", "0010");
  Info("NewSetup", "SizeOfUpdateFile", "4294967297");  // 64-bit: files of 4 GiB and more
  Info("NewSetup", "Stamp", "-7");
  Info("NewSetup", "RequestConfirmationBeforeInstall", "yes");
  Info("NewSetup", "RequestConfirmationBeforeDownload", "1");
  Info("NewSetup", "RemoveStartUpShortcut", "1");
  Info("NewSetup", "ShutDownMethod", "Using WM_CLOSE");
  Info("NewSetup", "ValidVersions", "101,102");
  Info("NewSetup", "ProgramName", "New Name");
  Info("General", "AutoInform", "1");
  Info("AutoInform", "AutoInformW", "500");
  Info("AutoInform", "SizeOfInformFile", "abc");
  Original("OriginalSetup", "ProgramName", "Old Name");
  Original("AutoUpdate", "s21", "Nothing to do");
  Original("Directories", "TargetDir", "C:\\Apps\\Tool");
  Original("MsgBox", "CharSet", "177");

  EXPECT_EQ(GetVersionNew(), 10);
  EXPECT_EQ(GetSizeOfUpdateFile(), 4294967297LL);
  EXPECT_EQ(GetNewStamp(), -7);
  EXPECT_FALSE(GetRequestConfirmationBeforeInstall());
  EXPECT_TRUE(GetRequestConfirmationBeforeDownload());
  EXPECT_TRUE(GetRemoveStartUpShortcut());
  EXPECT_FALSE(GetRemoveCheckForNewUpdateShortcut());
  EXPECT_EQ(GetShutDownMethod(), "Using WM_CLOSE");
  EXPECT_EQ(GetValidVersions(), "101,102");
  EXPECT_EQ(GetNewProgramName(), "New Name");
  EXPECT_EQ(GetOriginalProgramName(), "Old Name");
  EXPECT_EQ(GetAutoInform(), 1);
  EXPECT_EQ(GetAutoInformW(), 500);
  EXPECT_EQ(GetSizeOfInformFile(), 0);
  EXPECT_EQ(ReadAutoUpdateText("s21", ""), "Nothing to do");
  EXPECT_EQ(GetTargetDir(), "C:\\Apps\\Tool");
  EXPECT_EQ(GetMsgBoxCharSet(), 177);
}

TEST_F(AgentFiles, OverridesTakeThePlaceOfInfoSwitches) {
  struct {
    const char* key;
    int position;
    bool (*get)();
  } switches[] = {
      {"RequestConfirmationBeforeDownload", kOvDownloadConfirmation, GetRequestConfirmationBeforeDownload},
      {"RequestConfirmationBeforeInstall", kOvInstallConfirmation, GetRequestConfirmationBeforeInstall},
      {"BackgroundUpdate", kOvBackgroundUpdate, GetBackgroundUpdate},
      {"InformFinish", kOvInformFinish, GetInformFinish},
      {"RestartProcess", kOvRestartProcess, GetRestartProcess},
      {"RequestConfirmationBeforeDownloadForce", kOvDownloadForce, GetRequestConfirmationBeforeDownloadForce},
      {"RequestConfirmationBeforeInstallForce", kOvInstallForce, GetRequestConfirmationBeforeInstallForce},
  };
  for (const auto& s : switches) {
    Info("NewSetup", s.key, "1");
    ResetOverrides();
    EXPECT_TRUE(s.get()) << s.key;
    OverrideSet values = Overrides();
    values[s.position] = 0;
    ParseOverrideList(OverrideListText(values));
    EXPECT_FALSE(s.get()) << s.key;
    Info("NewSetup", s.key, "0");
    values[s.position] = 1;
    ParseOverrideList(OverrideListText(values));
    EXPECT_TRUE(s.get()) << s.key;
  }
}

TEST_F(AgentFiles, SettersWriteTheOriginalFile) {
  const int64_t kWhen = 46362LL * 86400 + 14 * 3600 + 5 * 60 + 9;  // 06-DEC-2026 14:05:09
  SetProbeSecondsLast(kWhen);
  SetReAskSecondsLast(kWhen + 86400);
  SetProbeSecondsInterval(-1);
  SetReAskSecondsInterval(5000000000LL);
  SetVersionOriginal(-5);
  SetOriginalStamp(42);

  EXPECT_EQ(GetProbeSecondsLast(), kWhen);
  EXPECT_EQ(GetReAskSecondsLast(), kWhen + 86400);
  EXPECT_EQ(GetProbeSecondsInterval(), -1);
  EXPECT_EQ(GetReAskSecondsInterval(), 5000000000LL);
  EXPECT_EQ(GetVersionOriginal(), -5);
  EXPECT_EQ(GetOriginalStamp(), 42);

  std::string file = OriginalFilePath();
  EXPECT_EQ(ReadIniString(file, "OriginalSetup", "ProbeSecondsLast", ""), IntToStr(kWhen));
  EXPECT_EQ(ReadIniString(file, "OriginalSetup", "__ProbeSecondsLast", ""), "06-DEC-2026  14:05:09");
  EXPECT_EQ(ReadIniString(file, "OriginalSetup", "__ReAskSecondsLast", ""), "07-DEC-2026  14:05:09");
  EXPECT_EQ(ReadIniString(file, "OriginalSetup", "VersionOriginal", ""), "-5");
  // The INFO file is never written.
  EXPECT_EQ(GetFileAttributesA(InfoFilePath().c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
