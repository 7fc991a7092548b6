// The pure rules of the setup flow: megabyte texts, the engine's command
// line, the setup folder's name and the free-space message.
#pragma once
#include <cstdint>
#include <string>

#include "setup/unpack.h"

// Exit codes of a setup that ended before or instead of its engine (when the
// engine ran, its own code is kept). Deployment tools already know these
// numbers from the platform's installer service.
constexpr int kExitUserCancelled = 1602;   // a "No" or a Cancel
constexpr int kExitSetupFailed = 1603;     // any other failure
constexpr int kExitAlreadyRunning = 1618;  // another start of the same setup is at work
constexpr int kExitPackageMissing = 1619;  // the package or a volume cannot be opened or found
constexpr int kExitPackageDamaged = 1620;  // checksum, broken item, foreign token

// The code of an extraction after which no engine was started; a run that
// read everything but found no engine is a failed setup.
int ExtractionExitCode(ExtractOutcome outcome);

std::string FormatMegabytes(double bytes);
// Removes the first occurrence of the switch (case-sensitive) up to the next "/".
std::string RemoveSwitch(const std::string& text, const std::string& name);

struct EngineCommand {
  std::string engineName;  // file name of the engine in the target folder
  std::string commandLine;
};
// entry: the engine entry reported by the extraction ("Engine.exe*" + args);
// tag: "_" + thread id; isAgent: the running file is an update agent.
EngineCommand BuildEngineCommandLine(const std::string& entry, const std::string& target,
                                     const std::string& arguments, const std::string& tag,
                                     const std::string& ownExePath, bool isAgent);

// "SETUP_" + the time-of-day half of the executable's DOS modification time.
std::string SetupFolderName(uint32_t exeDosTime);

struct SpaceTexts {
  std::string s2, s3, s4, s5, s6;
};
// Empty when no question is needed; otherwise the full question text.
std::string SpaceQuestion(const SpaceTexts& t, bool tempDriveNotice, const std::string& folder, double required,
                          double freeBytes);
