// The update agent: the timer tick, the agent commands of message 1125, the
// test mode, the check (PerformShot), the downloads of the INFO, update and
// inform files, the update installation and the agent's restart.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "update/audecide.h"

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
// 0 timed, 1 user-requested check in progress; fixed for the length of a
// tick (a request that arrives during it is for the next tick).
int InteractionMode();
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
// An inform file is read into `informBytes` once, and the checks and the
// window use those bytes only.
bool DownloadFileAU(const std::string& base, const std::string& file, int kind, std::string& error,
                    HeldPackage* held = nullptr, std::string* informBytes = nullptr);
// The name an update or inform file is kept under in the agent folder; empty
// when the INFO file names something unusable.
std::string AgentDownloadName(const std::string& nameFromInfo);
AgentFileNames AgentOwnFileNames();
// Whether the last INFO download heard from its source (a web server that
// answered anything, a folder that exists): the once-per-run check is tried
// again only when it did not.
bool InfoSourceAnswered();
std::string AgentDir();  // with a trailing backslash

// ---- an update that an ended run left unfinished ----
// Removes what the ORIGINAL file's UpdateInProgress record names, once no
// program runs from its setup folder, and asks for the update to be offered
// again; logged. True while it must wait (called again later).
bool ResolveInterruptedUpdate();
bool InterruptedUpdatePending();  // as the last call found

// ---- the sequences ----
bool PerformAutoUpdate();
void ReStartAutoUpdateExe();
bool PerformAutoInform();
