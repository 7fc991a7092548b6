#include "process/userstart.h"

StartMethod ChooseStartMethod(bool elevated, bool shellTokenAvailable) {
  if (!elevated) return StartMethod::Direct;
  return shellTokenAvailable ? StartMethod::AsShellUser : StartMethod::DirectNoShell;
}

const char* StartMethodText(StartMethod m) {
  switch (m) {
    case StartMethod::Direct:
      return "started with the agent's rights (not elevated)";
    case StartMethod::AsShellUser:
      return "started with the user's rights (the shell's token)";
    case StartMethod::DirectNoShell:
      return "no shell to take the user's rights from: started with the agent's own rights";
  }
  return "";
}

bool LinkArgument(const std::string& link, std::string& quoted) {
  quoted.clear();
  std::string lower;
  for (char c : link.substr(0, 8)) lower += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (lower.rfind("http://", 0) != 0 && lower.rfind("https://", 0) != 0) return false;
  for (unsigned char c : link)
    if (c < 0x20 || c == 0x7F || c == '"') return false;
  quoted = "\"" + link + "\"";
  return true;
}
