// The agent's two INI files beside its executable: the INFO file downloaded
// from the publisher and the local ORIGINAL file of the installed state.
// ORIGINAL values are read from the file, anew every time; INFO values come
// from the bytes of the INFO file that the last check accepted, held in
// memory (the file on disk is only the record of them).
#pragma once
#include <cstdint>
#include <string>

#include "process/settings.h"

class TGFileInfo;

// Where the files lie and what they are called. Without a call, the running
// executable's folder and package name them (read once).
void SetAgentFiles(const std::string& agentDir, const std::string& infoFileName);
void UseAgentPackage(const TGFileInfo& ownPackage);

std::string InfoFilePath();
std::string OriginalFilePath();

// Section AutoUpdate of the ORIGINAL file: the agent's dialog texts.
std::string ReadAutoUpdateText(const std::string& key, const std::string& def);

// ---- ORIGINAL file, OriginalSetup ----
int64_t GetProbeSecondsInterval();
int64_t GetProbeSecondsLast();
int64_t GetReAskSecondsInterval();
int64_t GetReAskSecondsLast();
int32_t GetVersionOriginal();
int32_t GetOriginalStamp();
std::string GetOriginalProgramName();

void SetProbeSecondsInterval(int64_t seconds);
void SetReAskSecondsInterval(int64_t seconds);
// Also write the readable copy "__ProbeSecondsLast" / "__ReAskSecondsLast".
void SetProbeSecondsLast(int64_t seconds);
void SetReAskSecondsLast(int64_t seconds);
// False when the ORIGINAL file did not take it.
bool SetVersionOriginal(int32_t version);
void SetOriginalStamp(int32_t stamp);

// ---- ORIGINAL file, UpdateInProgress: the update under way ----
// Section UpdateInProgress (Version, Package, SetupFolder) is written before
// the program is shut down for an update and removed when the update ends;
// OriginalSetup/OfferAgain=1 asks the next check to offer an update that an
// ended run left unfinished. Names only: the package in the agent folder,
// the SETUP_n folder in the temporary folder.
// false when there is no such section.
bool GetUpdateInProgress(int32_t& version, std::string& package, std::string& setupFolder);
bool SetUpdateInProgress(int32_t version, const std::string& package, const std::string& setupFolder);
bool ClearUpdateInProgress();
bool GetOfferAgain();
bool SetOfferAgain(bool on);  // off removes the key

// ---- ORIGINAL file, Directories and UnInstall ----
std::string GetTargetDir();
std::string GetSharedDir();
std::string GetAuxiliaryDir();
std::string GetStartUpLink();
std::string GetCheckforNewUpdateLink();

// ---- ORIGINAL file, MsgBox ----
std::string GetMsgBoxBtnText();  // "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|" by default
std::string GetMsgBoxError();
std::string GetMsgBoxConfirm();
std::string GetMsgBoxAttention();
int32_t GetMsgBoxCharSet();
std::string GetMsgBoxFontName();
int32_t GetMsgBoxFontSize();

// ---- INFO file: the accepted copy ----
// Once a check has run (ForgetInfoBytes at its start), every INFO value
// below is read from the bytes it accepted (verified before they are handed
// in), or from an empty file when it accepted none. A process that runs no
// check (a setup) reads the INFO file beside it.
void AcceptInfoBytes(const std::string& bytes);
void ForgetInfoBytes();
std::string InfoValue(const std::string& section, const std::string& key, const std::string& def = "");

// ---- ORIGINAL file, the highest INFO serial accepted per publisher key ----
// false when none is recorded for that key (fingerprint).
bool GetAcceptedSerial(const std::string& keyFingerprint, int64_t& serial);
bool SetAcceptedSerial(const std::string& keyFingerprint, int64_t serial);

// ---- INFO file, NewSetup (switches with an override give the override when set) ----
std::string GetDownloadURL_UPDATE();
std::string GetNameOfUpdateFile();
// Sizes are 64-bit: update files of 2 GiB and more exist.
int64_t GetSizeOfUpdateFile();
// Hex SHA-256 of the update file as published (covered by the INFO signature).
std::string GetSha256OfUpdateFile();
bool GetRequestConfirmationBeforeDownload();
bool GetRequestConfirmationBeforeDownloadForce();
bool GetRequestConfirmationBeforeInstall();
bool GetRequestConfirmationBeforeInstallForce();
bool GetBackgroundUpdate();
std::string GetShutDownMethod();
bool GetRestartProcess();
bool GetInformFinish();
std::string GetRunningProcess();
std::string GetNewProgramName();
int32_t GetVersionNew();
int32_t GetNewStamp();
std::string GetValidVersions();
bool GetRemoveStartUpShortcut();
bool GetRemoveCheckForNewUpdateShortcut();

// ---- INFO file, General and AutoInform ----
int64_t GetAutoInform();
std::string GetDownloadURL_INFORM();
std::string GetNameOfInformFile();
int64_t GetSizeOfInformFile();
std::string GetSha256OfInformFile();
int32_t GetAutoInformW();
int32_t GetAutoInformH();
