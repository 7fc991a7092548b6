// Win32 ends of the two diagnostic outputs: the sender that forwards debug
// text to a viewer window of class ".ZDebug.", and the shared-mode log appender.
#pragma once
#include <string>

// Installs the viewer sender, its lock, the shared log appender and the
// user's date and time separators. Call once at start, after InitWin32Utils.
void InstallDebugChannel();
// Sends one piece to the viewer window, if one runs (used by the channel).
void SendDebugPiece(const std::string& piece);
// Appends bytes to a file opened in shared mode, creating it when missing.
bool AppendSharedFile(const std::string& path, const std::string& bytes);
