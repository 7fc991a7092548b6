// The extraction engine on Win32 files, with the program's message boxes,
// CD eject, AutoPlay cancel and the main window's message flow.
#pragma once
#include <string>

#include "paths/progress.h"
#include "setup/unpack.h"

class HeldPackage;

// Extracts the package whose first volume is held by `package` into
// `targetFolder` (see setup/unpack.h for the rules); every volume is read
// through one open handle. `promptText` holds "<DISK_NUM>"; `forcePrompt`
// asks for every further disk even when its file is present. Under the
// process's hidden operation no disk prompt is shown. The first volume is
// let go once a later one is reached. Damaged compressed data ends the run
// with the outcome Decompression and zlib's error in `zlibError`.
void ExtractPackage(HeldPackage& package, const std::string& targetFolder, const std::string& agentFileName,
                    bool& checksumOk, ProgressProc progress, const std::string& promptText,
                    const std::string& promptTitle, const std::string& buttonTexts, int charset, bool forcePrompt,
                    std::string& engineEntry, ExtractOutcome* outcome = nullptr,
                    EZLibError* zlibError = nullptr);

// The same, holding the first volume from here on.
void ExtractPackage(const std::string& packagePath, const std::string& targetFolder, const std::string& agentFileName,
                    bool& checksumOk, ProgressProc progress, const std::string& promptText,
                    const std::string& promptTitle, const std::string& buttonTexts, int charset, bool forcePrompt,
                    std::string& engineEntry, ExtractOutcome* outcome = nullptr,
                    EZLibError* zlibError = nullptr);

// A reading pass over the whole package that writes nothing (see
// setup/verify.h), through the held first volume, which stays held.
bool VerifyPackageFile(HeldPackage& package, std::string& why);
