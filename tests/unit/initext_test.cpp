#include "process/initext.h"

#include <gtest/gtest.h>

namespace {

// One file with the shapes publishers write, and what the profile functions
// give for each key.
TEST(IniText, ReadsAsTheProfileFunctions) {
  const std::string file =
      "; comment line\r\n"
      "Orphan=before any section\r\n"
      "[NewSetup]\r\n"
      "VersionNew=101\r\n"
      "  versionnew = 999\r\n"  // a second copy: the first counts
      "Spaced   =   padded value   \r\n"
      "Quoted=\" leading and trailing \"\r\n"
      "Single=' kept blank'\r\n"
      "Unmatched=\"only one quote\r\n"
      "Mixed=\"a'\r\n"
      "Equals=a=b=c\r\n"
      "Empty=\r\n"
      "NoValue\r\n"
      "[ General ]\n"
      "Serial=1765432100\n"
      "[NewSetup]\r\n"
      "Later=in a second section of the same name\r\n"
      "[Broken\r\n"
      "InBroken=1\r\n";
  IniText ini = IniText::Parse(file);
  EXPECT_FALSE(ini.Utf8());
  const struct {
    const char *section, *key;
    bool found;
    const char* value;
  } cases[] = {
      {"NewSetup", "VersionNew", true, "101"},
      {"newsetup", "VERSIONNEW", true, "101"},
      {"NewSetup", "Spaced", true, "padded value"},
      {"NewSetup", "Quoted", true, " leading and trailing "},
      {"NewSetup", "Single", true, " kept blank"},
      {"NewSetup", "Unmatched", true, "\"only one quote"},
      {"NewSetup", "Mixed", true, "\"a'"},
      {"NewSetup", "Equals", true, "a=b=c"},
      {"NewSetup", "Empty", true, ""},
      {"NewSetup", "NoValue", false, ""},
      {"General", "Serial", true, "1765432100"},
      {" General ", " Serial ", true, "1765432100"},
      {"NewSetup", "Later", false, ""},  // only the first section of a name is read
      {"NewSetup", "Orphan", false, ""},
      {"NewSetup", "InBroken", false, ""},  // a header without its bracket is no header: still the second NewSetup
      {"Broken", "InBroken", false, ""},
      {"Missing", "VersionNew", false, ""},
  };
  for (const auto& c : cases) {
    std::string v = "unset";
    EXPECT_EQ(ini.Find(c.section, c.key, v), c.found) << c.section << "/" << c.key;
    if (c.found) {
      EXPECT_EQ(v, c.value) << c.section << "/" << c.key;
    }
  }
  EXPECT_EQ(ini.Get("NewSetup", "Later", "default"), "default");
}

TEST(IniText, MarkedUnicodeFilesGiveUtf8AndOthersTheirBytes) {
  std::string utf16le = std::string("\xFF\xFE", 2);
  std::string utf16be = std::string("\xFE\xFF", 2);
  for (char16_t c : std::u16string(u"[A]\r\nName=\u0141\u00F3d\u017A \u65E5\r\n")) {
    utf16le += char(c & 0xFF);
    utf16le += char(c >> 8);
    utf16be += char(c >> 8);
    utf16be += char(c & 0xFF);
  }
  const struct {
    const char* what;
    std::string bytes;
    bool utf8;
    std::string value;
  } cases[] = {
      {"UTF-16 LE", utf16le, true, "\xC5\x81\xC3\xB3\x64\xC5\xBA \xE6\x97\xA5"},
      {"UTF-16 BE", utf16be, true, "\xC5\x81\xC3\xB3\x64\xC5\xBA \xE6\x97\xA5"},
      {"UTF-8 with its mark", "\xEF\xBB\xBF[A]\nName=\xC3\xA4\n", true, "\xC3\xA4"},
      {"8-bit", "[A]\nName=M\xFC" "ller\n", false, "M\xFC" "ller"},
  };
  for (const auto& c : cases) {
    IniText ini = IniText::Parse(c.bytes);
    EXPECT_EQ(ini.Utf8(), c.utf8) << c.what;
    EXPECT_EQ(ini.Get("A", "Name"), c.value) << c.what;
  }
  EXPECT_TRUE(IniText::Parse("").Empty());
}

}  // namespace
