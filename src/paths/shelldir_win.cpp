#include "paths/shelldir_win.h"

#include <windows.h>

#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/widepath_win.h"

namespace {

constexpr DWORD kPathBuffer = 1025;

std::string Slash(const std::string& path, bool trailingSlash) {
  return path.empty() ? path : NormalizeDirSlash(path, trailingSlash);
}

}  // namespace

std::string ShellFolderPath(int csidl, bool trailingSlash) {
  using Fn = BOOL(WINAPI*)(HWND, LPWSTR, int, BOOL);
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(DynamicFunction("shell32.dll", "SHGetSpecialFolderPathW")));
  if (!fn) return "";
  wchar_t buffer[kPathBuffer] = {};
  if (!fn(nullptr, buffer, csidl, FALSE)) return "";
  return Slash(PathFromWide(buffer), trailingSlash);
}

std::string ShellFolderPathEx(int csidl, bool trailingSlash) {
  using Fn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(DynamicFunction("SHFolder.dll", "SHGetFolderPathW")));
  if (!fn) return "";
  wchar_t buffer[kPathBuffer] = {};
  if (fn(nullptr, csidl, nullptr, 0, buffer) != 0) return "";
  return Slash(PathFromWide(buffer), trailingSlash);
}

bool DirectoryExists(const std::string& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string Win32ShellFacts::SpecialFolderPath(int csidl) { return ShellFolderPath(csidl, false); }
std::string Win32ShellFacts::FolderPath(int csidl) { return ShellFolderPathEx(csidl, false); }
std::string Win32ShellFacts::WindowsFolder() { return WindowsDir(false); }
std::string Win32ShellFacts::RegisteredOwner() { return ::RegisteredOwner(); }
bool Win32ShellFacts::FolderExists(const std::string& path) { return DirectoryExists(path); }

std::string ProfilesFolderPath(bool trailingSlash) {
  Win32ShellFacts facts;
  return Slash(ProfilesFolder(facts), trailingSlash);
}

std::string ShellFolderByMacro(const std::string& macro, bool trailingSlash) {
  Win32ShellFacts facts;
  return Slash(ShellFolderFor(macro, facts), trailingSlash);
}

std::string UserDir(bool t) { return ShellFolderByMacro("<UserDir>", t); }
std::string DocumentsAndSettingsDir(bool t) { return ShellFolderByMacro("<DocumentsAndSettingsDir>", t); }
std::string AllUsersDir(bool t) { return ShellFolderByMacro("<AllUsersDir>", t); }
std::string UserAppDataDir(bool t) { return ShellFolderByMacro("<UserAppDataDir>", t); }
std::string UserLocalAppDataDir(bool t) { return ShellFolderByMacro("<UserLocalAppDataDir>", t); }
std::string AllUsersAppDataDir(bool t) { return ShellFolderByMacro("<AllUsersAppDataDir>", t); }
std::string MyDocumentsDir(bool t) { return ShellFolderByMacro("<MyDocumentsDir>", t); }
std::string AllUsersDocumentsDir(bool t) { return ShellFolderByMacro("<AllUsersDocumentsDir>", t); }
std::string UserStartMenuDir(bool t) { return ShellFolderByMacro("<UserStartMenuDir>", t); }
std::string AllUsersStartMenuDir(bool t) { return ShellFolderByMacro("<AllUsersStartMenuDir>", t); }
std::string UserStartProgramMenuDir(bool t) { return ShellFolderByMacro("<UserStartProgramMenuDir>", t); }
std::string AllUsersStartProgramMenuDir(bool t) { return ShellFolderByMacro("<AllUsersStartProgramMenuDir>", t); }
std::string UserDesktopDir(bool t) { return ShellFolderByMacro("<UserDesktopDir>", t); }
std::string AllUsersDesktopDir(bool t) { return ShellFolderByMacro("<AllUsersDesktopDir>", t); }
