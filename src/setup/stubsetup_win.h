// The setup flow: temporary folder, free space, extraction, the engine run,
// and the web branch that fetches the real setup first.
#pragma once
#include <windows.h>

#include <string>

class TGFileInfo;

std::string GetSetupFolder();  // made on first use
// Forgets the folder of an earlier run and makes a fresh one (one per update).
std::string NewSetupFolder();
void StartSetupMode(HWND window);
bool RunSetup(std::string target, const std::string& package, const std::string& agentName,
              const std::string& arguments, bool foreground);
bool SpaceIsEnough(const std::string& folder, const std::string& package);
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
