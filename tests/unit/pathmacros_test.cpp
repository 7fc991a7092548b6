#include "paths/pathmacros.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "paths/runtimedir.h"
#include "paths/shelldir.h"
#include "paths/utils.h"

namespace {

// A machine with fixed folders, a fixed clock and a small registry.
class FakeSource : public PathMacroSource {
 public:
  double now = EncodeDateTime(2026, 12, 6, 14, 5, 9);
  char dateSep = '/', timeSep = ':';
  std::string install = "C:\\Apps\\Tool", common = "C:\\Common", aux = "D:\\Aux";
  std::map<std::string, std::string> registry;  // "key|value name" -> text
  std::set<std::string> folders;
  std::map<std::string, std::string> entered;
  bool hasProvider = false;
  std::vector<std::string> asked;  // value names the provider was asked for

  std::string LoggedUserName() override { return "joe"; }
  std::string UserName() override { return "Joe Owner"; }
  std::string CompanyName() override { return "Acme"; }
  std::string ComputerName() override { return "BOX"; }
  std::string DomainName() override { return "DOM"; }
  int LastExitCode() override { return 0; }
  std::string EnteredValue(const std::string& name) override {
    asked.push_back(name);
    if (!hasProvider) return "";
    auto it = entered.find(name);
    return it == entered.end() ? "" : it->second;
  }
  double LocalNow() override { return now; }
  char DateSeparator() override { return dateSep; }
  char TimeSeparator() override { return timeSep; }
  std::string InstallFolder() override { return install; }
  std::string CommonFolder() override { return common; }
  std::string AuxiliaryFolder() override { return aux; }
  std::string WindowsFolder() override { return "C:\\WINDOWS"; }
  std::string SystemFolder() override { return "C:\\WINDOWS\\system32"; }
  std::string System16Folder() override { return "C:\\WINDOWS\\system"; }
  std::string TempFolder() override { return "C:\\TEMP"; }
  std::string OwnFolder() override { return "E:\\Agent"; }
  std::string OriginFolder() override { return "F:\\Origin"; }
  std::string RunTimeFolder(int n) override { return n == 3 ? "R:\\Three" : ""; }
  std::string SpecialFolder(const std::string& macro) override {
    if (macro == "<UserAppDataDir>") return "C:\\Users\\joe\\AppData\\Roaming";
    if (macro == "<UserStartProgramMenuDir>") return "C:\\Users\\joe\\Start Menu\\Programs";
    if (macro == "<AllUsersDesktopDir>") return "C:\\Users\\Public\\Desktop";
    return "";
  }
  std::string RegistryText(const std::string& key, const std::string& name) override {
    auto it = registry.find(key + "|" + name);
    return it == registry.end() ? "" : it->second;
  }
  bool FolderExists(const std::string& path) override { return folders.count(path) > 0; }
  // Resolves "." and ".." like the platform; relative paths start in C:\Work.
  // A path with "?" cannot be resolved.
  std::string FullPath(const std::string& path) override {
    if (path.find('?') != std::string::npos) return "";
    std::string p = path.size() > 1 && path[1] == ':' ? path : "C:\\Work\\" + path;
    std::vector<std::string> parts;
    std::string part;
    for (size_t i = 0; i <= p.size(); ++i) {
      if (i == p.size() || p[i] == '\\') {
        if (part == "..") {
          if (parts.size() > 1) parts.pop_back();
        } else if (part != "." && !part.empty()) {
          parts.push_back(part);
        }
        part.clear();
      } else {
        part += p[i];
      }
    }
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? "\\" : "") + parts[i];
    return out;
  }
};

const char* const kShellFolders =
    "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char* const kFontFolders =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char* const kCurrentVersion = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

struct ExpandCase {
  const char* text;
  const char* expected;
};

TEST(ExpandPathMacros, FolderMacrosAndTheSuffixRule) {
  const ExpandCase cases[] = {
      // The suffix joins folder and file; a doubled backslash is collapsed.
      {"<InstallDir>Tool.exe", "C:\\Apps\\Tool\\Tool.exe"},
      {"<InstallDir>\\Tool.exe", "C:\\Apps\\Tool\\Tool.exe"},
      {"<installdir>Tool.exe", "C:\\Apps\\Tool\\Tool.exe"},
      // No suffix at the end of the text, before a blank, or at the end of a list item.
      {"<InstallDir>", "C:\\Apps\\Tool"},
      {"<InstallDir> /q", "C:\\Apps\\Tool /q"},
      {"|<InstallDir>|<WinDir>|", "|C:\\Apps\\Tool|C:\\WINDOWS|"},
      {",<WinSysDir>,<TempDir>,", ",C:\\WINDOWS\\system32,C:\\TEMP,"},
      // A list delimiter must be neither a letter nor "<".
      {"a<InstallDir>a", "aC:\\Apps\\Tool\\a"},
      // The first occurrence decides for every occurrence.
      {"<WinDir> <WinDir>x", "C:\\WINDOWS C:\\WINDOWSx"},
      {"<WinDir>x <WinDir> y", "C:\\WINDOWS\\x C:\\WINDOWS\\ y"},
      // Each folder group.
      {"<InstallCommonDir>a;<InstallAuxDir>b", "C:\\Common\\a;D:\\Aux\\b"},
      {"<WinSys32Dir>x;<WinSys16Dir>y", "C:\\WINDOWS\\system32\\x;C:\\WINDOWS\\system\\y"},
      {"<SrcDir>a;<ServiceDir>b;<OriginDir>c", "E:\\Agent\\a;E:\\Agent\\b;F:\\Origin\\c"},
      {"<Common Folder>a;<Auxiliary Folder>b", "C:\\Common\\a;D:\\Aux\\b"},
      {"<Windows Directory>a;<System Directory>b;<System16 Directory>c",
       "C:\\WINDOWS\\a;C:\\WINDOWS\\system32\\b;C:\\WINDOWS\\system\\c"},
      // Drives and disks never get the suffix.
      {"<InstallDrive>x", "C:\\x"},
      {"<WinDisk>x|<WinSysDrive>|<OriginDisk>", "C:x|C:\\|F:"},
      {"<OriginDrive>\\x", "F:\\x"},
      // The older folder names push the newer install-folder macros out.
      {"<Application Folder><InstallDir>", "C:\\Apps\\Tool\\"},
      {"<Application Folder>\\a;<InstallDir>b;<InstallCommonDir>", "C:\\Apps\\Tool\\a;b;"},
      {"<AbsoluteDir>C:\\x\\y", "C:\\x\\y"},
      // Special folders come as the shell resolves them.
      {"<UserAppDataDir>Acme\\app.ini", "C:\\Users\\joe\\AppData\\Roaming\\Acme\\app.ini"},
      {"<UserStartProgramMenuDir>", "C:\\Users\\joe\\Start Menu\\Programs"},
      {"<allusersdesktopdir>x.lnk", "C:\\Users\\Public\\Desktop\\x.lnk"},
      // Run-time directories 1 to 8 only, written without leading zero.
      {"<RunTimeDir_3>x", "R:\\Three\\x"},
      // An empty folder vanishes; the suffix rule still applies.
      {"<RunTimeDir_1>x", "\\x"},
      {"<RunTimeDir_1>", ""},
      {"<RunTimeDir_03>x", "<RunTimeDir_03>x"},
      {"<RunTimeDir_9>x", "<RunTimeDir_9>x"},
      // Unknown macros stay.
      {"<Unknown>x", "<Unknown>x"},
      {"C:\\a <b", "C:\\a <b"},
  };
  for (const auto& c : cases) {
    FakeSource src;
    EXPECT_EQ(ExpandPathMacros(c.text, "\\", false, true, src), c.expected) << c.text;
  }
}

TEST(ExpandPathMacros, InstallFoldersAreUsedAsSetAndAbsoluteDirVanishesInsideThem) {
  FakeSource src;
  src.install = "C:\\Apps\\Tool\\";
  EXPECT_EQ(ExpandPathMacros("<InstallDir>Tool.exe", "\\", false, true, src), "C:\\Apps\\Tool\\Tool.exe");
  EXPECT_EQ(ExpandPathMacros("<InstallDir>", "\\", false, true, src), "C:\\Apps\\Tool\\");
  src.install = "<AbsoluteDir>G:\\Abs";
  EXPECT_EQ(ExpandPathMacros("<InstallDir>a.exe", "\\", false, true, src), "G:\\Abs\\a.exe");
}

TEST(ExpandPathMacros, RegistryFolders) {
  FakeSource src;
  src.registry[std::string(kShellFolders) + "|Start Menu"] = "C:\\Menu";
  src.registry[std::string(kCurrentVersion) + "|ProgramFilesDir"] = "C:\\Program Files";
  src.registry[std::string(kCurrentVersion) + "|CommonFilesDir"] = "C:\\Program Files\\Common";
  EXPECT_EQ(ExpandPathMacros("<StartMenuDir>a|<ProgramFilesDir>Acme|<CommonFilesDir>", "\\", false, true, src),
            "C:\\Menu\\a|C:\\Program Files\\Acme|C:\\Program Files\\Common");

  // The font folder of the registry counts only when it exists.
  src.registry[std::string(kFontFolders) + "|Fonts"] = "C:\\MyFonts";
  EXPECT_EQ(ExpandPathMacros("<FontDir>a.ttf", "\\", false, true, src), "C:\\WINDOWS\\Fonts\\a.ttf");
  src.folders.insert("C:\\MyFonts");
  EXPECT_EQ(ExpandPathMacros("<FontDir>a.ttf", "\\", false, true, src), "C:\\MyFonts\\a.ttf");
}

TEST(ExpandPathMacros, UserInformationAndEnteredValues) {
  FakeSource src;
  EXPECT_EQ(ExpandPathMacros("<LoggedUserName>|<UserName>|<CompanyName>|<ComputerName>|<CurrentDomainName>|"
                             "<LastExecutableExitCode>",
                             "\\", false, false, src),
            "joe|Joe Owner|Acme|BOX|DOM|0");

  // Without a provider the entered values vanish.
  EXPECT_EQ(ExpandPathMacros("[<EnteredUserName>][<EnteredSerialNum>][<ProgramVersion>]", "\\", false, true, src),
            "[][][]");

  FakeSource withProvider;
  withProvider.hasProvider = true;
  withProvider.entered = {{"UserName", "Ann"},
                          {"CompanyName", "Co"},
                          {"SerialNum", "123"},
                          {"EnteredStartProgramMenu", "Menu"},
                          {"VendorCompanyName", "Vendor"},
                          {"ProjectName", "Proj"},
                          {"ProgramDescriptiveName", "Desc"},
                          {"ProgramVersion", "1.2"},
                          {"SelectedLanguage", "English"},
                          {"UnInstallExePath", "C:\\u.exe"}};
  EXPECT_EQ(ExpandPathMacros("<EnteredUserName>,<EnteredCompanyName>,<EnteredSerialNum>,<EnteredStartProgramMenu>,"
                             "<VendorCompanyName>,<ProjectName>,<ProgramDescriptiveName>,<ProgramVersion>,"
                             "<SelectedLanguage>,<UnInstallExePath>",
                             "\\", false, true, withProvider),
            "Ann,Co,123,Menu,Vendor,Proj,Desc,1.2,English,C:\\u.exe");
}

TEST(ExpandPathMacros, WithoutPathFlagOnlyInformationIsExpanded) {
  FakeSource src;
  // Neither folders nor the collapse of doubled backslashes.
  EXPECT_EQ(ExpandPathMacros("<WinDir>\\\\x\\\\<UserName>", "\\", false, false, src),
            "<WinDir>\\\\x\\\\Joe Owner");
  // The uninstaller path is a path macro.
  EXPECT_TRUE(src.asked.empty());
  ExpandPathMacros("<UnInstallExePath>", "\\", false, false, src);
  EXPECT_TRUE(src.asked.empty());
}

TEST(ExpandPathMacros, CollapseOnlyWhenAFolderWasExpanded) {
  FakeSource src;
  EXPECT_EQ(ExpandPathMacros("<Unknown>a\\\\b", "\\", false, true, src), "<Unknown>a\\\\b");
  EXPECT_EQ(ExpandPathMacros("<WinDir>a\\\\b", "\\", false, true, src), "C:\\WINDOWS\\a\\b");
}

TEST(ExpandPathMacros, DateCodes) {
  struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"<Date=#>", "06.December.2026"},
      {"<Date=0>", "9836"},
      {"<Date=1>", "06-12-26"},
      {"<Date=2>", "12-06-26"},
      {"<Date=3>", "26-12-06"},
      {"<Date=4>", "06-12-2026"},
      {"<Date=5>", "12-06-2026"},
      {"<Date=6>", "2026-12-06"},
      {"<Date=7>", "2026-12-06 14h05h09"},
      {"log_<date=6>.txt", "log_2026-12-06.txt"},
      // Only the first date macro counts; a bad first code leaves the text alone.
      {"<Date=6>_<Date=1>", "2026-12-06_<Date=1>"},
      {"a<Date=9>b<Date=6>", "a<Date=9>b<Date=6>"},
      {"<Date=6", "<Date=6"},
      {"<Date=>", "<Date=>"},
      // The code must be closed at once; nothing of the text is eaten.
      {"<Date=6x>", "<Date=6x>"},
  };
  for (const auto& c : cases) {
    FakeSource src;
    src.dateSep = '.';
    src.timeSep = 'h';
    EXPECT_EQ(ExpandPathMacros(c.text, "\\", false, false, src), c.expected) << c.text;
  }
}

TEST(ExpandPathMacros, DateDaysCountWholeDays) {
  FakeSource src;
  src.now = EncodeDateTime(2000, 1, 1, 23, 59, 59);
  EXPECT_EQ(ExpandDateMacro("<Date=0>", src), "0");
  src.now = EncodeDateTime(2000, 1, 2, 0, 0, 1);
  EXPECT_EQ(ExpandDateMacro("<Date=0>", src), "1");
}

TEST(FoldRelativePaths, PathsAndLists) {
  struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"C:\\a\\b\\..\\c.exe", "C:\\a\\c.exe"},
      {"..\\x.exe", "C:\\x.exe"},
      {"sub\\..\\x.exe", "C:\\Work\\x.exe"},
      // Nothing to fold.
      {"C:\\a\\.\\b", "C:\\a\\.\\b"},
      {"C:\\a..b\\c", "C:\\a..b\\c"},
      // Lists: only items with a ".." part change.
      {"|C:\\a\\..\\b|C:\\c\\.\\d|", "|C:\\b|C:\\c\\.\\d|"},
      // A rewritten list takes the separator the list writer chooses.
      {",C:\\a\\..\\b,x,", "|C:\\b|x|"},
      // A path the platform cannot resolve is kept.
      {"C:\\a\\..\\?", "C:\\a\\..\\?"},
      {"|C:\\a\\..\\?|C:\\b\\..\\c|", "|C:\\a\\..\\?|C:\\c|"},
  };
  for (const auto& c : cases) {
    FakeSource src;
    EXPECT_EQ(FoldRelativePaths(c.text, src), c.expected) << c.text;
  }
}

TEST(ExpandPathMacros, FoldAppliesAlsoWithoutMacros) {
  FakeSource src;
  EXPECT_EQ(ExpandPathMacros("C:\\a\\..\\b.exe", "\\", true, true, src), "C:\\b.exe");
  EXPECT_EQ(ExpandPathMacros("C:\\a\\..\\b.exe", "\\", false, true, src), "C:\\a\\..\\b.exe");
  EXPECT_EQ(ExpandPathMacros("<InstallDir>..\\Other\\x.exe", "\\", true, true, src), "C:\\Apps\\Other\\x.exe");
}

TEST(System16Candidate, RemovesTheLastThirtyTwo) {
  EXPECT_EQ(System16Candidate("C:\\WINDOWS\\system32"), "C:\\WINDOWS\\system");
  EXPECT_EQ(System16Candidate("C:\\W32\\System32"), "C:\\W32\\System");
  EXPECT_EQ(System16Candidate("C:\\WINNT\\SYSTEM"), "C:\\WINNT\\SYSTEM");
}

TEST(RunTimeDir, EmptyTableGivesEmptyFolders) {
  for (int n : {0, 1, 3, 8, 9}) {
    EXPECT_EQ(RunTimeDir(n, false), "") << n;
    EXPECT_EQ(RunTimeDir(n, true), "") << n;  // no lone backslash for an empty folder
  }
}

// ---- special folders and their fallbacks ----

class FakeShell : public ShellFacts {
 public:
  std::map<int, std::string> special, folder;  // by the exact id asked for
  std::set<std::string> existing;
  std::string owner = "Joe";

  std::string SpecialFolderPath(int csidl) override { return Get(special, csidl); }
  std::string FolderPath(int csidl) override { return Get(folder, csidl); }
  std::string WindowsFolder() override { return "C:\\WINDOWS"; }
  std::string RegisteredOwner() override { return owner; }
  bool FolderExists(const std::string& path) override { return existing.count(path) > 0; }
  // Adds the answer and marks it as existing.
  void Answer(std::map<int, std::string>& m, int csidl, const std::string& path) {
    m[csidl] = path;
    existing.insert(path);
  }

 private:
  static std::string Get(const std::map<int, std::string>& m, int id) {
    auto it = m.find(id);
    return it == m.end() ? "" : it->second;
  }
};

const int kCreate = kCsidlFlagCreate;

TEST(ShellFolders, TheShellAnswersFirst) {
  FakeShell f;
  f.Answer(f.folder, kCsidlPersonal | kCreate, "C:\\Users\\joe\\Documents");
  f.existing.insert("C:\\Users\\joe");
  f.existing.insert("C:\\Users");
  f.Answer(f.folder, kCsidlAppData | kCreate, "C:\\Users\\joe\\AppData\\Roaming");
  f.Answer(f.folder, kCsidlLocalAppData | kCreate, "C:\\Users\\joe\\AppData\\Local");
  f.Answer(f.folder, kCsidlCommonAppData | kCreate, "C:\\All Users\\Application Data");
  f.existing.insert("C:\\All Users");
  f.Answer(f.folder, kCsidlCommonDocuments | kCreate, "C:\\All Users\\Documents");
  f.Answer(f.special, kCsidlStartMenu, "C:\\Users\\joe\\Start Menu");
  f.special[kCsidlPrograms] = "C:\\Users\\joe\\Start Menu\\Programs\\";  // trailing backslash dropped
  f.existing.insert("C:\\Users\\joe\\Start Menu\\Programs");
  f.Answer(f.special, kCsidlDesktopDirectory, "C:\\Users\\joe\\Desktop");
  f.Answer(f.special, kCsidlCommonStartMenu, "C:\\All Users\\Start Menu");
  f.Answer(f.special, kCsidlCommonPrograms, "C:\\All Users\\Start Menu\\Programs");
  f.Answer(f.special, kCsidlCommonDesktopDirectory, "C:\\All Users\\Desktop");

  const ExpandCase cases[] = {
      {"<UserDir>", "C:\\Users\\joe"},
      {"<DocumentsAndSettingsDir>", "C:\\Users"},
      {"<AllUsersDir>", "C:\\All Users"},
      {"<UserAppDataDir>", "C:\\Users\\joe\\AppData\\Roaming"},
      {"<UserLocalAppDataDir>", "C:\\Users\\joe\\AppData\\Local"},
      {"<AllUsersAppDataDir>", "C:\\All Users\\Application Data"},
      {"<MyDocumentsDir>", "C:\\Users\\joe\\Documents"},
      {"<AllUsersDocumentsDir>", "C:\\All Users\\Documents"},
      {"<UserStartMenuDir>", "C:\\Users\\joe\\Start Menu"},
      {"<UserStartProgramMenuDir>", "C:\\Users\\joe\\Start Menu\\Programs"},
      {"<UserDesktopDir>", "C:\\Users\\joe\\Desktop"},
      {"<AllUsersStartMenuDir>", "C:\\All Users\\Start Menu"},
      {"<AllUsersStartProgramMenuDir>", "C:\\All Users\\Start Menu\\Programs"},
      {"<AllUsersDesktopDir>", "C:\\All Users\\Desktop"},
      {"<NoSuchDir>", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ShellFolderFor(c.text, f), c.expected) << c.text;
}

TEST(ShellFolders, FallbacksWithoutShellAnswers) {
  // Nothing answers; the owner's profile folder does not exist.
  FakeShell f;
  const ExpandCase cases[] = {
      {"<UserDir>", "C:\\WINDOWS"},
      {"<DocumentsAndSettingsDir>", "C:\\WINDOWS"},
      {"<AllUsersDir>", "C:\\WINDOWS"},
      {"<UserAppDataDir>", "C:\\WINDOWS\\Application Data"},
      {"<UserLocalAppDataDir>", "C:\\WINDOWS\\Application Data"},
      {"<AllUsersAppDataDir>", "C:\\WINDOWS\\Application Data"},
      {"<MyDocumentsDir>", "C:\\WINDOWS\\My Documents"},
      {"<AllUsersDocumentsDir>", "C:\\WINDOWS\\Documents"},
      // The last fallback stands even though it does not exist.
      {"<UserStartMenuDir>", "C:\\WINDOWS\\Start Menu"},
      {"<UserStartProgramMenuDir>", "C:\\WINDOWS\\Start Menu\\Programs"},
      {"<UserDesktopDir>", "C:\\WINDOWS\\Desktop"},
      {"<AllUsersDesktopDir>", "C:\\WINDOWS\\Desktop"},
  };
  for (const auto& c : cases) EXPECT_EQ(ShellFolderFor(c.text, f), c.expected) << c.text;

  // With the owner's profile folder the user's folders move there.
  f.existing.insert("C:\\WINDOWS\\Profiles\\Joe");
  EXPECT_EQ(ShellFolderFor("<UserAppDataDir>", f), "C:\\WINDOWS\\Profiles\\Joe\\Application Data");
  EXPECT_EQ(ShellFolderFor("<UserDir>", f), "C:\\WINDOWS\\Profiles\\Joe");
  EXPECT_EQ(ShellFolderFor("<AllUsersAppDataDir>", f), "C:\\WINDOWS\\Application Data");
}

TEST(ShellFolders, ChainsStopAtTheFirstExistingFolder) {
  FakeShell f;
  // The personal folder is named but missing: the profiles folder, not its parent.
  f.folder[kCsidlPersonal | kCreate] = "C:\\Gone\\joe\\Documents";
  EXPECT_EQ(ShellFolderFor("<UserDir>", f), "C:\\WINDOWS");
  EXPECT_EQ(ShellFolderFor("<MyDocumentsDir>", f), "C:\\WINDOWS\\My Documents");

  // The user's start menu is missing, the all-users one exists: that one.
  f.existing.insert("C:\\WINDOWS\\Start Menu");
  f.special[kCsidlStartMenu] = "C:\\Missing\\Start Menu";
  f.folder[kCsidlCommonAppData | kCreate] = "C:\\All\\Data";
  f.existing.insert("C:\\All\\Data");
  f.existing.insert("C:\\All");
  f.existing.insert("C:\\All\\Start Menu");
  // <UserDir> is C:\WINDOWS here, whose Start Menu exists, so it wins.
  EXPECT_EQ(ShellFolderFor("<UserStartMenuDir>", f), "C:\\WINDOWS\\Start Menu");
  f.existing.erase("C:\\WINDOWS\\Start Menu");
  EXPECT_EQ(ShellFolderFor("<UserStartMenuDir>", f), "C:\\All\\Start Menu");

  // SHFolder is asked with the create flag.
  FakeShell g;
  g.Answer(g.folder, kCsidlAppData, "C:\\NoCreateFlag");
  EXPECT_EQ(ShellFolderFor("<UserAppDataDir>", g), "C:\\WINDOWS\\Application Data");
}

TEST(ShellFolders, ProfilesFolderNeedsAnOwner) {
  FakeShell f;
  f.owner = "";
  f.existing.insert("C:\\WINDOWS\\Profiles\\");
  f.existing.insert("C:\\WINDOWS\\Profiles");
  EXPECT_EQ(ProfilesFolder(f), "C:\\WINDOWS");
  f.owner = "Ann";
  f.existing.insert("C:\\WINDOWS\\Profiles\\Ann");
  EXPECT_EQ(ProfilesFolder(f), "C:\\WINDOWS\\Profiles\\Ann");
}

}  // namespace
