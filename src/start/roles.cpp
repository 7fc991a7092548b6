#include "start/roles.h"

#include "paths/utils.h"

std::string StripAllExtensions(const std::string& fileName) {
  size_t dot = fileName.find('.');
  return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

std::string StubClassNameFor(bool isUpdateAgent, const std::string& exePath) {
  if (isUpdateAgent) return ".AutoUpdate." + StripAllExtensions(ExtractFileName(exePath));
  return exePath;
}

std::string XCopyClassName(const std::string& agentExeName) {
  return ".AutoUpdate.X_" + StripAllExtensions(agentExeName);
}

bool IsPlainAgent(bool isUpdateAgent, const std::string& exeName, const std::string& agentExeName) {
  return isUpdateAgent && !Trim(agentExeName).empty() && SameTextTrim(exeName, agentExeName);
}

bool IsXAgent(bool isUpdateAgent, const std::string& exeName, const std::string& agentExeName) {
  return isUpdateAgent && !Trim(agentExeName).empty() && SameTextTrim(exeName, "X_" + Trim(agentExeName));
}

std::string XCopyArguments(const std::string& transient, const std::string& delay) {
  std::string a;
  if (!transient.empty()) a = " /TRANSIENTx=" + transient;
  if (!delay.empty()) a = " /SleepX=" + delay;
  return a;
}

std::string SpanRelaunchCommandLine(const std::string& yPath, const std::string& commandTail,
                                    const std::string& exePath, const std::string& originExe) {
  std::string rest = commandTail + " /SpanCdLvl=2 /SpanDiskFName1=\"" + exePath + ".001\"" + " /OriginExe=\"" +
                     (originExe.empty() ? exePath : originExe) + "\"";
  return QuoteIfBlank(yPath) + " " + Trim(rest);
}

void ParseWmMsg(const std::string& value, long long& handle, long long& message) {
  std::string list = ":" + value + ":";
  handle = ListItemInt(list, 0, 0);
  message = ListItemInt(list, 1, 0);
}
