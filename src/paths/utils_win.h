// Win32 half of the general helpers: registry, INI files, system and user
// information, folders, waiting while window messages keep flowing.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// Called first thing at start: command line, platform seams, safe DLL search.
void InitWin32Utils();
// Loads a library from the system folder only (never from the program's folder).
HMODULE LoadSystemLibrary(const char* name);
// Dynamic function: library by name from the system folder, then the named function.
FARPROC DynamicFunction(const char* library, const char* function, HMODULE* libOut = nullptr);
// A named function of a loaded library as the given function-pointer type; null when absent.
template <typename T>
T BindFunction(HMODULE lib, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(lib, name)));
}

// Folders (NormalizeDirSlash applied, trailing backslash as asked).
std::string WindowsDir(bool trailingSlash);
std::string SystemDir(bool trailingSlash);
std::string TempDir(bool trailingSlash);
std::string OwnExePathWin();  // GetModuleFileName of the running program

// Registry and INI
std::string ReadRegString(const std::string& path, const std::string& valueName, const std::string& def);
bool WriteRegString(const std::string& path, const std::string& valueName, const std::string& value);
std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& def);
// A value that is a path: read wide, so that a file written in UTF-16 keeps
// every character; UTF-8 like every path.
std::string ReadIniPath(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& def = "");
int64_t ReadIniInt(const std::string& file, const std::string& section, const std::string& key, int64_t def);
bool WriteIniString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value);
bool WriteIniInt(const std::string& file, const std::string& section, const std::string& key, int64_t value);

// System and user information
std::string LoggedUserName();
std::string ComputerNameText();
std::string RegisteredOwner();
std::string RegisteredOrganization();
std::string CurrentDomainName();
bool IsNtPlatform();
bool DiagnosticSwitch();
std::string LastErrorText();
std::string WindowText(HWND wnd);

// Screen
int PixelsPerInchY();
int PointsToPixels(int points);
RECT WorkArea();
POINT CentreInWorkArea(int width, int height);
bool OpenWithShell(const std::string& fileOrUrl, const std::string& params, int showCmd);

// Waiting and message flow
void ProcessPendingMessages(DWORD sleepMs);
void PumpMessagesFor(DWORD totalMs, DWORD stepMs = 0);
// The step PumpMessagesFor sleeps between pumps: stepMs, or for 0 a tenth of
// the total kept within 1..25 ms.
DWORD PumpStepFor(DWORD totalMs, DWORD stepMs);
void SetAutoPlayCancel(bool on);
UINT QueryCancelAutoPlayMsg();  // 0 while not registered
