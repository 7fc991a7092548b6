#include "paths/pathmacros.h"

#include <algorithm>
#include <cmath>

#include "paths/runtimedir.h"
#include "paths/utils.h"

std::string PathMacroSource::LongMonthName(int month) {
  static const char* const kNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                         "July",    "August",   "September", "October", "November", "December"};
  return month >= 1 && month <= 12 ? kNames[month - 1] : "";
}

std::string PathMacroSource::RunTimeFolder(int n) { return RunTimeDir(n, false); }

namespace {

bool HasText(const std::string& text, const std::string& macro) { return PosNoCase(macro, text) > 0; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Replaces every occurrence; the value is computed only when the macro is there.
template <typename ValueFn>
void ReplacePlain(std::string& text, const char* macro, ValueFn value) {
  if (HasText(text, macro)) text = ReplaceTextNoCase(text, macro, value());
}

template <typename ValueFn>
void ReplaceFolder(std::string& text, const std::string& macro, const std::string& suffix, ValueFn value) {
  if (!HasText(text, macro)) return;
  std::string tail = FolderSuffix(text, macro, suffix);
  text = ReplaceTextNoCase(text, macro, value() + tail);
}

std::string Two(int n) { return ZeroPad(n, 2); }

std::string DateText(char code, PathMacroSource& src) {
  double now = src.LocalNow();
  int y, mo, d, h, mi, s;
  DecodeDateTime(now, y, mo, d, h, mi, s);
  std::string ds(1, src.DateSeparator());
  std::string ts(1, src.TimeSeparator());
  std::string yy = Two(y % 100), yyyy = ZeroPad(y, 4), mm = Two(mo), dd = Two(d);
  switch (code) {
    case '#': return dd + ds + src.LongMonthName(mo) + ds + yyyy;
    case '0': {
      // Whole days since 1 January 2000, 00:00.
      const double kJan2000 = 36526.0;
      return IntToStr(static_cast<int64_t>(std::floor(now - kJan2000)));
    }
    case '1': return dd + "-" + mm + "-" + yy;
    case '2': return mm + "-" + dd + "-" + yy;
    case '3': return yy + "-" + mm + "-" + dd;
    case '4': return dd + "-" + mm + "-" + yyyy;
    case '5': return mm + "-" + dd + "-" + yyyy;
    case '6': return yyyy + "-" + mm + "-" + dd;
    case '7': return yyyy + "-" + mm + "-" + dd + " " + Two(h) + ts + Two(mi) + ts + Two(s);
  }
  return "";
}

// Drive ("C:\") or disk ("C:") of a folder.
std::string Head(const std::string& folder, size_t n) { return folder.substr(0, std::min(n, folder.size())); }

bool HasRelativePart(const std::string& text) {
  return text.find("\\..") != std::string::npos || text.find("..\\") != std::string::npos;
}

std::string FullPathOr(const std::string& path, PathMacroSource& src) {
  // A path the platform cannot resolve is kept rather than lost.
  std::string full = src.FullPath(path);
  return full.empty() ? path : full;
}

}  // namespace

std::string FolderSuffix(const std::string& text, const std::string& macro, const std::string& suffix) {
  int pos = PosNoCase(macro, text);
  if (pos == 0) return "";
  size_t after = static_cast<size_t>(pos - 1) + macro.size();
  if (after >= text.size()) return "";
  char next = text[after];
  if (next == ' ') return "";
  char d = text.front();
  if (text.back() == d && d != '<' && !IsAsciiLetter(d) && next == d) return "";
  return suffix;
}

std::string ExpandDateMacro(const std::string& text, PathMacroSource& source) {
  static const std::string kDate = "<Date=";
  int pos = PosNoCase(kDate, text);
  if (pos == 0) return text;
  size_t start = static_cast<size_t>(pos - 1);
  size_t codeAt = start + kDate.size();
  if (text.find('>', codeAt) == std::string::npos) return text;
  // Only "<Date=c>" with a known code counts; removing whatever stands after
  // the code would eat a character of the user's text.
  if (codeAt + 1 >= text.size() || text[codeAt + 1] != '>') return text;
  char code = text[codeAt];
  if (code != '#' && (code < '0' || code > '7')) return text;
  return text.substr(0, start) + DateText(code, source) + text.substr(codeAt + 2);
}

std::string FoldRelativePaths(const std::string& text, PathMacroSource& source) {
  if (!HasRelativePart(text)) return text;
  if ((text[0] == ',' || text[0] == '|') && ListCount(text) > 0) {
    std::string result = text;
    int count = ListCount(text);
    for (int i = 0; i < count; ++i) {
      std::string item = ListItem(text, i, "");
      if (HasRelativePart(item)) result = SetListItem(result, i, FullPathOr(item, source));
    }
    return result;
  }
  return FullPathOr(text, source);
}

std::string System16Candidate(const std::string& systemDir) {
  size_t at = systemDir.rfind("32");
  if (at == std::string::npos) return systemDir;
  return systemDir.substr(0, at) + systemDir.substr(at + 2);
}

std::string ExpandPathMacros(const std::string& text, const std::string& suffix, bool fold, bool pathMacros,
                             PathMacroSource& src) {
  std::string r = text;
  if (r.find('<') != std::string::npos) {
    r = ExpandDateMacro(r, src);

    ReplacePlain(r, "<LoggedUserName>", [&] { return src.LoggedUserName(); });
    ReplacePlain(r, "<UserName>", [&] { return src.UserName(); });
    ReplacePlain(r, "<CompanyName>", [&] { return src.CompanyName(); });
    ReplacePlain(r, "<ComputerName>", [&] { return src.ComputerName(); });
    ReplacePlain(r, "<CurrentDomainName>", [&] { return src.DomainName(); });
    ReplacePlain(r, "<LastExecutableExitCode>", [&] { return IntToStr(src.LastExitCode()); });

    static const char* const kEntered[][2] = {
        {"<EnteredUserName>", "UserName"},
        {"<EnteredCompanyName>", "CompanyName"},
        {"<EnteredSerialNum>", "SerialNum"},
        {"<EnteredStartProgramMenu>", "EnteredStartProgramMenu"},
        {"<VendorCompanyName>", "VendorCompanyName"},
        {"<ProjectName>", "ProjectName"},
        {"<ProgramDescriptiveName>", "ProgramDescriptiveName"},
        {"<ProgramVersion>", "ProgramVersion"},
        {"<SelectedLanguage>", "SelectedLanguage"},
    };
    for (const auto& e : kEntered) ReplacePlain(r, e[0], [&] { return src.EnteredValue(e[1]); });

    const std::string t1 = r;
    if (pathMacros) {
      ReplacePlain(r, "<UnInstallExePath>", [&] { return src.EnteredValue("UnInstallExePath"); });

      if (HasText(r, "<RunTimeDir_")) {
        for (int n = 1; n <= 8; ++n)
          ReplaceFolder(r, "<RunTimeDir_" + IntToStr(n) + ">", suffix, [&] { return src.RunTimeFolder(n); });
      }

      ReplaceFolder(r, "<Application Folder>", suffix, [&] { return src.InstallFolder(); });
      ReplaceFolder(r, "<Common Folder>", suffix, [&] { return src.CommonFolder(); });
      ReplaceFolder(r, "<Auxiliary Folder>", suffix, [&] { return src.AuxiliaryFolder(); });
      ReplaceFolder(r, "<Windows Directory>", suffix, [&] { return src.WindowsFolder(); });
      ReplaceFolder(r, "<System Directory>", suffix, [&] { return src.SystemFolder(); });
      ReplaceFolder(r, "<System16 Directory>", suffix, [&] { return src.System16Folder(); });

      // The older folder names and the newer ones are not mixed: once an
      // older one was used, the newer install-folder macros are dropped.
      if (r != t1) {
        for (const char* m : {"<InstallDir>", "<InstallCommonDir>", "<InstallAuxDir>"})
          ReplacePlain(r, m, [] { return std::string(); });
      }
      ReplacePlain(r, "<AbsoluteDir>", [] { return std::string(); });
      ReplaceFolder(r, "<InstallDir>", suffix, [&] { return src.InstallFolder(); });
      ReplaceFolder(r, "<InstallCommonDir>", suffix, [&] { return src.CommonFolder(); });
      ReplaceFolder(r, "<InstallAuxDir>", suffix, [&] { return src.AuxiliaryFolder(); });
      // A folder value may itself have brought one in.
      ReplacePlain(r, "<AbsoluteDir>", [] { return std::string(); });

      ReplaceFolder(r, "<WinDir>", suffix, [&] { return src.WindowsFolder(); });
      ReplaceFolder(r, "<WinSysDir>", suffix, [&] { return src.SystemFolder(); });
      ReplaceFolder(r, "<WinSys32Dir>", suffix, [&] { return src.SystemFolder(); });
      ReplaceFolder(r, "<WinSys16Dir>", suffix, [&] { return src.System16Folder(); });

      ReplacePlain(r, "<InstallDrive>", [&] { return Head(src.InstallFolder(), 3); });
      ReplacePlain(r, "<WinDrive>", [&] { return Head(src.WindowsFolder(), 3); });
      ReplacePlain(r, "<WinSysDrive>", [&] { return Head(src.SystemFolder(), 3); });
      ReplacePlain(r, "<OriginDrive>", [&] { return Head(src.OriginFolder(), 3); });
      ReplacePlain(r, "<InstallDisk>", [&] { return Head(src.InstallFolder(), 2); });
      ReplacePlain(r, "<WinDisk>", [&] { return Head(src.WindowsFolder(), 2); });
      ReplacePlain(r, "<WinSysDisk>", [&] { return Head(src.SystemFolder(), 2); });
      ReplacePlain(r, "<OriginDisk>", [&] { return Head(src.OriginFolder(), 2); });

      static const std::string kUserShellFolders =
          "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
      static const std::string kCurrentVersion = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
      ReplaceFolder(r, "<StartMenuDir>", suffix, [&] { return src.RegistryText(kUserShellFolders, "Start Menu"); });
      ReplaceFolder(r, "<ProgramFilesDir>", suffix,
                    [&] { return src.RegistryText(kCurrentVersion, "ProgramFilesDir"); });
      ReplaceFolder(r, "<CommonFilesDir>", suffix,
                    [&] { return src.RegistryText(kCurrentVersion, "CommonFilesDir"); });
      ReplaceFolder(r, "<FontDir>", suffix, [&] {
        std::string fonts = src.RegistryText(
            "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Fonts");
        return src.FolderExists(fonts) ? fonts : src.WindowsFolder() + "\\Fonts";
      });
      ReplaceFolder(r, "<SrcDir>", suffix, [&] { return src.OwnFolder(); });
      ReplaceFolder(r, "<OriginDir>", suffix, [&] { return src.OriginFolder(); });
      ReplaceFolder(r, "<TempDir>", suffix, [&] { return src.TempFolder(); });
      ReplaceFolder(r, "<ServiceDir>", suffix, [&] { return src.OwnFolder(); });

      static const char* const kSpecial[] = {
          "<UserDir>",
          "<UserAppDataDir>",
          "<UserLocalAppDataDir>",
          "<MyDocumentsDir>",
          "<UserStartMenuDir>",
          "<UserStartProgramMenuDir>",
          "<UserDesktopDir>",
          "<DocumentsAndSettingsDir>",
          "<AllUsersDir>",
          "<AllUsersAppDataDir>",
          "<AllUsersDocumentsDir>",
          "<AllUsersStartMenuDir>",
          "<AllUsersStartProgramMenuDir>",
          "<AllUsersDesktopDir>",
      };
      for (const char* m : kSpecial) ReplaceFolder(r, m, suffix, [&] { return src.SpecialFolder(m); });

      if (r != t1) r = CollapseDoubleSlashes(r, false);
    }
  }
  if (fold) r = FoldRelativePaths(r, src);
  return r;
}
