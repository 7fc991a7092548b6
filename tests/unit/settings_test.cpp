#include "process/settings.h"

#include <gtest/gtest.h>

#include "paths/utils.h"

namespace {

TEST(AgentFileNames, InfoAndOriginalNames) {
  struct {
    const char* infoFileName;
    const char* info;
    const char* original;
  } cases[] = {
      {"Product.info", "Product.info", "Product.original"},
      {"My.App.info", "My.App.info", "My.original"},
      {"Product", "Product", "Product.original"},
      {"sub\\Product.info", "Product.info", "Product.original"},
      {"http://example.com/upd/Product.info", "Product.info", "Product.original"},
      // No INFO file named: no files at all, never the agent's folder.
      {"", "", ""},
      {"  ", "", ""},
      {"sub\\", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InfoFileNameOf(c.infoFileName), c.info) << c.infoFileName;
    EXPECT_EQ(OriginalFileNameOf(c.infoFileName), c.original) << c.infoFileName;
    EXPECT_EQ(AgentFilePath("C:\\App\\", InfoFileNameOf(c.infoFileName)), *c.info ? std::string("C:\\App\\") + c.info : "")
        << c.infoFileName;
  }
}

TEST(Switches, OverrideBeatsTheIniText) {
  struct {
    uint8_t override;
    const char* ini;
    bool on;
  } cases[] = {
      {255, "1", true},   {255, "0", false}, {255, "yes", false}, {255, "true", false},
      {255, " 1", false}, {255, "", false},  {0, "1", false},     {1, "0", true},
      {1, "", true},      {2, "1", false},   {254, "1", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SwitchWithOverride(c.override, c.ini), c.on) << int(c.override) << " " << c.ini;
}

class Overrides : public ::testing::Test {
 protected:
  void SetUp() override { ResetOverrides(); }
  void TearDown() override { ResetOverrides(); }
};

TEST_F(Overrides, StartUnsetAndListInPositionOrder) {
  EXPECT_EQ(OverrideListText(), "|255|255|255|255|255|255|255|255|");
  EXPECT_TRUE(SetOverride(kOvDownloadConfirmation, 1));
  EXPECT_EQ(OverrideListText(), "|255|1|255|255|255|255|255|255|");
  EXPECT_TRUE(SetOverride(kOvRestartProcess, 0));
  EXPECT_EQ(OverrideListText(), "|255|1|255|255|255|0|255|255|");
}

TEST_F(Overrides, OnlyTheCommandPositionsHaveASetter) {
  EXPECT_FALSE(SetOverride(6, 1));
  EXPECT_FALSE(SetOverride(7, 1));
  EXPECT_FALSE(SetOverride(-1, 1));
  EXPECT_EQ(OverrideListText(), "|255|255|255|255|255|255|255|255|");
  EXPECT_EQ(Override(8), kOverrideNotSet);
}

TEST_F(Overrides, ConfirmBeforeCheckOnlyWhenExactlyOne) {
  EXPECT_FALSE(ConfirmBeforeCheck());  // 255 means off for this one
  SetOverride(kOvConfirmBeforeCheck, 2);
  EXPECT_FALSE(ConfirmBeforeCheck());
  SetOverride(kOvConfirmBeforeCheck, 1);
  EXPECT_TRUE(ConfirmBeforeCheck());
}

TEST_F(Overrides, ParseRoundTripsAndKeepsWhatIsMissing) {
  struct {
    const char* text;
    const char* after;  // the list that results from the all-unset start
  } cases[] = {
      {"|1|0|1|0|1|0|1|0|", "|1|0|1|0|1|0|1|0|"},
      {"|255|1|255|255|255|255|255|255|", "|255|1|255|255|255|255|255|255|"},
      // Missing, empty and invalid items leave their override alone.
      {"|1|", "|1|255|255|255|255|255|255|255|"},
      {"|1||0|", "|1|255|0|255|255|255|255|255|"},
      {"|x|1|2.5|", "|255|1|255|255|255|255|255|255|"},
      {"", "|255|255|255|255|255|255|255|255|"},
      {"|1|0", "|1|255|255|255|255|255|255|255|"},  // an unclosed last item does not count
      // Any separator; values are bytes.
      {"^0^1^", "|0|1|255|255|255|255|255|255|"},
      {"|257|-1|", "|1|255|255|255|255|255|255|255|"},
      {"| 1 |", "|1|255|255|255|255|255|255|255|"},
  };
  for (const auto& c : cases) {
    OverrideSet values;
    values.fill(kOverrideNotSet);
    ParseOverrideListInto(c.text, values);
    EXPECT_EQ(OverrideListText(values), c.after) << c.text;
  }

  // Applied to the process-wide set, over what was there.
  SetOverride(kOvBackgroundUpdate, 1);
  ParseOverrideList("|0|");
  EXPECT_EQ(OverrideListText(), "|0|255|255|1|255|255|255|255|");
  ParseOverrideList(OverrideListText());
  EXPECT_EQ(OverrideListText(), "|0|255|255|1|255|255|255|255|");
}

TEST(Versions, NewerIsSignedIntegerComparison) {
  struct {
    int32_t newV, origV;
    bool newer;
  } cases[] = {
      {10, 9, true}, {9, 9, false}, {8, 9, false}, {1, -5, true}, {-5, 1, false}, {INT32_MIN, INT32_MAX, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsVersionNewer(c.newV, c.origV), c.newer) << c.newV << " " << c.origV;
}

TEST(Versions, ValidVersionList) {
  struct {
    const char* list;
    int32_t version;
    bool valid;
  } cases[] = {
      {"", 102, true},         {"101,102", 102, true},  {"102", 102, true},
      {"101,102,105", 101, true}, {"101, 102", 102, false}, {"1102,1020", 102, false},
      {"101,102,105", 10, false}, {"-3,4", -3, true},     {"101,102", 0, false},
  };
  for (const auto& c : cases) EXPECT_EQ(VersionInValidList(c.list, c.version), c.valid) << c.list << " " << c.version;
}

TEST(ReadableSeconds, DayMonthYearAndTime) {
  const int64_t kDay = 86400;
  const int64_t dec6 = 46362 * kDay;  // 06-DEC-2026, 00:00:00
  struct {
    int64_t seconds;
    const char* text;
  } cases[] = {
      {dec6 + 14 * 3600 + 5 * 60 + 9, "06-DEC-2026  14:05:09"},
      {dec6, "06-DEC-2026  00:00:00"},
      {dec6 - 1, "05-DEC-2026  23:59:59"},
      {46053 * kDay + 12 * 3600, "31-JAN-2026  12:00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadableSeconds(c.seconds), c.text) << c.seconds;
}

}  // namespace
