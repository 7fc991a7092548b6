#include "paths/utils_win.h"

#include <shellapi.h>

#include <cstring>
#include <vector>

#include "paths/platform.h"
#include "paths/platform_win.h"
#include "paths/utils.h"
#include "paths/widepath_win.h"
#include "paths/zdebug.h"

// ---------------------------------------------------------------------------
// start-up
// ---------------------------------------------------------------------------

static void PumpOnce() { ProcessPendingMessages(0); }

static double Win32LocalNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return EncodeDateTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond) +
         st.wMilliseconds / 86400000.0;
}

void InitWin32Utils() {
  // Keep planted DLLs in the download folder out of every later load. The
  // call exists from Windows 7 with KB2533623 on; older systems only know
  // how to drop the current folder from the search.
  HMODULE k32 = GetModuleHandleA("kernel32.dll");
  if (k32) {
    typedef BOOL(WINAPI * SetDefaultDirsFn)(DWORD);
    typedef BOOL(WINAPI * SetDllDirFn)(LPCSTR);
    auto setDefault = reinterpret_cast<SetDefaultDirsFn>(
        reinterpret_cast<void*>(GetProcAddress(k32, "SetDefaultDllDirectories")));
    if (!setDefault || !setDefault(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */)) {
      auto setDir = reinterpret_cast<SetDllDirFn>(reinterpret_cast<void*>(GetProcAddress(k32, "SetDllDirectoryA")));
      if (setDir) setDir("");
    }
  }
  InstallWin32Platform();
  Platform().processMessages = PumpOnce;
  Platform().localNow = Win32LocalNow;
  SetProcessCommandLine(PathFromWide(GetCommandLineW()), OwnExePathWin());
}

HMODULE LoadSystemLibrary(const char* name) {
  if (!name || !*name) return nullptr;
  std::string path = SystemDir(true) + name;
  // The library and every library it needs come from the system folder
  // only, never from the folder of a downloaded setup.
  HMODULE lib = LoadLibraryExW(WidePath(path).c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // A system without the search flags (Windows 7 without KB2533623) says so
  // with this error; the full path still keeps the library itself from
  // being looked for elsewhere.
  if (!lib && GetLastError() == ERROR_INVALID_PARAMETER)
    lib = LoadLibraryExW(WidePath(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return lib;
}

FARPROC DynamicFunction(const char* library, const char* function, HMODULE* libOut) {
  HMODULE lib = LoadSystemLibrary(library);
  if (libOut) *libOut = lib;
  if (reinterpret_cast<uintptr_t>(lib) <= 32) return nullptr;
  return GetProcAddress(lib, function);
}

// ---------------------------------------------------------------------------
// folders
// ---------------------------------------------------------------------------

std::string WindowsDir(bool trailingSlash) {
  wchar_t buf[261];
  UINT n = GetWindowsDirectoryW(buf, 261);
  if (n == 0 || n >= 261) return "";
  return NormalizeDirSlash(PathFromWide(buf, int(n)), trailingSlash);
}

std::string SystemDir(bool trailingSlash) {
  wchar_t buf[261];
  UINT n = GetSystemDirectoryW(buf, 261);
  if (n == 0 || n >= 261) return "";
  return NormalizeDirSlash(PathFromWide(buf, int(n)), trailingSlash);
}

std::string TempDir(bool trailingSlash) {
  wchar_t buf[MAX_PATH + 2];
  DWORD n = GetTempPathW(MAX_PATH + 2, buf);
  if (n == 0 || n >= MAX_PATH + 2) return "";
  return NormalizeDirSlash(PathFromWide(buf, int(n)), trailingSlash);
}

std::string OwnExePathWin() {
  std::vector<wchar_t> buf(MAX_PATH + 1);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), DWORD(buf.size()));
    if (n == 0) return "";
    // A full buffer may hold a cut path: try again with a larger one.
    if (n < buf.size() - 1) return PathFromWide(buf.data(), int(n));
    if (buf.size() > 32768) return "";
    buf.resize(buf.size() * 2);
  }
}

// ---------------------------------------------------------------------------
// registry and INI
// ---------------------------------------------------------------------------

std::string ReadRegString(const std::string& path, const std::string& valueName, const std::string& def) {
  uint32_t root;
  std::string sub;
  SplitRegPath(path, root, sub);
  HKEY key;
  if (RegOpenKeyExA(reinterpret_cast<HKEY>(uintptr_t(root)), sub.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return def;
  std::vector<char> buf(10241);
  DWORD type = 0, size = DWORD(buf.size());
  LONG rc = RegQueryValueExA(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || size > buf.size()) return def;
  if (type == REG_DWORD && size == 4) {
    DWORD v;
    memcpy(&v, buf.data(), 4);
    return IntToStr(int64_t(v));
  }
  std::string data(buf.data(), size);
  if (type == REG_MULTI_SZ && size > 2) {
    while (!data.empty() && data.back() == '\0') data.pop_back();
    return ReplaceText(data, std::string(1, '\0'), "<0>");
  }
  size_t z = data.find('\0');
  return z == std::string::npos ? data : data.substr(0, z);
}

bool WriteRegString(const std::string& path, const std::string& valueName, const std::string& value) {
  uint32_t root;
  std::string sub;
  SplitRegPath(path, root, sub);
  HKEY key;
  if (RegCreateKeyExA(reinterpret_cast<HKEY>(uintptr_t(root)), sub.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  LONG rc = RegSetValueExA(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           DWORD(value.size() + 1));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& def) {
  if (file.empty()) return def;  // an empty name would make the system pick a file of its own
  // The file by its path, wide; names and values stay 8-bit texts in the
  // ANSI code page, as they are in the file.
  std::vector<wchar_t> buf(10241);
  DWORD n = GetPrivateProfileStringW(WideFromAnsi(section).c_str(), WideFromAnsi(key).c_str(),
                                     WideFromAnsi(def).c_str(), buf.data(), DWORD(buf.size()), WidePath(file).c_str());
  return AnsiFromWide(buf.data(), int(n));
}

std::string ReadIniPath(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& def) {
  if (file.empty()) return def;
  std::vector<wchar_t> buf(10241);
  DWORD n = GetPrivateProfileStringW(WideFromAnsi(section).c_str(), WideFromAnsi(key).c_str(), WidePath(def).c_str(),
                                     buf.data(), DWORD(buf.size()), WidePath(file).c_str());
  return PathFromWide(buf.data(), int(n));
}

int64_t ReadIniInt(const std::string& file, const std::string& section, const std::string& key, int64_t def) {
  return StrToInt64Def(ReadIniString(file, section, key, IntToStr(def)), def);
}

bool WriteIniString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value) {
  if (file.empty()) return false;
  return WritePrivateProfileStringW(WideFromAnsi(section).c_str(), WideFromAnsi(key).c_str(),
                                    WideFromAnsi(value).c_str(), WidePath(file).c_str()) != FALSE;
}

bool WriteIniInt(const std::string& file, const std::string& section, const std::string& key, int64_t value) {
  return WriteIniString(file, section, key, IntToStr(value));
}

// ---------------------------------------------------------------------------
// system and user information
// ---------------------------------------------------------------------------

// Names that path macros put into paths: UTF-8, as every path.
std::string LoggedUserName() {
  wchar_t buf[257];
  DWORD n = 257;
  if (!GetUserNameW(buf, &n)) return "";
  return Trim(PathFromWide(buf));
}

std::string ComputerNameText() {
  wchar_t buf[257];
  DWORD n = 257;
  if (!GetComputerNameW(buf, &n)) return "";
  return Trim(PathFromWide(buf));
}

static std::string CurrentVersionKey() {
  std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  return IsNtPlatform() ? ReplaceText(key, "Windows", "Windows NT") : key;
}

std::string RegisteredOwner() {
  const char* const kMissing = "\x01";
  std::string owner = ReadRegString(CurrentVersionKey(), "RegisteredOwner", kMissing);
  return owner == kMissing ? LoggedUserName() : Trim(PathFromAnsi(owner));
}

std::string RegisteredOrganization() {
  return Trim(PathFromAnsi(ReadRegString(CurrentVersionKey(), "RegisteredOrganization", "")));
}

std::string CurrentDomainName() {
  std::string user = LoggedUserName();
  DWORD sidSize = 0, domSize = 0;
  SID_NAME_USE use;
  std::wstring wuser = WidePath(user);
  LookupAccountNameW(nullptr, wuser.c_str(), nullptr, &sidSize, nullptr, &domSize, &use);
  if (sidSize == 0 || domSize == 0) return "";
  std::vector<char> sid(sidSize);
  std::vector<wchar_t> dom(domSize + 1);
  if (!LookupAccountNameW(nullptr, wuser.c_str(), sid.data(), &sidSize, dom.data(), &domSize, &use)) return "";
  return PathFromWide(dom.data());
}

bool IsNtPlatform() {
  OSVERSIONINFOA vi;
  ZeroMemory(&vi, sizeof vi);
  vi.dwOSVersionInfoSize = sizeof vi;
  if (!GetVersionExA(&vi)) return true;
  return vi.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

bool DiagnosticSwitch() {
  static int cached = -1;
  if (cached < 0) {
    char buf[16];
    DWORD n = GetEnvironmentVariableA("DVX", buf, sizeof buf);
    cached = (n == 3 && std::string(buf, n) == "938") ? 1 : 0;
  }
  return cached == 1;
}

std::string LastErrorText() {
  DWORD code = GetLastError();
  char buf[1024];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                           sizeof buf, nullptr);
  if (n == 0) return "Error Reading \"SysUtils.SysErrorMessage(GetLastError)\"";
  std::string s(buf, n);
  // System texts end with a line break (and sometimes a blank).
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

std::string WindowText(HWND wnd) {
  if (!wnd) return "";
  char buf[1024];
  int n = GetWindowTextA(wnd, buf, sizeof buf);
  return n > 0 ? std::string(buf, size_t(n)) : "";
}

// ---------------------------------------------------------------------------
// screen
// ---------------------------------------------------------------------------

int PixelsPerInchY() {
  static int ppi = 0;
  if (ppi == 0) {
    HDC dc = GetDC(nullptr);
    int v = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    if (dc) ReleaseDC(nullptr, dc);
    // Not cached on failure; 96 is the system's usual value.
    if (v <= 0) return 96;
    ppi = v;
  }
  return ppi;
}

int PointsToPixels(int points) { return MulDiv(points, PixelsPerInchY(), 72); }

RECT WorkArea() {
  RECT r = {0, 0, 0, 0};
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0)) {
    r.right = GetSystemMetrics(SM_CXSCREEN);
    r.bottom = GetSystemMetrics(SM_CYSCREEN);
  }
  return r;
}

POINT CentreInWorkArea(int width, int height) {
  RECT r = WorkArea();
  POINT p;
  p.x = r.left + ((r.right - r.left) - width) / 2;
  p.y = r.top + ((r.bottom - r.top) - height) / 2;
  return p;
}

bool OpenWithShell(const std::string& fileOrUrl, const std::string& params, int showCmd) {
  HINSTANCE h = ShellExecuteW(GetDesktopWindow(), nullptr, WidePath(fileOrUrl).c_str(),
                              params.empty() ? nullptr : WidePath(params).c_str(), nullptr, showCmd);
  return reinterpret_cast<intptr_t>(h) > 32;
}

// ---------------------------------------------------------------------------
// waiting and message flow
// ---------------------------------------------------------------------------

void ProcessPendingMessages(DWORD sleepMs) {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // The quit belongs to the main loop: put it back and stop here, or the
      // loop would never see it and the program would not end.
      PostQuitMessage(int(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  Sleep(sleepMs);
}

DWORD PumpStepFor(DWORD totalMs, DWORD stepMs) {
  if (stepMs != 0) return stepMs;
  DWORD s = totalMs / 10;
  if (s < 1) s = 1;
  if (s > 25) s = 25;
  return s;
}

void PumpMessagesFor(DWORD totalMs, DWORD stepMs) {
  DWORD step = PumpStepFor(totalMs, stepMs);
  DWORD start = GetTickCount();
  do {
    ProcessPendingMessages(step);
  } while (GetTickCount() - start < totalMs);  // unsigned: safe across the tick wrap
}

static UINT g_autoPlayMsg = 0;

void SetAutoPlayCancel(bool on) { g_autoPlayMsg = on ? RegisterWindowMessageA("QueryCancelAutoPlay") : 0; }

UINT QueryCancelAutoPlayMsg() { return g_autoPlayMsg; }
