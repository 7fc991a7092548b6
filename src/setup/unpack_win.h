// The extraction engine on Win32 files, with the program's message boxes,
// CD eject, AutoPlay cancel and the main window's message flow.
#pragma once
#include <string>

#include "paths/progress.h"

// Extracts the package whose first volume is `packagePath` into
// `targetFolder` (see setup/unpack.h for the rules). `promptText` holds
// "<DISK_NUM>"; `forcePrompt` asks for every further disk even when its file
// is present. Lets EZLibError propagate.
void ExtractPackage(const std::string& packagePath, const std::string& targetFolder, const std::string& agentFileName,
                    bool& checksumOk, ProgressProc progress, const std::string& promptText,
                    const std::string& promptTitle, const std::string& buttonTexts, int charset, bool forcePrompt,
                    std::string& engineEntry);

// A reading pass over the whole package that writes nothing (see setup/verify.h).
bool VerifyPackageFile(const std::string& packagePath, std::string& why);
