#include "process/userstart_win.h"

#include "paths/utils_win.h"
#include "paths/widepath_win.h"
#include "paths/zdebug.h"
#include "process/process_win.h"
#include "process/startretry_win.h"
#include "process/userstart.h"

namespace {

class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  ~Handle() {
    if (h_ && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE* out() { return &h_; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// A primary token of the process behind the desktop's shell window: the
// user's own rights, even when this process was elevated by UAC.
bool ShellUserToken(Handle& token) {
  HWND shell = GetShellWindow();
  DWORD pid = 0;
  if (!shell || !GetWindowThreadProcessId(shell, &pid) || pid == 0) return false;
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!h) h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  Handle process(h);
  if (!process.get()) return false;
  Handle shellToken;
  if (!OpenProcessToken(process.get(), TOKEN_DUPLICATE, shellToken.out())) return false;
  const DWORD access = TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                       TOKEN_ADJUST_SESSIONID;
  return DuplicateTokenEx(shellToken.get(), access, nullptr, SecurityImpersonation, TokenPrimary, token.out()) !=
         FALSE;
}

bool Start(StartMethod method, HANDLE token, const std::string& program, const std::string& commandLine,
           const std::string& folder, int show) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = WORD(show);
  PROCESS_INFORMATION pi{};
  std::wstring app = WidePath(program), dir = WidePath(folder), line = WidePath(commandLine);
  const wchar_t* cwd = folder.empty() ? nullptr : dir.c_str();
  BOOL ok = FALSE;
  if (method == StartMethod::AsShellUser) {
    // The same rule as every other start: a start the loader failed is tried again.
    for (int attempt = 1; !ok; ++attempt) {
      std::wstring cl = line;
      ok = CreateProcessWithTokenW(token, 0, app.c_str(), cl.data(), 0, nullptr, cwd, &si, &pi);
      if (ok || GetLastError() != ERROR_INTERNAL_ERROR || attempt == kProcessStartAttempts) break;
      NoteStartRetry("process start failed with an internal error (1359), trying again");
      Sleep(200);
    }
  } else {
    ok = CreateProcessRetryingW(app.c_str(), line, 0, cwd, si, pi, NoteStartRetry);
  }
  if (!ok) return false;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

StartMethod Choose(Handle& token) {
  bool elevated = ProcessIsElevated();
  return ChooseStartMethod(elevated, elevated && ShellUserToken(token));
}

}  // namespace

bool ProcessIsElevated() {
  Handle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out())) return false;
  TOKEN_ELEVATION e{};
  DWORD n = 0;
  return GetTokenInformation(token.get(), TokenElevation, &e, sizeof e, &n) && e.TokenIsElevated != 0;
}

bool StartAsUser(const std::string& program, const std::string& commandLine, const std::string& folder, int show,
                 std::string& how) {
  Handle token;
  StartMethod method = Choose(token);
  how = StartMethodText(method);
  return Start(method, token.get(), program, commandLine, folder, show);
}

bool OpenLinkAsUser(const std::string& link, std::string& how) {
  Handle token;
  StartMethod method = Choose(token);
  how = StartMethodText(method);
  if (method == StartMethod::Direct) return OpenWithShell(link, "", SW_SHOW);
  // The system's URL handler finds the user's browser in the user's
  // settings; started with the user's token, the browser runs as the user.
  std::string quoted;
  if (!LinkArgument(link, quoted)) {
    how = "link refused (not an http, https or mailto address of one piece)";
    return false;
  }
  std::string rundll = SystemDir(true) + "rundll32.exe";
  std::string line = "\"" + rundll + "\" url.dll,FileProtocolHandler " + quoted;
  return Start(method, token.get(), rundll, line, "", SW_SHOW);
}
