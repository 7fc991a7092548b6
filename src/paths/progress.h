// Progress reporting shared by the extraction engine and the HTTP client.
// kind 0 resets (range 0..max, position, step); kind 1 advances one step.
#pragma once
#include <string>

using ProgressProc = void (*)(int kind, int minimum, int maximum, int position, int step, const std::string& text);
