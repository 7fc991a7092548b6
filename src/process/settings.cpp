#include "process/settings.h"

#include "paths/utils.h"

namespace {

OverrideSet g_overrides = {255, 255, 255, 255, 255, 255, 255, 255};

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

std::string InfoFileNameOf(const std::string& infoFileName) { return ExtractFileName(Trim(infoFileName)); }

std::string OriginalFileNameOf(const std::string& infoFileName) {
  std::string name = InfoFileNameOf(infoFileName);
  if (name.empty()) return name;  // no INFO file, so no ORIGINAL file either
  size_t dot = name.find('.');
  if (dot != std::string::npos) name.erase(dot);
  return name + ".original";
}

std::string AgentFilePath(const std::string& agentDir, const std::string& fileName) {
  return fileName.empty() ? std::string() : agentDir + fileName;
}

bool SwitchTextOn(const std::string& text) { return text == "1"; }

bool SwitchWithOverride(uint8_t override, const std::string& iniText) {
  if (override == kOverrideNotSet) return SwitchTextOn(iniText);
  return override == 1;
}

const OverrideSet& Overrides() { return g_overrides; }

uint8_t Override(int position) {
  if (position < 0 || position > 7) return kOverrideNotSet;
  return g_overrides[position];
}

bool SetOverride(int position, uint8_t value) {
  if (position < 0 || position > 5) return false;
  g_overrides[position] = value;
  return true;
}

void ResetOverrides() { g_overrides.fill(kOverrideNotSet); }

bool ConfirmBeforeCheck() { return g_overrides[kOvConfirmBeforeCheck] == 1; }

std::string OverrideListText(const OverrideSet& values) {
  std::string text = "|";
  for (uint8_t v : values) text += IntToStr(v) + "|";
  return text;
}

std::string OverrideListText() { return OverrideListText(g_overrides); }

void ParseOverrideListInto(const std::string& text, OverrideSet& values) {
  for (int i = 0; i < 8; ++i) {
    int64_t v = 0;
    std::string item = ListItem(text, i, "");
    if (!item.empty() && TryStrToInt64(item, v)) values[i] = static_cast<uint8_t>(v & 0xFF);
  }
}

void ParseOverrideList(const std::string& text) { ParseOverrideListInto(text, g_overrides); }

bool IsVersionNewer(int32_t versionNew, int32_t versionOriginal) { return versionNew > versionOriginal; }

bool VersionInValidList(const std::string& validVersions, int32_t versionOriginal) {
  if (validVersions.empty()) return true;
  std::string needle = ",";
  needle += IntToStr(versionOriginal);
  needle += ',';
  std::string list = ",";
  list += validVersions;
  list += ',';
  return list.find(needle) != std::string::npos;
}

std::string ReadableSeconds(int64_t seconds) {
  // Split in whole numbers: a day fraction in floating point can come out a
  // second short.
  int64_t days = FloorDiv(seconds, 86400);
  int64_t rest = seconds - days * 86400;
  return DateStampText(static_cast<double>(days)) + "  " + ZeroPad(rest / 3600, 2) + ":" +
         ZeroPad(rest / 60 % 60, 2) + ":" + ZeroPad(rest % 60, 2);
}
