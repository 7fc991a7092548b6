// Announcing a new version with a message instead of an update: fetch the
// inform file, show its text, record the version as seen.
#include <windows.h>

#include "dialogs/stubinformdlg_win.h"
#include "package/gfileinfo.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/zdebug.h"
#include "process/procstate_win.h"
#include "process/settings_win.h"
#include "setup/files_win.h"
#include "update/stubau_win.h"

bool PerformAutoInform() {
  AppendLog("PerformAutoInform() - START ");
  DebugLine(" ==== PerformAutoInform-1 ====");
  bool result = false;
  std::string url = GetDownloadURL_UPDATE();
  std::string fileName = GetNameOfInformFile();
  if (!url.empty() && !fileName.empty()) {
    DebugLine(" ==== PerformAutoInform-2 ====");
    SetAgentState(2);
    NotifyClient(41, 1);
    std::string error, text;
    // The bytes that passed the token and hash checks, not the file again.
    bool ok = DownloadFileAU(url, fileName, kDownloadInform, error, nullptr, &text);
    NotifyClient(41, 2);
    if (ok) {
      DebugLine(" ==== PerformAutoInform-3 ====");
      std::string body = DecodeInformText(text).body;
      std::string title = ReadAutoUpdateText("s34", "New Version");
      std::string button = ReadAutoUpdateText("s35", "Download");
      result = ShowInformWindow(g_MainWindow, title, button, GetMsgBoxCharSet(), GetMsgBoxFontSize(),
                                GetMsgBoxFontName(), false, GetAutoInformH(), GetAutoInformW(),
                                GetDownloadURL_INFORM(), body);
      if (result && !SetVersionOriginal(GetVersionNew()))
        AppendLog("ERROR: the version could not be written to " + OriginalFilePath());
      DebugLine(" ==== PerformAutoInform-4 ====");
    }
  }
  AppendLog("PerformAutoInform() - END " + BoolText(result));
  return result;
}
