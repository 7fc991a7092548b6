// The setup flow: temporary folder, free space, extraction, the engine run,
// and the web branch that fetches the real setup first.
#pragma once
#include <windows.h>

#include <string>

class TGFileInfo;

class HeldPackage;
class EZLibError;

// Made on first use, always as a new folder of the temporary folder
// (SETUP_n, else the next free SETUP_n_k); empty when none could be made.
std::string GetSetupFolder();
// Forgets the folder of an earlier run and makes a fresh one (one per update).
std::string NewSetupFolder();
// Removes the setup folder this process made, if any; never makes one.
void RemoveSetupFolder();
void StartSetupMode(HWND window);
// Extracts the package and runs its engine. Damaged compressed data starts
// nothing and shows no box here: `zlibError` is set and the caller tells the
// user in its own words.
bool RunSetup(std::string target, const std::string& package, const std::string& agentName,
              const std::string& arguments, bool foreground, EZLibError& zlibError);
// The same for a package already held (checked before); it is read only
// through that handle.
bool RunSetup(std::string target, HeldPackage& package, const std::string& agentName, const std::string& arguments,
              bool foreground, EZLibError& zlibError);
// While the setup flow runs, a window close must not pull its folder away:
// it asks the flow to stop at the next item instead.
bool SetupFlowRunning();
void RequestSetupAbort();
bool SetupAbortRequested();
bool SpaceIsEnough(const std::string& folder, const std::string& package);
bool SpaceIsEnough(const std::string& folder, const TGFileInfo& info);
bool ConfirmTempSpace(const std::string& folder, const std::string& package, TGFileInfo& info);
bool FindRoomierTempDrive();
std::string GetAlternativeFolder();
void RemoveAlternativeFolder();
bool GetForcePrompt();
HANDLE StartProcess(const std::string& commandLine, int show);
void WaitForProcess(HANDLE process);
void SetStatusText(HWND window, const std::string& text, const std::string& face, int charset, int size);

// Web branch.
void WebSetupBranch(const std::string& agentName);
void WebDownloadSetup(const std::string& setupFolder, const std::string& base, const std::string& name);
