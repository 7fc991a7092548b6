// Process search, window search and shut-down of other programs.
#pragma once
#include <windows.h>

#include <string>

// Waits while a top-level window of the class (and title, when not empty) exists.
void WaitWhileWindowExists(const std::string& className, const std::string& title);
