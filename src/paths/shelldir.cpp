#include "paths/shelldir.h"

#include "paths/utils.h"

namespace {

std::string Clean(const std::string& path) { return path.empty() ? path : NormalizeDirSlash(path, false); }

std::string Parent(const std::string& path) { return ExtractFileDir(RemoveTrailingBackslash(path)); }

// The chain of fallbacks: each next candidate is taken only while the path
// so far does not exist; the last one stands even when it does not.
template <typename... Next>
std::string FirstExisting(ShellFacts& f, std::string path, Next... next) {
  ((path = f.FolderExists(path) ? path : Clean(next())), ...);
  return path;
}

std::string UserDir(ShellFacts& f) {
  std::string p = Clean(f.FolderPath(kCsidlPersonal | kCsidlFlagCreate));
  if (f.FolderExists(p)) p = Parent(p);
  return FirstExisting(f, p, [&] { return ProfilesFolder(f); });
}

std::string AllUsersDir(ShellFacts& f) {
  std::string p = Clean(f.FolderPath(kCsidlCommonAppData | kCsidlFlagCreate));
  if (f.FolderExists(p)) p = Parent(p);
  return FirstExisting(f, p, [&] { return f.WindowsFolder(); });
}

}  // namespace

std::string ProfilesFolder(ShellFacts& f) {
  std::string windows = Clean(f.WindowsFolder());
  std::string owner = Trim(f.RegisteredOwner());
  // Without an owner name the path would be the Profiles folder itself.
  if (!owner.empty()) {
    std::string profile = windows + "\\Profiles\\" + owner;
    if (f.FolderExists(profile)) return profile;
  }
  return windows;
}

std::string ShellFolderFor(const std::string& macro, ShellFacts& f) {
  auto ex = [&](int csidl) { return Clean(f.FolderPath(csidl | kCsidlFlagCreate)); };
  auto sp = [&](int csidl) { return Clean(f.SpecialFolderPath(csidl)); };
  auto profilesPlus = [&](const char* name) { return [&f, name] { return ProfilesFolder(f) + "\\" + name; }; };
  auto windowsPlus = [&](const char* name) { return [&f, name] { return Clean(f.WindowsFolder()) + "\\" + name; }; };
  auto userPlus = [&](const char* name) { return [&f, name] { return UserDir(f) + "\\" + name; }; };
  auto allPlus = [&](const char* name) { return [&f, name] { return AllUsersDir(f) + "\\" + name; }; };

  if (SameText(macro, "<UserDir>")) return UserDir(f);
  if (SameText(macro, "<DocumentsAndSettingsDir>")) {
    std::string p = ex(kCsidlPersonal);
    if (f.FolderExists(p)) p = Parent(p);
    if (f.FolderExists(p)) p = Parent(p);
    return FirstExisting(f, p, [&] { return ProfilesFolder(f); });
  }
  if (SameText(macro, "<AllUsersDir>")) return AllUsersDir(f);
  if (SameText(macro, "<UserAppDataDir>"))
    return FirstExisting(f, ex(kCsidlAppData), profilesPlus("Application Data"));
  if (SameText(macro, "<UserLocalAppDataDir>"))
    return FirstExisting(f, ex(kCsidlLocalAppData), profilesPlus("Application Data"));
  if (SameText(macro, "<AllUsersAppDataDir>"))
    return FirstExisting(f, ex(kCsidlCommonAppData), windowsPlus("Application Data"));
  if (SameText(macro, "<MyDocumentsDir>"))
    return FirstExisting(f, ex(kCsidlPersonal), profilesPlus("My Documents"));
  if (SameText(macro, "<AllUsersDocumentsDir>"))
    return FirstExisting(f, ex(kCsidlCommonDocuments), windowsPlus("Documents"));
  if (SameText(macro, "<UserStartMenuDir>"))
    return FirstExisting(f, sp(kCsidlStartMenu), userPlus("Start Menu"), allPlus("Start Menu"));
  if (SameText(macro, "<AllUsersStartMenuDir>"))
    return FirstExisting(f, sp(kCsidlCommonStartMenu), allPlus("Start Menu"));
  if (SameText(macro, "<UserStartProgramMenuDir>"))
    return FirstExisting(f, sp(kCsidlPrograms), userPlus("Start Menu\\Programs"), allPlus("Start Menu\\Programs"));
  if (SameText(macro, "<AllUsersStartProgramMenuDir>"))
    return FirstExisting(f, sp(kCsidlCommonPrograms), allPlus("Start Menu\\Programs"));
  if (SameText(macro, "<UserDesktopDir>"))
    return FirstExisting(f, sp(kCsidlDesktopDirectory), userPlus("Desktop"), allPlus("Desktop"));
  if (SameText(macro, "<AllUsersDesktopDir>"))
    return FirstExisting(f, sp(kCsidlCommonDesktopDirectory), allPlus("Desktop"));
  return "";
}
