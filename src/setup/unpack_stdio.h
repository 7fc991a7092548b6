// The extraction engine's environment on the C library: real files in a
// folder, no user interface. The benchmark and the unit tests use it; the
// user-interface calls are recorded so that tests can look at them.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "setup/unpack.h"

class StdioUnpackEnv : public UnpackEnv {
 public:
  bool FileExists(const std::string& path) override;
  std::unique_ptr<UnpackVolume> OpenVolume(const std::string& path) override;
  bool CreateFolder(const std::string& folder) override;
  std::unique_ptr<UnpackTarget> OpenTarget(const std::string& path, TargetMode mode, bool& existed) override;
  uint32_t FileDosTime(const std::string& path) override;
  std::string DescribeWriteFailure(const std::string& path, int64_t dataSize, const std::string& errorText) override;
  std::string LastErrorText() override;
  char PathSeparator() override;

  void ErrorBox(const std::string& text) override { errors.push_back(text); }
  bool ConfirmOkCancel(const std::string& text, const std::string& title, int charset,
                       const std::string& buttons) override;
  void EjectMedium(const std::string& path) override { ejects.push_back(path); }
  void AutoPlayCancelOn() override { ++autoPlayCancels; }
  void ProcessMessages() override;
  void PumpMessagesFor(uint32_t ms) override { pumpedMs += ms; }
  uint64_t Tick() override;
  void Debug(const std::string& line) override {
    if (keepDebug) debug.push_back(line);
  }

  bool Aborted() override { return abortWhen && abortWhen(); }

  // Answers Aborted(); without it the run is never aborted.
  std::function<bool()> abortWhen;
  // Answers the disk prompt; without it every prompt is cancelled.
  std::function<bool(const std::string& text)> onPrompt;
  std::vector<std::string> prompts;
  std::vector<std::string> errors;
  std::vector<std::string> ejects;
  std::vector<std::string> debug;
  int autoPlayCancels = 0;
  uint64_t pumpedMs = 0;
  bool keepDebug = true;
};

// DOS date/time (local time) <-> seconds since 1970; 0 / -1 when invalid.
int64_t DosTimeToUnix(uint32_t dosTime);
uint32_t UnixToDosTime(int64_t unixTime);
