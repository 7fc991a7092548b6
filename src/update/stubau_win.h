// The update agent: the timer tick, the agent commands of message 1125, the
// test mode, the check (PerformShot), the downloads of the INFO, update and
// inform files, the update installation and the agent's restart.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

class HeldPackage;

extern int64_t AutoUpdateTimerCount;  // first check when it reaches 1
extern int32_t QuitCountdown;         // ticks until the agent quits; -1 = never

void AutoUpdateTimerTick();
int32_t HandleAgentCommand(int32_t command, int32_t value);
bool CheckTestMode(bool force);

// ---- stopping ----
// Sets QuitCountdown (wm_ShutDown, command 30); see QuitCountdownTick.
void SetQuitCountdown(int32_t ticks);
// True once the agent must stop: its countdown ran out or a quit is pending.
// Every wait and every loop of boxes ends on it.
bool AgentStopRequested();

// ---- state shared by the agent's units ----
bool TestModeOn();  // the flag as last read
const std::string& TestModeUrl();
const std::string& TestModeShutDownWait();  // TestModeShutDownWait as last read (seconds)
int InteractionMode();  // 0 timed, 2 ordered, 1 user-requested check in progress
void SetAgentState(int state);

// ---- the agent's message boxes: title, charset and buttons from section MsgBox ----
void AuErrorMsg(intptr_t ownerCode, const std::string& text);
void AuAttentionMsg(intptr_t ownerCode, const std::string& text);
bool AuConfirmYesNo(intptr_t ownerCode, const std::string& text);

// ---- downloads ----
enum DownloadKind { kDownloadInfo = 1, kDownloadUpdate = 2, kDownloadInform = 3 };
// Fetches the INFO file (kind 1, written only when it arrived whole), the
// update package or the inform file (kinds 2 and 3, stored in the agent
// folder and tested for the product's token). error gets the failure text.
// For an update package, `held` (when given) keeps the checked package open
// against writers, for the run that follows.
bool DownloadFileAU(const std::string& base, const std::string& file, int kind, std::string& error,
                    HeldPackage* held = nullptr);
// The name an update or inform file is kept under in the agent folder; empty
// when the INFO file names something unusable.
std::string AgentDownloadName(const std::string& nameFromInfo);
std::string AgentDir();  // with a trailing backslash

// ---- the sequences ----
bool PerformAutoUpdate();
void ReStartAutoUpdateExe();
bool PerformAutoInform();
