// Starting the user's program and opening the inform link with the normal
// user's rights when the agent runs elevated (see userstart.h for the rule).
#pragma once
#include <windows.h>

#include <string>

bool ProcessIsElevated();
// CreateProcess of program (a full path) with its command line; elevated,
// through the shell's token. how: the method, for the log.
bool StartAsUser(const std::string& program, const std::string& commandLine, const std::string& folder, int show,
                 std::string& how);
// Opens an http or https link in the user's handler; elevated,
// through the system's URL handler started with the shell's token.
bool OpenLinkAsUser(const std::string& link, std::string& how);
