#include "process/userstart.h"

#include <gtest/gtest.h>

namespace {

TEST(UserStart, AnElevatedAgentStartsWithTheShellsRights) {
  const struct {
    bool elevated, shell;
    StartMethod want;
  } cases[] = {
      {false, false, StartMethod::Direct},
      {false, true, StartMethod::Direct},  // its own rights are the user's already
      {true, true, StartMethod::AsShellUser},
      {true, false, StartMethod::DirectNoShell},  // said so in the log
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseStartMethod(c.elevated, c.shell), c.want) << c.elevated << c.shell;
  EXPECT_NE(std::string(StartMethodText(StartMethod::DirectNoShell)).find("no shell"), std::string::npos);
}

TEST(UserStart, LinkStaysOneArgument) {
  const struct {
    const char* link;
    bool ok;
  } cases[] = {
      {"https://example.test/news?a=1&b=2", true},
      {"HTTP://example.test/", true},
      {"file:///C:/Windows/System32/calc.exe", false},
      {"javascript:alert(1)", false},
      {"https://example.test/\" /c calc", false},
      {"https://example.test/\r\nx", false},
      {"", false},
  };
  for (const auto& c : cases) {
    std::string quoted;
    EXPECT_EQ(LinkArgument(c.link, quoted), c.ok) << c.link;
    if (c.ok) {
      EXPECT_EQ(quoted, "\"" + std::string(c.link) + "\"");
    }
  }
}

}  // namespace

#include "process/clientrule.h"

namespace {

TEST(ClientRule, OnlyOwnMessagesToWindowsOfTheSameSession) {
  const struct {
    uint32_t message;
    bool window, session, ok;
  } cases[] = {
      {0x0400, true, true, true},    // WM_USER
      {0x8001, true, true, true},    // WM_APP + 1
      {0xC123, true, true, true},    // a registered message
      {0x0010, true, true, false},   // WM_CLOSE
      {0x00F5, true, true, false},   // BM_CLICK
      {0x03FF, true, true, false},
      {0, true, true, false},        // no message at all
      {0x10000, true, true, false},  // not a message number
      {0x8001, false, true, false},  // no such window
      {0x8001, true, false, false},  // a window of another session
  };
  for (const auto& c : cases)
    EXPECT_EQ(ClientRegistrationAllowed(c.message, c.window, c.session), c.ok) << c.message << c.window << c.session;
}

}  // namespace
