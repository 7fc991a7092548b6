#include "paths/zdebug_win.h"

#include <windows.h>

#include "paths/widepath_win.h"
#include "paths/zdebug.h"

namespace {
CRITICAL_SECTION g_lock;
bool g_lockReady = false;
UINT g_debugMsg = 0;

// Long enough for any viewer that works; a hung viewer costs one wait per
// piece instead of hanging the program.
const UINT kSendTimeoutMs = 5000;

void LockChannel(bool enter) {
  if (!g_lockReady) return;
  if (enter)
    EnterCriticalSection(&g_lock);
  else
    LeaveCriticalSection(&g_lock);
}

char LocaleSeparator(LCTYPE type, char def) {
  char buf[8];
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buf, sizeof buf) > 1 && buf[0]) return buf[0];
  return def;
}
}  // namespace

void SendDebugPiece(const std::string& piece) {
  LockChannel(true);
  // At most 10240 characters, cut at a NUL like the zero-terminated copy.
  std::string text = piece.substr(0, 10240);
  size_t z = text.find('\0');
  if (z != std::string::npos) text.resize(z);
  HWND viewer = text.empty() ? nullptr : FindWindowA(".ZDebug.", nullptr);
  if (viewer && g_debugMsg) {
    ATOM atom = GlobalAddAtomA(text.c_str());
    if (atom) {
      DWORD_PTR result = 0;
      SendMessageTimeoutA(viewer, g_debugMsg, 1, LPARAM(atom), SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs,
                          &result);
      GlobalDeleteAtom(atom);
    }
  }
  LockChannel(false);
}

bool AppendSharedFile(const std::string& path, const std::string& bytes) {
  // Append-only access: lines of several processes never overwrite each other.
  HANDLE h = CreateFileW(WidePath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  SetFilePointer(h, 0, nullptr, FILE_END);
  DWORD written = 0;
  BOOL ok = WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

void InstallDebugChannel() {
  if (!g_lockReady) {
    InitializeCriticalSection(&g_lock);
    g_lockReady = true;
  }
  g_debugMsg = RegisterWindowMessageA(".Z_DebugMsg.");
  SetDebugLock(LockChannel);
  SetDebugSender(SendDebugPiece);
  SetDebugTextForm(LineForAnsiReader);
  SetLogAppender(AppendSharedFile);
  SetLogSeparators(LocaleSeparator(LOCALE_SDATE, '/'), LocaleSeparator(LOCALE_STIME, ':'));
}
