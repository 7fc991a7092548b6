#include "update/stubau_win.h"

#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/zdebug.h"

int64_t AutoUpdateTimerCount = -3;
int32_t QuitCountdown = -1;

namespace {
bool g_busy = false;
bool g_forceRequest = false;
bool g_infoOnlyRequest = false;
int g_interactionMode = 0;
int g_agentState = 0;
bool g_testMode = false;
std::string g_testModeUrl;
uint32_t g_lastTestModeRequest = 0;
const char* const kTestModeKey = "HKEY_CURRENT_USER\\Software\\Vindraco\\Zelkan\\AutoUpdate";
}  // namespace

bool CheckTestMode(bool force) {
  uint32_t now = GetTickCount();
  if (force || uint32_t(now - g_lastTestModeRequest) > 30000u) {
    std::string mode = ReadRegString(kTestModeKey, "TestMode", "0");
    std::string date = ReadRegString(kTestModeKey, "TestModeDate", "");
    g_testMode = mode == "1" && date == DateStampText(NowDateTime());
    g_testModeUrl = ReadRegString(kTestModeKey, "TestModeURL", "");
  }
  g_lastTestModeRequest = now;
  return g_testMode;
}

void AutoUpdateTimerTick() {
  if (g_busy) return;
  g_busy = true;
  if (g_infoOnlyRequest) {
    DebugLine("-------------- JustDownloadInfoFile ---------------");
    g_infoOnlyRequest = false;
  } else {
    g_agentState = 0;
    if (g_interactionMode == 2) g_interactionMode = 1;
    if (g_interactionMode == 1) AutoUpdateTimerCount = 0;
    if (QuitCountdown == 0) PostQuitMessage(0);
    if (QuitCountdown >= 0) --QuitCountdown;
    ++AutoUpdateTimerCount;
    DebugLine(" AutoUpdateTimerCount=" + IntToStr(AutoUpdateTimerCount));
    if (AutoUpdateTimerCount >= 1) {
      CheckTestMode(false);
      // The update checks themselves are not part of this build yet.
      g_forceRequest = false;
      if (g_interactionMode == 1) g_interactionMode = 0;
    }
  }
  g_agentState = 0;
  g_busy = false;
}

int32_t HandleAgentCommand(int32_t command, int32_t value) {
  switch (command) {
    case 7:
      return g_agentState;
    case 30:
      QuitCountdown = value;
      return 0;
    case 31:
      g_forceRequest = true;
      if (AutoUpdateTimerCount < 1) AutoUpdateTimerCount = 1;
      if (value == 2) g_interactionMode = 2;
      return 0;
    case 32:
      g_infoOnlyRequest = true;
      return 0;
    default:
      return 0;
  }
}
