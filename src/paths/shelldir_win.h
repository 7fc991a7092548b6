// The special folders on Windows: shell32 and SHFolder are bound by name at
// run time (from the system folder only) so the program starts everywhere.
#pragma once
#include <string>

#include "paths/shelldir.h"

// SHGetSpecialFolderPathA without creating the folder; empty when the library,
// the function or the call fails.
std::string ShellFolderPath(int csidl, bool trailingSlash = false);
// SHGetFolderPathA; empty unless the call returns 0.
std::string ShellFolderPathEx(int csidl, bool trailingSlash = false);

// The facts of the running system, for the fallback chains of shelldir.h.
class Win32ShellFacts : public ShellFacts {
 public:
  std::string SpecialFolderPath(int csidl) override;
  std::string FolderPath(int csidl) override;
  std::string WindowsFolder() override;
  std::string RegisteredOwner() override;
  bool FolderExists(const std::string& path) override;
};

bool DirectoryExists(const std::string& path);

// The old profile layout: Windows folder\Profiles\<owner>, else the Windows folder.
std::string ProfilesFolderPath(bool trailingSlash = false);

// The folder of a special-folder macro such as "<UserAppDataDir>"; empty for an unknown name.
std::string ShellFolderByMacro(const std::string& macro, bool trailingSlash = false);

// The fourteen special folders, each with its fallbacks.
std::string UserDir(bool trailingSlash = false);
std::string DocumentsAndSettingsDir(bool trailingSlash = false);
std::string AllUsersDir(bool trailingSlash = false);
std::string UserAppDataDir(bool trailingSlash = false);
std::string UserLocalAppDataDir(bool trailingSlash = false);
std::string AllUsersAppDataDir(bool trailingSlash = false);
std::string MyDocumentsDir(bool trailingSlash = false);
std::string AllUsersDocumentsDir(bool trailingSlash = false);
std::string UserStartMenuDir(bool trailingSlash = false);
std::string AllUsersStartMenuDir(bool trailingSlash = false);
std::string UserStartProgramMenuDir(bool trailingSlash = false);
std::string AllUsersStartProgramMenuDir(bool trailingSlash = false);
std::string UserDesktopDir(bool trailingSlash = false);
std::string AllUsersDesktopDir(bool trailingSlash = false);
