// A stand-in for the suite's setup engine: it records what the stub handed
// it (command line, current folder, the extracted files beside it), then
// behaves as told: shows the engine dialog, sleeps, signals completion by
// deleting the token atom, and exits with a chosen code. Switches are listed
// in README.md; all start with "/ZT_" so that they never meet the stub's own.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "paths/utils.h"
#include "process/startretry_win.h"

namespace {

const char* const kAtomBase = "AutoUpdateAtomTokenByZelkan";
const char* const kDialogClassBase = ".SDialog_Class_Name.";

std::string g_tail;

std::string Switch(const char* name) { return SwitchValueIn(g_tail, name); }
int64_t SwitchNumber(const char* name, int64_t def) { return SwitchIntIn(g_tail, name, def); }

std::string OwnPath() {
  char buf[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
  return std::string(buf, n);
}

// FNV-1a, 64 bits, over the whole file; empty when it cannot be read.
std::string FileHash(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return "";
  uint64_t hash = 14695981039346656037ull;
  static char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
    for (DWORD i = 0; i < got; ++i) hash = (hash ^ uint8_t(buf[i])) * 1099511628211ull;
  CloseHandle(h);
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

uint32_t DosTimeOfFile(const FILETIME& utc) {
  FILETIME local;
  WORD date = 0, time = 0;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &date, &time)) return 0;
  return (uint32_t(date) << 16) | time;
}

std::string Report(const std::string& tag, bool atomAtStart) {
  char cwd[MAX_PATH + 1];
  DWORD n = GetCurrentDirectoryA(MAX_PATH, cwd);
  std::string exe = OwnPath();
  std::string dir = ExtractFileDir(exe);
  std::string r = "CommandLine=" + std::string(GetCommandLineA()) + "\r\n";
  r += "CurrentDir=" + std::string(cwd, n) + "\r\n";
  r += "ExePath=" + exe + "\r\n";
  r += "ThId=" + tag + "\r\n";
  r += std::string("AtomAtStart=") + (atomAtStart ? "1" : "0") + "\r\n";
  // The show state its starter asked for (the stub: 5 in the foreground, 0 hidden).
  STARTUPINFOA si{};
  si.cb = sizeof si;
  GetStartupInfoA(&si);
  r += "StartupShow=" +
       ((si.dwFlags & STARTF_USESHOWWINDOW) ? std::to_string(si.wShowWindow) : std::string("none")) + "\r\n";
  WIN32_FIND_DATAA fd;
  HANDLE f = FindFirstFileA((dir + "\\*").c_str(), &fd);
  if (f != INVALID_HANDLE_VALUE) {
    do {
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      uint64_t size = (uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
      r += "File=" + std::string(fd.cFileName) + "|" + std::to_string(size) + "|" +
           FileHash(dir + "\\" + fd.cFileName) + "|" + std::to_string(DosTimeOfFile(fd.ftLastWriteTime)) + "\r\n";
    } while (FindNextFileA(f, &fd));
    FindClose(f);
  }
  // The same folder through the wide functions, names in UTF-8: what an
  // engine that reads Unicode sees.
  wchar_t wexe[MAX_PATH + 1];
  DWORD wn = GetModuleFileNameW(nullptr, wexe, MAX_PATH);
  std::wstring wdir(wexe, wn);
  wdir.erase(wdir.find_last_of(L'\\') == std::wstring::npos ? 0 : wdir.find_last_of(L'\\'));
  WIN32_FIND_DATAW wfd;
  HANDLE wf = FindFirstFileW((wdir + L"\\*").c_str(), &wfd);
  if (wf != INVALID_HANDLE_VALUE) {
    do {
      if (wfd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      char name[MAX_PATH * 4];
      int len = WideCharToMultiByte(CP_UTF8, 0, wfd.cFileName, -1, name, sizeof name, nullptr, nullptr);
      uint64_t size = (uint64_t(wfd.nFileSizeHigh) << 32) | wfd.nFileSizeLow;
      if (len > 0) r += "FileW=" + std::string(name) + "|" + std::to_string(size) + "\r\n";
    } while (FindNextFileW(wf, &wfd));
    FindClose(wf);
  }
  // Whether the paths the stub handed over open through the ANSI functions.
  for (const char* sw : {"/OriginExe=", "/OriginalInfoFile="}) {
    std::string path = Switch(sw);
    if (path.empty()) continue;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    r += std::string("Opens") + std::string(sw + 1, std::strlen(sw) - 2) + "=" +
         (h != INVALID_HANDLE_VALUE ? "1" : "0") + "\r\n";
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  return r;
}

// Written under a temporary name first, so that a reader never sees half a report.
void WriteReport(const std::string& path, const std::string& text) {
  std::string temp = path + ".tmp";
  HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(h);
  MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void Pump(DWORD ms) {
  DWORD start = GetTickCount();
  do {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(10);
  } while (GetTickCount() - start < ms);
}

// The engine's dialog lives in a second process, as a real engine's does, so
// that it can outlast the engine process that the stub waits for first.
int DialogHost(const std::string& tag, DWORD ms) {
  std::string cls = kDialogClassBase + tag;
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = cls.c_str();
  if (!RegisterClassA(&wc)) return 2;
  HWND w = CreateWindowExA(0, cls.c_str(), "Test engine", WS_OVERLAPPED, 0, 0, 200, 100, nullptr, nullptr,
                           wc.hInstance, nullptr);
  if (!w) return 3;
  Pump(ms);
  DestroyWindow(w);
  return 0;
}

void StartDialogHost(const std::string& tag, int64_t ms) {
  // Its own second copy, by its wide path: the setup folder may have any name.
  wchar_t self[MAX_PATH + 1];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring cmd = L"\"" + std::wstring(self, n) + L"\" /ZT_DIALOGHOST=" + std::to_wstring(ms) + L" /TH_ID=" +
                     std::wstring(tag.begin(), tag.end());
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  auto note = [](const std::string& text) { std::fprintf(stderr, "testengine: %s\n", text.c_str()); };
  if (!CreateProcessRetryingW(nullptr, cmd, 0, nullptr, si, pi, note)) return;
  // Wait until the window exists, so the stub never finds the dialog missing by a race.
  std::string cls = kDialogClassBase + tag;
  for (int i = 0; i < 500 && !FindWindowA(cls.c_str(), nullptr); ++i) Sleep(10);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  g_tail = CommandTailOf(GetCommandLineA(), OwnPath());
  std::string tag = Switch("/TH_ID=");
  int64_t hostMs = SwitchNumber("/ZT_DIALOGHOST=", -1);
  if (hostMs >= 0) return DialogHost(tag, DWORD(hostMs));

  std::string atomName = kAtomBase + tag;
  bool atomAtStart = GlobalFindAtomA(atomName.c_str()) != 0;
  std::string reportPath = Switch("/ZT_REPORT=");
  if (!reportPath.empty()) WriteReport(reportPath, Report(tag, atomAtStart));

  int64_t dialogMs = SwitchNumber("/ZT_DIALOG=", 0);
  if (dialogMs > 0) StartDialogHost(tag, dialogMs);
  int64_t sleepMs = SwitchNumber("/ZT_SLEEP=", 0);
  if (sleepMs > 0) Pump(DWORD(sleepMs));
  if (!SwitchPresentIn(g_tail, "/ZT_KEEPATOM")) {
    ATOM a = GlobalFindAtomA(atomName.c_str());
    if (a) GlobalDeleteAtom(a);
  }
  return int(SwitchNumber("/ZT_EXIT=", 0));
}
