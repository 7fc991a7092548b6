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
// What the user is told about damaged compressed data.
std::string DecompressionErrorText(const EZLibError& error);

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
// The names tried, in order, for a setup folder that must be new: attempt 0
// is SetupFolderName, attempt k > 0 adds "_" + k (SETUP_45677_1, ...).
std::string SetupFolderCandidate(uint32_t exeDosTime, int attempt);

// The completion atom around one engine run. The atom table and the engine
// are reached through this seam.
class EngineAtomEnv {
 public:
  virtual ~EngineAtomEnv() = default;
  virtual uint16_t AddAtom(const std::string& name) = 0;   // 0 when it could not be added
  virtual uint16_t FindAtom(const std::string& name) = 0;  // 0 when it is not there
  virtual void DeleteAtom(uint16_t atom) = 0;
  virtual void RunEngine() = 0;  // starts the engine and waits for it and its dialog
  virtual void Debug(const std::string& line) = 0;
};
enum class EngineOutcome {
  Completed,     // the engine removed the atom
  NotCompleted,  // the atom is still there
  Unknown,       // the atom could not be added, so its absence says nothing
};
// Adds the atom, runs the engine and reads the atom again (removing it when
// the engine left it).
EngineOutcome RunEngineWithAtom(EngineAtomEnv& env, const std::string& atomName);

struct SpaceTexts {
  std::string s2, s3, s4, s5, s6;
};
// Empty when no question is needed; otherwise the full question text.
std::string SpaceQuestion(const SpaceTexts& t, bool tempDriveNotice, const std::string& folder, double required,
                          double freeBytes);
