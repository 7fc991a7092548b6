// The INI reader over bytes in memory against the system's profile
// functions on the same file: the agent's decisions from the verified INFO
// bytes must be the ones the file would have given.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "paths/utils_win.h"
#include "paths/widepath_win.h"
#include "process/initext.h"

namespace {

// GetPrivateProfileStringW's answer, as UTF-8 (found: the default did not come back).
bool SystemValue(const std::string& file, const char* section, const char* key, std::string& value) {
  wchar_t buf[4096];
  DWORD n = GetPrivateProfileStringW(WidePath(section).c_str(), WidePath(key).c_str(), L"\x1F", buf, 4096,
                                     WidePath(file).c_str());
  if (n == 1 && buf[0] == 0x1F) return false;
  value = PathFromWide(buf, int(n));
  return true;
}

TEST(IniTextAgainstTheSystem, SameValuesForTheSameBytes) {
  std::string utf16 = std::string("\xFF\xFE", 2);
  for (char16_t c : std::u16string(u"[NewSetup]\r\nRunningProcess=C:\\\u0141\u00F3d\u017A\\App.exe\r\n"
                                   u"ProgramName = \" Neu \"\r\n")) {
    utf16 += char(c & 0xFF);
    utf16 += char(c >> 8);
  }
  const std::string files[] = {
      "; comment\r\nOrphan=1\r\n[NewSetup]\r\nVersionNew=101\r\n  versionnew = 999\r\n"
      "Spaced   =   padded value   \r\nQuoted=\" both ends \"\r\nSingle=' kept'\r\nUnmatched=\"one\r\n"
      "Mixed=\"a'\r\nEquals=a=b=c\r\nEmpty=\r\nNoValue\r\n[ General ]\nSerial=17\n[NewSetup]\r\nLater=x\r\n"
      "[Broken\r\nInBroken=1\r\n[Tail] junk\r\nAfterJunk=2\r\n\t[Indented]\r\nIn=3\r\n",
      utf16,
      "\xEF\xBB\xBF[NewSetup]\nProgramName=\xC3\xA4\n",
  };
  const char* keys[][2] = {
      {"NewSetup", "VersionNew"}, {"newsetup", "VERSIONNEW"}, {"NewSetup", "Spaced"},  {"NewSetup", "Quoted"},
      {"NewSetup", "Single"},     {"NewSetup", "Unmatched"},  {"NewSetup", "Mixed"},   {"NewSetup", "Equals"},
      {"NewSetup", "Empty"},      {"NewSetup", "NoValue"},    {"General", "Serial"},   {"NewSetup", "Later"},
      {"NewSetup", "Orphan"},     {"NewSetup", "InBroken"},   {"Broken", "InBroken"},  {"Tail", "AfterJunk"},
      {"Indented", "In"},         {"NewSetup", "RunningProcess"}, {"NewSetup", "ProgramName"},
      {"Missing", "VersionNew"},
  };
  int n = 0;
  for (const std::string& bytes : files) {
    std::string path = TempDir(true) + "initext_" + std::to_string(n++) + ".ini";
    FILE* f = _wfopen(WidePath(path).c_str(), L"wb");
    ASSERT_TRUE(f);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    IniText ini = IniText::Parse(bytes);
    for (const auto& k : keys) {
      std::string mine, system;
      bool found = ini.Find(k[0], k[1], mine);
      bool systemFound = SystemValue(path, k[0], k[1], system);
      if (!ini.Utf8() && found) mine = PathFromAnsi(mine);
      EXPECT_EQ(found, systemFound) << n << " " << k[0] << "/" << k[1];
      if (found && systemFound) EXPECT_EQ(mine, system) << n << " " << k[0] << "/" << k[1];
    }
    DeleteFileW(WidePath(path).c_str());
  }
}

}  // namespace
