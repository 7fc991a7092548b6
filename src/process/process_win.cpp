#include "process/process_win.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "paths/platform.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/widepath_win.h"
#include "paths/zdebug.h"
#include "process/analizer.h"
#include "process/psapi_win.h"
#include "process/tlhelp32_win.h"
#include "process/waitend.h"

namespace {

ProcessListMode g_mode = ProcessListMode::Auto;

// Asked anew at every call: the answer is cheap.
bool NtFamily() {
  OSVERSIONINFOA vi;
  std::memset(&vi, 0, sizeof(vi));
  vi.dwOSVersionInfoSize = sizeof(vi);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&vi)) return true;
#pragma GCC diagnostic pop
  return vi.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

ProcessListMode EffectiveMode() {
  if (g_mode != ProcessListMode::Auto) return g_mode;
  return NtFamily() ? ProcessListMode::Modules : ProcessListMode::ToolHelp;
}

std::string ShortForm(const std::string& path) { return ShortPathOf(path); }

bool Matches(const SoughtProcess& sought, const std::string& full, const std::string& bare) {
  // The short form of the process's path is only worth a system call when
  // the sought name had one.
  std::string procShort;
  if (sought.shortName != kNoShortForm && !full.empty()) procShort = ShortForm(full);
  return ProcessMatches(sought, full, bare, procShort);
}

// All process identifiers, in the system's order; the buffer grows while the
// system fills it completely (there may be more). `ok` tells a list that
// could not be read from an empty one.
std::vector<DWORD> ProcessIds(bool* ok = nullptr) {
  std::vector<DWORD> ids;
  DWORD size = 1024;
  if (ok) *ok = false;
  for (;;) {
    ids.assign(size / sizeof(DWORD), 0);
    DWORD got = 0;
    if (!PsEnumProcesses(ids.data(), size, &got)) return {};
    if (got != size) {
      ids.resize(got / sizeof(DWORD));
      if (ok) *ok = true;
      return ids;
    }
    size += 1024;
  }
}

using QueryImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);

QueryImageNameFn QueryImageName() {
  // Vista and later only, hence bound by name.
  static QueryImageNameFn fn = reinterpret_cast<QueryImageNameFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameW")));
  return fn;
}

// Full path of the process's executable through its first module.
std::string PathByModule(DWORD pid, std::string& bare) {
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!h) return {};
  wchar_t full[1024] = L"";
  wchar_t base[1024] = L"";
  HMODULE mod = nullptr;
  DWORD needed = 0;
  if (PsEnumProcessModules(h, &mod, sizeof(mod), &needed)) {
    if (!PsGetModuleFileNameExW(h, mod, full, 1024)) full[0] = 0;
    if (!PsGetModuleBaseNameW(h, mod, base, 1024)) base[0] = 0;
  }
  CloseHandle(h);
  bare = PathFromWide(base);
  return PathFromWide(full);
}

// Full path through the image name, which also works where the module list
// cannot be read (a 32-bit program looking at a 64-bit one) and needs only
// limited query rights.
std::string PathByImageName(DWORD pid, std::string& bare) {
  QueryImageNameFn query = QueryImageName();
  if (!query) return {};
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!h) return {};
  wchar_t full[1024];
  DWORD size = 1024;
  std::string result;
  if (query(h, 0, full, &size)) result = PathFromWide(full, int(size));
  CloseHandle(h);
  bare = ExtractFileName(result);
  return result;
}

// Full path and bare name of one process, by whichever route works.
std::string PathOfProcess(DWORD pid, bool modules, std::string& bare) {
  bare.clear();
  std::string full = modules ? PathByModule(pid, bare) : std::string();
  if (full.empty() && bare.empty()) full = PathByImageName(pid, bare);
  return full;
}

DWORD FindInList(const SoughtProcess& sought, const std::vector<DWORD>& ids, bool modules) {
  // From the last identifier to the first: the last match in list order wins.
  for (size_t i = ids.size(); i-- > 0;) {
    if (ids[i] == 0) continue;  // the idle process has no executable
    std::string bare;
    std::string full = PathOfProcess(ids[i], modules, bare);
    if (full.empty() && bare.empty()) continue;
    if (Matches(sought, full, bare)) return ids[i];
  }
  return 0;
}

DWORD FindByProcessList(const SoughtProcess& sought, bool modules) { return FindInList(sought, ProcessIds(), modules); }

DWORD FindBySnapshot(const SoughtProcess& sought) {
  HANDLE snap = ThCreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (!snap) return 0;
  PROCESSENTRY32W entry;
  std::memset(&entry, 0, sizeof(entry));
  entry.dwSize = sizeof(entry);
  DWORD found = 0;
  // The whole snapshot is read: the last match in its order wins.
  for (BOOL ok = ThProcess32First(snap, &entry); ok; ok = ThProcess32Next(snap, &entry)) {
    std::string exe = PathFromWide(entry.szExeFile, int(wcsnlen(entry.szExeFile, MAX_PATH)));
    if (Matches(sought, exe, ExtractFileName(exe))) found = entry.th32ProcessID;
  }
  CloseHandle(snap);
  return found;
}

BOOL CALLBACK CollectWindow(HWND wnd, LPARAM param) {
  TAnalizer* a = reinterpret_cast<TAnalizer*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (pid != a->ProcessId()) return TRUE;
  char cls[64];
  if (GetClassNameA(wnd, cls, sizeof(cls)) > 0 && IsInputMethodWindowClass(cls)) return TRUE;
  return a->Add(reinterpret_cast<uintptr_t>(wnd)) ? TRUE : FALSE;  // stop once the list is full
}

WindowFacts FactsOf(uintptr_t window, void*) {
  HWND wnd = reinterpret_cast<HWND>(window);
  WindowFacts f;
  f.rootOwner = reinterpret_cast<uintptr_t>(RootOwner(wnd));
  char title[1024];
  title[0] = 0;
  f.titled = GetWindowTextA(wnd, title, sizeof(title)) > 0 && title[0] != 0;
  f.visible = IsWindowVisible(wnd) != FALSE;
  return f;
}

// The wait's seam on Win32: the process list of the family in use, and a
// SYNCHRONIZE handle on the process found.
class WinProcessWait : public ProcessWaitEnv {
 public:
  WinProcessWait(const std::string& name, bool (*stopRequested)())
      : mode_(EffectiveMode()),
        sought_(MakeSoughtProcess(name, ShortForm(Trim(name)), false)),
        stopRequested_(stopRequested) {}
  ~WinProcessWait() override {
    if (held_) CloseHandle(held_);
  }
  void Pump(uint32_t ms) override { PumpMessagesFor(ms); }
  uint64_t Tick() override { return TickCount(); }
  bool StopRequested() override { return stopRequested_ && stopRequested_(); }
  bool SnapshotFamily() override { return mode_ == ProcessListMode::ToolHelp; }
  ProcessSearch Search(uint32_t& pid) override {
    pid = 0;
    if (!sought_.valid) return ProcessSearch::NotFound;
    if (mode_ == ProcessListMode::ToolHelp) {
      HANDLE snap = ThCreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
      if (!snap) return ToolHelpAvailable() ? ProcessSearch::ListFailed : ProcessSearch::NotFound;
      CloseHandle(snap);
      pid = FindBySnapshot(sought_);
    } else {
      bool ok = false;
      std::vector<DWORD> ids = ProcessIds(&ok);
      // Without PSAPI there is no list to wait on at all: nothing to find, as before.
      if (!ok) return PsapiAvailable() ? ProcessSearch::ListFailed : ProcessSearch::NotFound;
      pid = FindInList(sought_, ids, mode_ == ProcessListMode::Modules);
    }
    return pid ? ProcessSearch::Found : ProcessSearch::NotFound;
  }
  bool Hold(uint32_t pid) override {
    held_ = OpenProcess(SYNCHRONIZE, FALSE, pid);
    return held_ != nullptr;
  }
  bool HeldEnded() override { return WaitForSingleObject(held_, 0) == WAIT_OBJECT_0; }
  ProcessSearch StillListed(uint32_t pid) override {
    bool ok = false;
    std::vector<DWORD> ids = ProcessIds(&ok);
    if (!ok) return ProcessSearch::ListFailed;
    if (std::find(ids.begin(), ids.end(), DWORD(pid)) == ids.end()) return ProcessSearch::NotFound;
    std::string bare;
    std::string full = PathOfProcess(pid, mode_ == ProcessListMode::Modules, bare);
    // A path that cannot be read is taken for the same program: waiting too long is the safe side.
    if (full.empty() && bare.empty()) return ProcessSearch::Found;
    return Matches(sought_, full, bare) ? ProcessSearch::Found : ProcessSearch::NotFound;
  }

 private:
  ProcessListMode mode_;
  SoughtProcess sought_;
  bool (*stopRequested_)();
  HANDLE held_ = nullptr;
};

}  // namespace

void SetProcessListMode(ProcessListMode mode) { g_mode = mode; }

DWORD FindProcessByPath(const std::string& path, bool fullPathOnly) {
  SoughtProcess sought = MakeSoughtProcess(path, ShortForm(Trim(path)), fullPathOnly);
  if (!sought.valid) return 0;
  switch (EffectiveMode()) {
    case ProcessListMode::ToolHelp:
      return FindBySnapshot(sought);
    case ProcessListMode::ImageName:
      return FindByProcessList(sought, false);
    default:
      return FindByProcessList(sought, true);
  }
}

namespace {
std::string LongForm(const std::string& path) {
  wchar_t buf[1024];
  DWORD n = GetLongPathNameW(WidePath(path).c_str(), buf, 1024);
  return n > 0 && n < 1024 ? PathFromWide(buf, int(n)) : path;
}
}  // namespace

bool ProcessRunsFromFolder(const std::string& folder) {
  std::string dir = NormalizeDirSlash(Trim(folder), true);
  if (dir.size() < 4) return false;  // never "every program on the drive"
  // Either side may carry 8.3 names (a temporary folder, an engine started by its short path).
  std::string longDir = NormalizeDirSlash(LongForm(dir), true);
  auto inside = [&](const std::string& exe) {
    if (exe.empty()) return false;
    if (StartsWith(dir, exe, true) || StartsWith(longDir, exe, true)) return true;
    return exe.find('~') != std::string::npos && StartsWith(longDir, LongForm(exe), true);
  };
  if (EffectiveMode() == ProcessListMode::ToolHelp) {
    HANDLE snap = ThCreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (!snap) return false;
    PROCESSENTRY32W entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL ok = ThProcess32First(snap, &entry); ok && !found; ok = ThProcess32Next(snap, &entry))
      found = inside(PathFromWide(entry.szExeFile, int(wcsnlen(entry.szExeFile, MAX_PATH))));
    CloseHandle(snap);
    return found;
  }
  bool modules = EffectiveMode() != ProcessListMode::ImageName;
  for (DWORD id : ProcessIds()) {
    if (id == 0) continue;
    std::string bare;
    if (inside(PathOfProcess(id, modules, bare))) return true;
  }
  return false;
}

bool IsProcessRunning(const std::string& path) { return FindProcessByPath(TrimStripQuotes(path), false) != 0; }

WaitEnd WaitForProcessEnd(const std::string& path, uint64_t limitMs, bool (*stopRequested)()) {
  WinProcessWait env(TrimStripQuotes(path), stopRequested);
  return WaitForProcessEndWith(env, DeadlineAfter(env.Tick(), limitMs));
}

HWND RootOwner(HWND wnd) {
  HWND root = nullptr;
  HWND owner = wnd ? GetWindow(wnd, GW_OWNER) : nullptr;
  // Bounded: a window destroyed and reused mid-walk must not loop forever.
  for (int guard = 0; owner && guard < 10000; ++guard) {
    root = owner;
    owner = GetWindow(owner, GW_OWNER);
  }
  return root;
}

HWND FindProcessMainWindow(const std::string& path, bool fullPathOnly) {
  DWORD pid = FindProcessByPath(path, fullPathOnly);
  if (!pid) return nullptr;
  // The analyser holds two thousand entries: too big for a deep stack.
  auto analizer = std::make_unique<TAnalizer>(pid);
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(analizer.get()));
  analizer->Score(FactsOf, nullptr);
  return reinterpret_cast<HWND>(analizer->Best());
}

bool PostMessageToProcess(const std::string& path, bool fullPathOnly, UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND wnd = FindProcessMainWindow(path, fullPathOnly);
  if (!wnd) return false;
  return PostMessageA(wnd, msg, wParam, lParam) != FALSE;
}

bool CloseProcessByWmClose(const std::string& path, bool fullPathOnly) {
  return PostMessageToProcess(path, fullPathOnly, WM_CLOSE, 15, 255);
}

bool CloseProcessByWmQuit(const std::string& path, bool fullPathOnly) {
  return PostMessageToProcess(path, fullPathOnly, WM_QUIT, 15, 255);
}

bool TerminateProcessByPath(const std::string& path, bool fullPathOnly) {
  DWORD pid = FindProcessByPath(path, fullPathOnly);
  if (!pid) return false;
  HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (!h) return false;
  BOOL ok = TerminateProcess(h, 0);
  CloseHandle(h);
  return ok != FALSE;
}

void WaitWhileWindowExists(const std::string& className, const std::string& title) {
  // With neither given, FindWindow would find any window and never let go.
  if (className.empty() && title.empty()) return;
  const char* cls = className.empty() ? nullptr : className.c_str();
  const char* ttl = title.empty() ? nullptr : title.c_str();
  while (FindWindowA(cls, ttl)) ProcessPendingMessages(100);
}

void NoteStartRetry(const std::string& text) { DebugLinePid(" " + text); }
