// The user's and the all-users' special folders, each with a fixed chain of
// fallbacks so that a folder name results even where the shell cannot answer.
// The chains are pure functions over the facts below; shelldir_win.h binds
// the facts to the shell libraries.
#pragma once
#include <string>

// Folder ids of the shell.
constexpr int kCsidlPersonal = 5;
constexpr int kCsidlPrograms = 2;
constexpr int kCsidlStartMenu = 11;
constexpr int kCsidlDesktopDirectory = 16;
constexpr int kCsidlCommonStartMenu = 22;
constexpr int kCsidlCommonPrograms = 23;
constexpr int kCsidlCommonDesktopDirectory = 25;
constexpr int kCsidlAppData = 26;
constexpr int kCsidlLocalAppData = 28;
constexpr int kCsidlCommonAppData = 35;
constexpr int kCsidlCommonDocuments = 46;
constexpr int kCsidlFlagCreate = 0x8000;

class ShellFacts {
 public:
  virtual ~ShellFacts() = default;
  // SHGetSpecialFolderPath (shell32); empty when unavailable or failing.
  virtual std::string SpecialFolderPath(int csidl) = 0;
  // SHGetFolderPath (SHFolder); empty when unavailable or failing.
  virtual std::string FolderPath(int csidl) = 0;
  virtual std::string WindowsFolder() = 0;  // without trailing backslash
  virtual std::string RegisteredOwner() = 0;
  virtual bool FolderExists(const std::string& path) = 0;
};

// The old profile layout: Windows folder\Profiles\<owner>, else the Windows folder.
std::string ProfilesFolder(ShellFacts& facts);

// The folder of a special-folder macro ("<UserDir>", "<UserAppDataDir>", ...),
// without trailing backslash; empty for a name that is not one of them.
std::string ShellFolderFor(const std::string& macro, ShellFacts& facts);
