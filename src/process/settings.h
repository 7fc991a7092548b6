// The decisions behind the agent's INFO and ORIGINAL files that need no
// Windows: file naming, switches with their in-memory overrides, the version
// rules and the readable copies of the stored times. The INI access is in
// settings_win.h.
#pragma once
#include <array>
#include <cstdint>
#include <string>

// ---- file names ----
// "dir\Product.info" -> "Product.info"
std::string InfoFileNameOf(const std::string& infoFileName);
// "Product.info" -> "Product.original"; "My.App.info" -> "My.original";
// empty when there is no INFO file name.
std::string OriginalFileNameOf(const std::string& infoFileName);
// agentDir (with its trailing "\") + fileName; empty for an empty name, so
// that a missing name never stands for the folder itself.
std::string AgentFilePath(const std::string& agentDir, const std::string& fileName);

// ---- switches ----
// INI switches are on exactly when their text is "1".
bool SwitchTextOn(const std::string& text);
// An override of 255 leaves the decision to the INI text; otherwise it is on
// exactly when it is 1.
bool SwitchWithOverride(uint8_t override, const std::string& iniText);

// ---- overrides ----
constexpr uint8_t kOverrideNotSet = 255;
enum OverridePosition : int {
  kOvConfirmBeforeCheck = 0,
  kOvDownloadConfirmation = 1,  // RequestConfirmationBeforeDownload
  kOvInstallConfirmation = 2,   // RequestConfirmationBeforeInstall
  kOvBackgroundUpdate = 3,      // BackgroundUpdate
  kOvInformFinish = 4,          // InformFinish
  kOvRestartProcess = 5,        // RestartProcess
  kOvDownloadForce = 6,         // RequestConfirmationBeforeDownloadForce
  kOvInstallForce = 7,          // RequestConfirmationBeforeInstallForce
};
using OverrideSet = std::array<uint8_t, 8>;

// The process-wide overrides; all start as 255.
const OverrideSet& Overrides();
uint8_t Override(int position);  // 255 for a position outside 0..7
// Positions 0..5 only (the agent commands); false for any other position.
bool SetOverride(int position, uint8_t value);
void ResetOverrides();
// Asking before a timed check is on only when its override is exactly 1.
bool ConfirmBeforeCheck();

// "|255|1|255|255|255|255|255|255|"
std::string OverrideListText(const OverrideSet& values);
std::string OverrideListText();
// Item n of the list, as an integer, becomes override n (its low byte); a
// missing or invalid item leaves that override as it was.
void ParseOverrideListInto(const std::string& text, OverrideSet& values);
// The same, applied to the process-wide overrides.
void ParseOverrideList(const std::string& text);

// ---- versions ----
// Plain signed 32-bit comparison; no dotted or text versions.
bool IsVersionNewer(int32_t versionNew, int32_t versionOriginal);
// An empty list admits every version; otherwise ",<version>," must occur in
// "," + list + "," exactly (so the list is written without blanks).
bool VersionInValidList(const std::string& validVersions, int32_t versionOriginal);

// ---- times ----
// Seconds since 30 December 1899 as "06-DEC-2026  14:05:09".
std::string ReadableSeconds(int64_t seconds);
