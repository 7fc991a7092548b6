#include "process/settings_win.h"

#include "package/gfileinfo.h"
#include "package/signature.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/widepath_win.h"
#include "process/initext.h"
#include "process/procstate_win.h"

namespace {

bool g_filesKnown = false;
std::string g_agentDir;
std::string g_infoFileName;

void KnowFiles() {
  if (g_filesKnown) return;
  SetAgentFiles(OwnFolder(true), OwnPackage().InfoFileName());
}

const char* const kOriginalSetup = "OriginalSetup";
const char* const kNewSetup = "NewSetup";

std::string Original(const char* section, const char* key, const std::string& def = "") {
  return ReadIniString(OriginalFilePath(), section, key, def);
}
IniText g_info;
// Once an agent's check has fetched an INFO file, every INFO value comes
// from the bytes it accepted (none, when it accepted none). A setup that
// runs no check reads the INFO file beside it, as it always did.
bool g_infoFromChecks = false;

// Texts in the ANSI code page, as the profile functions give them.
std::string Info(const char* section, const char* key, const std::string& def = "") {
  if (!g_infoFromChecks) return ReadIniString(InfoFilePath(), section, key, def);
  std::string v;
  if (!g_info.Find(section, key, v)) return def;
  return g_info.Utf8() ? AnsiFromWide(WidePath(v).c_str()) : v;
}
// A path keeps every character: UTF-8.
std::string InfoPath(const char* section, const char* key) {
  if (!g_infoFromChecks) return ReadIniPath(InfoFilePath(), section, key);
  std::string v;
  if (!g_info.Find(section, key, v)) return "";
  return g_info.Utf8() ? v : PathFromAnsi(v);
}
// Values that are paths (folders, links, the program to close) keep every character.
std::string OriginalPath(const char* section, const char* key) { return ReadIniPath(OriginalFilePath(), section, key); }
int64_t OriginalInt(const char* section, const char* key, int64_t def) {
  return ReadIniInt(OriginalFilePath(), section, key, def);
}
int64_t InfoInt(const char* section, const char* key, int64_t def) {
  return StrToInt64Def(Info(section, key, IntToStr(def)), def);
}
// Only the low 32 bits count, as a signed number.
int32_t Low32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }

bool InfoSwitch(const char* key) { return SwitchTextOn(Info(kNewSetup, key, "0")); }
bool InfoSwitch(const char* key, int overridePosition) {
  uint8_t ov = Override(overridePosition);
  // A set override stands for the key, which is then not read at all.
  if (ov != kOverrideNotSet) return ov == 1;
  return InfoSwitch(key);
}

void WriteSeconds(const char* key, int64_t seconds) {
  std::string file = OriginalFilePath();
  WriteIniInt(file, kOriginalSetup, key, seconds);
  WriteIniString(file, kOriginalSetup, std::string("__") + key, ReadableSeconds(seconds));
}

}  // namespace

void SetAgentFiles(const std::string& agentDir, const std::string& infoFileName) {
  // A bare file name would send the profile functions to the Windows folder.
  g_agentDir = NormalizeDirSlash(agentDir.empty() ? OwnFolder(false) : agentDir, true);
  g_infoFileName = infoFileName;
  g_filesKnown = true;
}

void UseAgentPackage(const TGFileInfo& ownPackage) { SetAgentFiles(OwnFolder(true), ownPackage.InfoFileName()); }

std::string InfoFilePath() {
  KnowFiles();
  return AgentFilePath(g_agentDir, InfoFileNameOf(g_infoFileName));
}

std::string OriginalFilePath() {
  KnowFiles();
  return AgentFilePath(g_agentDir, OriginalFileNameOf(g_infoFileName));
}

void AcceptInfoBytes(const std::string& bytes) {
  g_info = IniText::Parse(bytes);
  g_infoFromChecks = true;
}
void ForgetInfoBytes() {
  g_info = IniText();
  g_infoFromChecks = true;
}
std::string InfoValue(const std::string& section, const std::string& key, const std::string& def) {
  return Info(section.c_str(), key.c_str(), def);
}

bool GetAcceptedSerial(const std::string& keyFingerprint, int64_t& serial) {
  std::string text = ReadIniString(OriginalFilePath(), "InfoSerial", keyFingerprint, "");
  return ParseInfoSerial(text, serial);
}
bool SetAcceptedSerial(const std::string& keyFingerprint, int64_t serial) {
  return WriteIniInt(OriginalFilePath(), "InfoSerial", keyFingerprint, serial);
}

std::string ReadAutoUpdateText(const std::string& key, const std::string& def) {
  return ReadIniString(OriginalFilePath(), "AutoUpdate", key, def);
}

int64_t GetProbeSecondsInterval() { return OriginalInt(kOriginalSetup, "ProbeSecondsInterval", 0); }
int64_t GetProbeSecondsLast() { return OriginalInt(kOriginalSetup, "ProbeSecondsLast", 0); }
int64_t GetReAskSecondsInterval() { return OriginalInt(kOriginalSetup, "ReAskSecondsInterval", 0); }
int64_t GetReAskSecondsLast() { return OriginalInt(kOriginalSetup, "ReAskSecondsLast", 0); }
int32_t GetVersionOriginal() { return Low32(OriginalInt(kOriginalSetup, "VersionOriginal", 0)); }
int32_t GetOriginalStamp() { return Low32(OriginalInt(kOriginalSetup, "Stamp", 0)); }
std::string GetOriginalProgramName() { return Original(kOriginalSetup, "ProgramName"); }

void SetProbeSecondsInterval(int64_t seconds) {
  WriteIniInt(OriginalFilePath(), kOriginalSetup, "ProbeSecondsInterval", seconds);
}
void SetReAskSecondsInterval(int64_t seconds) {
  WriteIniInt(OriginalFilePath(), kOriginalSetup, "ReAskSecondsInterval", seconds);
}
void SetProbeSecondsLast(int64_t seconds) { WriteSeconds("ProbeSecondsLast", seconds); }
void SetReAskSecondsLast(int64_t seconds) { WriteSeconds("ReAskSecondsLast", seconds); }
bool SetVersionOriginal(int32_t version) {
  return WriteIniInt(OriginalFilePath(), kOriginalSetup, "VersionOriginal", version);
}
void SetOriginalStamp(int32_t stamp) { WriteIniInt(OriginalFilePath(), kOriginalSetup, "Stamp", stamp); }

namespace {
const char* const kInProgress = "UpdateInProgress";

// Through the wide function: a name keeps every character in a UTF-16 file.
// A null key removes the section, a null value the key.
bool WriteOriginalWide(const char* section, const char* key, const std::string* value) {
  std::string file = OriginalFilePath();
  if (file.empty()) return false;
  std::wstring k = key ? WideFromAnsi(key) : std::wstring(), v = value ? WidePath(*value) : std::wstring();
  return WritePrivateProfileStringW(WideFromAnsi(section).c_str(), key ? k.c_str() : nullptr,
                                    value ? v.c_str() : nullptr, WidePath(file).c_str()) != FALSE;
}
}  // namespace

bool GetUpdateInProgress(int32_t& version, std::string& package, std::string& setupFolder) {
  std::string file = OriginalFilePath();
  if (file.empty()) return false;
  // Any key of the section counts: even a damaged record names a run that ended.
  wchar_t keys[64] = L"";
  DWORD n = GetPrivateProfileSectionW(WideFromAnsi(kInProgress).c_str(), keys, 64, WidePath(file).c_str());
  if (n == 0) return false;
  version = Low32(OriginalInt(kInProgress, "Version", 0));
  package = OriginalPath(kInProgress, "Package");
  setupFolder = OriginalPath(kInProgress, "SetupFolder");
  return true;
}

bool SetUpdateInProgress(int32_t version, const std::string& package, const std::string& setupFolder) {
  std::string v = IntToStr(version);
  // Version last: a record cut short by a power loss still names what to remove.
  return WriteOriginalWide(kInProgress, "Package", &package) &&
         WriteOriginalWide(kInProgress, "SetupFolder", &setupFolder) && WriteOriginalWide(kInProgress, "Version", &v);
}

bool ClearUpdateInProgress() { return WriteOriginalWide(kInProgress, nullptr, nullptr); }

bool GetOfferAgain() { return SwitchTextOn(Original(kOriginalSetup, "OfferAgain")); }

bool SetOfferAgain(bool on) {
  std::string one = "1";
  return WriteOriginalWide(kOriginalSetup, "OfferAgain", on ? &one : nullptr);
}

std::string GetTargetDir() { return OriginalPath("Directories", "TargetDir"); }
std::string GetSharedDir() { return OriginalPath("Directories", "SharedDir"); }
std::string GetAuxiliaryDir() { return OriginalPath("Directories", "AuxiliaryDir"); }
std::string GetStartUpLink() { return OriginalPath("UnInstall", "StartUpLink"); }
std::string GetCheckforNewUpdateLink() { return OriginalPath("UnInstall", "CheckforNewUpdateLink"); }

std::string GetMsgBoxBtnText() { return Original("MsgBox", "BtnText", "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|"); }
std::string GetMsgBoxError() { return Original("MsgBox", "Error", "Error"); }
std::string GetMsgBoxConfirm() { return Original("MsgBox", "Confirm", "Confirm"); }
std::string GetMsgBoxAttention() { return Original("MsgBox", "Attention", "Attention"); }
int32_t GetMsgBoxCharSet() { return Low32(OriginalInt("MsgBox", "CharSet", 0)); }
std::string GetMsgBoxFontName() { return Original("MsgBox", "FontName", "Tahoma"); }
int32_t GetMsgBoxFontSize() { return Low32(OriginalInt("MsgBox", "FontSize", 8)); }

std::string GetDownloadURL_UPDATE() { return Info(kNewSetup, "DownloadURL_UPDATE"); }
std::string GetNameOfUpdateFile() { return Info(kNewSetup, "NameOfUpdateFile"); }
int64_t GetSizeOfUpdateFile() { return InfoInt(kNewSetup, "SizeOfUpdateFile", 0); }
std::string GetSha256OfUpdateFile() { return Info(kNewSetup, "Sha256OfUpdateFile"); }
bool GetRequestConfirmationBeforeDownload() {
  return InfoSwitch("RequestConfirmationBeforeDownload", kOvDownloadConfirmation);
}
bool GetRequestConfirmationBeforeDownloadForce() {
  return InfoSwitch("RequestConfirmationBeforeDownloadForce", kOvDownloadForce);
}
bool GetRequestConfirmationBeforeInstall() {
  return InfoSwitch("RequestConfirmationBeforeInstall", kOvInstallConfirmation);
}
bool GetRequestConfirmationBeforeInstallForce() {
  return InfoSwitch("RequestConfirmationBeforeInstallForce", kOvInstallForce);
}
bool GetBackgroundUpdate() { return InfoSwitch("BackgroundUpdate", kOvBackgroundUpdate); }
std::string GetShutDownMethod() { return Info(kNewSetup, "ShutDownMethod"); }
bool GetRestartProcess() { return InfoSwitch("RestartProcess", kOvRestartProcess); }
bool GetInformFinish() { return InfoSwitch("InformFinish", kOvInformFinish); }
std::string GetRunningProcess() { return InfoPath(kNewSetup, "RunningProcess"); }
std::string GetNewProgramName() { return Info(kNewSetup, "ProgramName"); }
int32_t GetVersionNew() { return Low32(InfoInt(kNewSetup, "VersionNew", 0)); }
int32_t GetNewStamp() { return Low32(InfoInt(kNewSetup, "Stamp", 0)); }
std::string GetValidVersions() { return Info(kNewSetup, "ValidVersions"); }
bool GetRemoveStartUpShortcut() { return InfoSwitch("RemoveStartUpShortcut"); }
bool GetRemoveCheckForNewUpdateShortcut() { return InfoSwitch("RemoveCheckForNewUpdateShortcut"); }

int64_t GetAutoInform() { return InfoInt("General", "AutoInform", 0); }
std::string GetDownloadURL_INFORM() { return Info("AutoInform", "DownloadURL_INFORM"); }
std::string GetNameOfInformFile() { return Info("AutoInform", "NameOfInformFile"); }
int64_t GetSizeOfInformFile() { return InfoInt("AutoInform", "SizeOfInformFile", 0); }
std::string GetSha256OfInformFile() { return Info("AutoInform", "Sha256OfInformFile"); }
int32_t GetAutoInformW() { return Low32(InfoInt("AutoInform", "AutoInformW", 360)); }
int32_t GetAutoInformH() { return Low32(InfoInt("AutoInform", "AutoInformH", 360)); }
