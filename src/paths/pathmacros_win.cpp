#include "paths/pathmacros_win.h"

#include <windows.h>

#include "paths/shelldir_win.h"
#include "paths/widepath_win.h"
#include "paths/utils.h"
#include "paths/utils_win.h"

namespace {

std::string g_installDir, g_commonDir, g_auxDir;
bool g_originRead = false;
std::string g_originExe, g_originDir;
EnteredValueProvider g_provider = nullptr;

void ReadOrigin() {
  if (g_originRead) return;
  g_originRead = true;
  g_originExe = SwitchValue("/OriginExe=");
  if (g_originExe.empty()) g_originExe = OwnExePath();
  g_originDir = RemoveTrailingBackslash(ExtractFileDir(g_originExe));
  if (g_originDir.empty()) g_originDir = ::OwnFolder(false);
}

std::string LocaleText(LCTYPE type) {
  char buffer[100] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer) <= 0) return "";
  return buffer;
}

char LocaleChar(LCTYPE type, char def) {
  std::string text = LocaleText(type);
  return text.empty() ? def : text[0];
}

}  // namespace

void SetInstallFolders(const std::string& installDir, const std::string& commonDir, const std::string& auxDir) {
  g_installDir = installDir;
  g_commonDir = commonDir;
  g_auxDir = auxDir;
}

std::string OriginExePath() {
  ReadOrigin();
  return g_originExe;
}

std::string OriginDir() {
  ReadOrigin();
  return g_originDir;
}

std::string System16Dir(bool trailingSlash) {
  std::string system = SystemDir(false);
  std::string candidate = System16Candidate(system);
  if (!DirectoryExists(candidate)) {
    candidate = WindowsDir(true) + "System";
    if (!DirectoryExists(candidate)) candidate = system;
  }
  return NormalizeDirSlash(candidate, trailingSlash);
}

void SetEnteredValueProvider(EnteredValueProvider provider) { g_provider = provider; }

std::string FullPathName(const std::string& path) {
  wchar_t buffer[MAX_PATH + 1] = {};
  wchar_t* filePart = nullptr;
  DWORD n = GetFullPathNameW(WidePath(path).c_str(), MAX_PATH + 1, buffer, &filePart);
  if (n == 0 || n >= MAX_PATH + 1) return "";
  return PathFromWide(buffer, int(n));
}

std::string Win32MacroSource::LoggedUserName() { return ::LoggedUserName(); }
std::string Win32MacroSource::UserName() {
  std::string owner = RegisteredOwner();
  return owner.empty() ? ::LoggedUserName() : owner;
}
std::string Win32MacroSource::CompanyName() { return RegisteredOrganization(); }
std::string Win32MacroSource::ComputerName() { return ComputerNameText(); }
std::string Win32MacroSource::DomainName() { return CurrentDomainName(); }
std::string Win32MacroSource::EnteredValue(const std::string& name) { return g_provider ? g_provider(name) : ""; }
double Win32MacroSource::LocalNow() { return NowDateTime(); }
char Win32MacroSource::DateSeparator() { return LocaleChar(LOCALE_SDATE, '/'); }
char Win32MacroSource::TimeSeparator() { return LocaleChar(LOCALE_STIME, ':'); }
std::string Win32MacroSource::LongMonthName(int month) {
  if (month < 1 || month > 12) return "";
  std::string name = LocaleText(LOCALE_SMONTHNAME1 + month - 1);
  return name.empty() ? PathMacroSource::LongMonthName(month) : name;
}
std::string Win32MacroSource::InstallFolder() { return g_installDir; }
std::string Win32MacroSource::CommonFolder() { return g_commonDir; }
std::string Win32MacroSource::AuxiliaryFolder() { return g_auxDir; }
std::string Win32MacroSource::WindowsFolder() { return WindowsDir(false); }
std::string Win32MacroSource::SystemFolder() { return SystemDir(false); }
std::string Win32MacroSource::System16Folder() { return System16Dir(false); }
std::string Win32MacroSource::TempFolder() { return TempDir(false); }
std::string Win32MacroSource::OwnFolder() { return ::OwnFolder(false); }
std::string Win32MacroSource::OriginFolder() { return OriginDir(); }
std::string Win32MacroSource::SpecialFolder(const std::string& macro) { return ShellFolderByMacro(macro, false); }
std::string Win32MacroSource::RegistryText(const std::string& keyPath, const std::string& valueName) {
  return ReadRegString(keyPath, valueName, "");
}
bool Win32MacroSource::FolderExists(const std::string& path) { return DirectoryExists(path); }
std::string Win32MacroSource::FullPath(const std::string& path) { return FullPathName(path); }

std::string ExpandPathMacros(const std::string& text, const std::string& suffix, bool fold, bool pathMacros) {
  Win32MacroSource source;
  return ExpandPathMacros(text, suffix, fold, pathMacros, source);
}

std::string FoldRelativePaths(const std::string& text) {
  Win32MacroSource source;
  return FoldRelativePaths(text, source);
}
