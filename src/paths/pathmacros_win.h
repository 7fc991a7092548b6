// Path macros on the running system: the install folders, the origin of the
// program and the Win32 value source behind ExpandPathMacros.
#pragma once
#include <string>

#include "paths/pathmacros.h"

// The three install folders, as given (the agent takes them from its
// ORIGINAL file before it expands the path of the running program).
void SetInstallFolders(const std::string& installDir, const std::string& commonDir, const std::string& auxDir);

// "/OriginExe=" of the command line, else the own program path; read once.
std::string OriginExePath();
// Folder of OriginExePath without trailing backslash, else the own folder; read once.
std::string OriginDir();
// The 16-bit system folder: the system folder without its last "32", else
// Windows\System, else the system folder.
std::string System16Dir(bool trailingSlash = false);

// Answers the value names of the "<Entered...>" macros; none is installed by default.
using EnteredValueProvider = std::string (*)(const std::string& name);
void SetEnteredValueProvider(EnteredValueProvider provider);

class Win32MacroSource : public PathMacroSource {
 public:
  std::string LoggedUserName() override;
  std::string UserName() override;
  std::string CompanyName() override;
  std::string ComputerName() override;
  std::string DomainName() override;
  std::string EnteredValue(const std::string& name) override;
  double LocalNow() override;
  char DateSeparator() override;
  char TimeSeparator() override;
  std::string LongMonthName(int month) override;
  std::string InstallFolder() override;
  std::string CommonFolder() override;
  std::string AuxiliaryFolder() override;
  std::string WindowsFolder() override;
  std::string SystemFolder() override;
  std::string System16Folder() override;
  std::string TempFolder() override;
  std::string OwnFolder() override;
  std::string OriginFolder() override;
  std::string SpecialFolder(const std::string& macro) override;
  std::string RegistryText(const std::string& keyPath, const std::string& valueName) override;
  bool FolderExists(const std::string& path) override;
  std::string FullPath(const std::string& path) override;
};

// The expansion over the running system.
std::string ExpandPathMacros(const std::string& text, const std::string& suffix, bool fold, bool pathMacros);
std::string FoldRelativePaths(const std::string& text);
// GetFullPathName; empty when it fails.
std::string FullPathName(const std::string& path);
