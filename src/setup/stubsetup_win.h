// The setup flow: temporary folder, free space, extraction, the engine run.
#pragma once
#include <windows.h>

#include <string>

std::string GetSetupFolder();  // made on first use
void StartSetupMode(HWND window);
bool RunSetup(std::string target, const std::string& package, const std::string& agentName,
              const std::string& arguments, bool foreground);
