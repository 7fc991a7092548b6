#include <gtest/gtest.h>

#include "package/gfileinfo.h"
#include "package/lang.h"
#include "package/slangid.h"
#include "package_fixture.h"
#include "paths/utils.h"

using namespace pkgtest;

namespace {
std::string Block(std::initializer_list<std::string> sections) {
  std::string b = "\x02";
  for (const std::string& s : sections) b += "\x01" + s + "\x01\x02";
  return b;
}

// Sets the thread locale seen by the language choice for one test.
struct LocaleGuard : HookGuard {
  explicit LocaleGuard(uint32_t lcid) {
    static uint32_t value;
    value = lcid;
    Platform().threadLocale = [] { return value; };
    ResetChosenLanguage();
  }
  ~LocaleGuard() { ResetChosenLanguage(); }
};
}  // namespace

TEST(LanguageTable, ItemsAndNumbers) {
  const std::string& t = LanguageTable();
  EXPECT_EQ(ListCount(t), 51);
  EXPECT_EQ(ListItem(t, 0, ""), "AFRIKAANS    = 54");
  EXPECT_EQ(ListItem(t, 43, ""), "CHINESE(SIMPLIFIED)  = 2052");
  EXPECT_EQ(ListItem(t, 50, ""), "SERBIAN(CYRILIC)     = 3098");

  struct Case {
    uint32_t number;
    const char* name;
  } cases[] = {
      {9, "ENGLISH"},  {7, "GERMAN"},  {1, "ARABIC"},         {31, "TURKISH"},
      {26, "CROATIAN"},  // never SERBIAN: the earlier item wins
      {20, "NORWEGIAN"}, {43, "DUTCH(STANDARD)"},  // only inside 1043
      {52, "CHINESE(SIMPLIFIED)"}, {146, ""}, {0, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(LanguageNameForNumber(c.number), c.name) << c.number;
}

TEST(LanguageTable, SystemLanguageFromLocale) {
  struct Case {
    uint32_t lcid;
    const char* name;
  } cases[] = {{0x0409, "ENGLISH"}, {0x0809, "ENGLISH"}, {0x041F, "TURKISH"}, {0x0813, "DUTCH"}, {0, "ENGLISH"}};
  for (const Case& c : cases) {
    LocaleGuard locale(c.lcid);
    EXPECT_EQ(SystemLanguageName(), c.name) << std::hex << c.lcid;
  }
}

TEST(LanguageChoice, SectionByName) {
  struct Case {
    const char* what;
    std::string block;
    const char* system;
    const char* chosen;  // section name, or "*"
  } cases[] = {
      {"only German on an English system", Block({"German\x01s1=Entpacke"}), "ENGLISH", "German"},
      {"German and French on a Japanese system", Block({"German", "French"}), "JAPANESE", "*"},
      {"name compared ignoring case", Block({"English", "Turkish"}), "TURKISH", "Turkish"},
      {"name compared trimmed", Block({"English", " turkish "}), "TURKISH", " turkish "},
      {"falls back to English", Block({"Turkish", "English"}), "GERMAN", "English"},
      {"DUTCH(STANDARD) matches no usual name", Block({"Dutch", "English"}), "DUTCH(STANDARD)", "English"},
      {"no block", "", "ENGLISH", "*"},
  };
  for (const Case& c : cases) {
    std::string section = ChooseLanguageSection(c.block, c.system);
    std::string name = section == "*" ? "*" : ListItem(section, 0, "");
    EXPECT_EQ(name, c.chosen) << c.what;
  }
}

TEST(LanguageChoice, TextsFromThePackage) {
  LocaleGuard locale(0x0407);  // German
  TempDir dir;
  PackagePlan plan = BasicSpec();
  plan.languages = {
      {"English", {{"s0", "Setup"}}},
      {"German",
       {{"s0", "Installation"}, {"s11", ""}, {"s1 ", " Entpacke..."}, {"Charset", "abc"}, {"FontName", "Arial"}}},
  };
  ASSERT_EQ(WritePackage(plan, dir.Path("Setup.exe")).error, "");
  TGFileInfo fi(dir.Path("Setup.exe"));
  EXPECT_EQ(fi.GetLangText("s0", "Zelkan Installation Suite"), "Installation");
  EXPECT_EQ(fi.GetLangText("S0", "x"), "Installation");               // key ignores case
  EXPECT_EQ(fi.GetLangText("s11", "<b>INTERNET DOWNLOAD</b>"), "");  // present but empty
  EXPECT_EQ(fi.GetLangText("s12", "No valid Internet Connection."), "No valid Internet Connection.");
  EXPECT_EQ(fi.GetLangText("s1", "Extracting Files..."), " Entpacke...");  // blank before "=" is disregarded
  EXPECT_EQ(fi.GetLangText("s", "d"), "d");                                // no prefix match
  EXPECT_EQ(fi.Charset(), 0);                                              // not a number
  EXPECT_EQ(fi.FontSize(), 8);                                             // missing
  EXPECT_EQ(fi.FontName(), "Arial");
  EXPECT_EQ(ListItem(ChosenLanguage(), 0, ""), "German");
}

TEST(LanguageChoice, ChosenOncePerProcess) {
  LocaleGuard locale(0x0409);
  TempDir dir;
  PackagePlan first = BasicSpec();
  first.languages = {{"German", {{"s0", "Deutsch"}}}};
  PackagePlan second = BasicSpec();
  second.languages = {{"English", {{"s0", "English"}}}, {"French", {{"s0", "Francais"}}}};
  ASSERT_EQ(WritePackage(first, dir.Path("a.exe")).error, "");
  ASSERT_EQ(WritePackage(second, dir.Path("b.exe")).error, "");
  EXPECT_EQ(TGFileInfo(dir.Path("a.exe")).GetLangText("s0", "d"), "Deutsch");
  // The later package does not change the choice.
  EXPECT_EQ(TGFileInfo(dir.Path("b.exe")).GetLangText("s0", "d"), "Deutsch");

  ResetChosenLanguage();
  TGFileInfo none(dir.Path("missing.exe"));
  EXPECT_EQ(none.GetLangText("s0", "Zelkan Installation Suite"), "Zelkan Installation Suite");
  EXPECT_EQ(ChosenLanguage(), "*");
  EXPECT_EQ(none.Charset(), 0);
  EXPECT_EQ(none.FontSize(), 8);
  EXPECT_EQ(none.FontName(), "Tahoma");
}
