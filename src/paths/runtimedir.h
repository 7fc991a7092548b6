// The run-time directory table: eight folders (numbered 1 to 8) that the
// "<RunTimeDir_N>" macros name. Each is resolved on first use and cached.
#pragma once
#include <string>

// Folder N; empty for an unknown number or an empty definition.
std::string RunTimeDir(int n, bool trailingSlash);
