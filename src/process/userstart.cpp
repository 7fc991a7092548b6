#include "process/userstart.h"

#include "paths/utils.h"

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
  if (!StartsWith("http://", link, true) && !StartsWith("https://", link, true)) return false;
  for (unsigned char c : link)
    if (c < 0x20 || c == 0x7F || c == '"') return false;
  quoted = "\"" + link + "\"";
  return true;
}
