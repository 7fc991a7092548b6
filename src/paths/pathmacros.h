// Path macros: turns texts such as "<InstallDir>Tool.exe" or
// "|<WinDir>|<Date=6>|" into real paths. The expansion is a pure function
// over the text and a value source, so that every rule can be checked
// without a Windows machine; the Win32 source lives in pathmacros_win.h.
#pragma once
#include <string>

// Everything the expansion needs to know about the machine. Each value is
// asked for only when its macro is present. Folders come without trailing
// backslash, except the three install folders, which are used as they were set.
class PathMacroSource {
 public:
  virtual ~PathMacroSource() = default;

  // User and system information.
  virtual std::string LoggedUserName() { return ""; }
  virtual std::string UserName() { return ""; }  // registered owner, else the logged-on user
  virtual std::string CompanyName() { return ""; }
  virtual std::string ComputerName() { return ""; }
  virtual std::string DomainName() { return ""; }
  virtual int LastExitCode() { return 0; }
  // Values the user entered during an installation; empty without a provider.
  virtual std::string EnteredValue(const std::string& name) { return ""; }

  // Date: local now (days since 30 December 1899), the system's separators
  // and full month names (1..12).
  virtual double LocalNow() = 0;
  virtual char DateSeparator() { return '/'; }
  virtual char TimeSeparator() { return ':'; }
  virtual std::string LongMonthName(int month);

  // Folders.
  virtual std::string InstallFolder() { return ""; }
  virtual std::string CommonFolder() { return ""; }
  virtual std::string AuxiliaryFolder() { return ""; }
  virtual std::string WindowsFolder() { return ""; }
  virtual std::string SystemFolder() { return ""; }
  virtual std::string System16Folder() { return ""; }
  virtual std::string TempFolder() { return ""; }
  virtual std::string OwnFolder() { return ""; }
  virtual std::string OriginFolder() { return ""; }
  virtual std::string RunTimeFolder(int n);  // 1..8, the run-time directory table by default
  // "<UserDir>", "<UserAppDataDir>", ... : the special folder named by the macro.
  virtual std::string SpecialFolder(const std::string& macro) { return ""; }

  // Registry value as text, empty when it cannot be read.
  virtual std::string RegistryText(const std::string& keyPath, const std::string& valueName) { return ""; }
  virtual bool FolderExists(const std::string& path) { return false; }
  // The platform's full path of a path; empty when it cannot be made.
  virtual std::string FullPath(const std::string& path) { return path; }
};

// suffix: appended to folder values (see FolderSuffix); fold: resolve
// relative parts at the end; pathMacros: expand folder, drive and special-folder macros.
std::string ExpandPathMacros(const std::string& text, const std::string& suffix, bool fold, bool pathMacros,
                             PathMacroSource& source);

// The suffix a folder macro gets, decided from its first occurrence: none when
// the macro ends the text, is followed by a blank, or ends an item of a
// delimited list. Empty when the macro does not occur.
std::string FolderSuffix(const std::string& text, const std::string& macro, const std::string& suffix);

// Expands the first "<Date=c>" of the text; a text whose first date macro is
// not well formed is returned unchanged.
std::string ExpandDateMacro(const std::string& text, PathMacroSource& source);

// Replaces a path, or every item of a "," or "|" list, that holds a ".." part
// by its full path.
std::string FoldRelativePaths(const std::string& text, PathMacroSource& source);

// The system folder with its last "32" removed (the 16-bit system folder).
std::string System16Candidate(const std::string& systemDir);
