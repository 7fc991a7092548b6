// dbgsend [/len=N] [text ...]: each text becomes one line on the debug
// channel; /len=N writes one line of N characters "0123456789" repeating.
#include <windows.h>

#include <string>

#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/zdebug.h"
#include "paths/zdebug_win.h"

int main(int argc, char** argv) {
  InitWin32Utils();
  InstallDebugChannel();
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (StartsWith("/len=", arg, true)) {
      int64_t n = StrToInt64Def(arg.substr(5), -1);
      if (n < 0) return 2;
      std::string line;
      for (int64_t k = 0; k < n; ++k) line += char('0' + k % 10);
      DebugLine(line);
    } else {
      DebugLine(arg);
    }
  }
  DebugFlush();
  return 0;
}
