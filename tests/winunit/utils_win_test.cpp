#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/zdebug.h"
#include "paths/zdebug_win.h"

namespace {

const char* kTestKey = "Software\\ZStubUtilsTest";

class RegistryRead : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
  }
  void Set(const char* name, DWORD type, const std::string& data) {
    ASSERT_EQ(RegSetValueExA(key_, name, 0, type, reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size())),
              ERROR_SUCCESS);
  }
  HKEY key_ = nullptr;
};

TEST_F(RegistryRead, ValueTypes) {
  DWORD dw = 4000000000u;
  Set("multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
  Set("dword", REG_DWORD, std::string(reinterpret_cast<const char*>(&dw), 4));
  Set("sz", REG_SZ, std::string("text\0tail\0", 10));
  Set("short", REG_DWORD, std::string("\1\0", 2));  // not 4 bytes: read as text
  Set("big", REG_SZ, std::string(12000, 'x') + '\0');
  struct Row {
    const char* path;
    const char* name;
    const char* want;
  } rows[] = {
      {"HKCU\\Software\\ZStubUtilsTest", "multi", "a<0>b"},
      {"HKEY_CURRENT_USER\\Software\\ZStubUtilsTest", "dword", "4000000000"},
      {"Software\\ZStubUtilsTest", "sz", "text"},  // no root: the current user
      {"HKCU\\Software\\ZStubUtilsTest", "short", "\x01"},
      {"HKCU\\Software\\ZStubUtilsTest", "big", "<def>"},  // larger than the buffer
      {"HKCU\\Software\\ZStubUtilsTest", "missing", "<def>"},
      {"HKCU\\Software\\ZStubUtilsTest\\NoSuchKey", "sz", "<def>"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.path) + " " + r.name);
    EXPECT_EQ(ReadRegString(r.path, r.name, "<def>"), r.want);
  }
}

TEST_F(RegistryRead, WriteThenRead) {
  EXPECT_TRUE(WriteRegString("HKCU\\Software\\ZStubUtilsTest", "w", "value 1"));
  EXPECT_EQ(ReadRegString("HKCU\\Software\\ZStubUtilsTest", "w", ""), "value 1");
}

class IniFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[MAX_PATH], name[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "zsi", 0, name);
    path_ = name;
  }
  void TearDown() override { DeleteFileA(path_.c_str()); }
  std::string path_;
};

TEST_F(IniFile, RoundTrip) {
  EXPECT_TRUE(WriteIniString(path_, "AutoUpdate", "Version", "1.2.3"));
  EXPECT_TRUE(WriteIniInt(path_, "AutoUpdate", "LastCheck", 3913737600LL));
  EXPECT_TRUE(WriteIniString(path_, "AutoUpdate", "Word", "abc"));
  EXPECT_EQ(ReadIniString(path_, "AutoUpdate", "Version", "d"), "1.2.3");
  EXPECT_EQ(ReadIniString(path_, "autoupdate", "VERSION", "d"), "1.2.3");
  EXPECT_EQ(ReadIniString(path_, "AutoUpdate", "Missing", "d"), "d");
  EXPECT_EQ(ReadIniString(path_, "Other", "Version", ""), "");
  EXPECT_EQ(ReadIniInt(path_, "AutoUpdate", "LastCheck", -1), 3913737600LL);  // beyond 32 bits
  EXPECT_EQ(ReadIniInt(path_, "AutoUpdate", "Word", -1), -1);
  EXPECT_EQ(ReadIniInt(path_, "AutoUpdate", "Missing", 77), 77);
}

TEST_F(IniFile, LongValueIsCut) {
  ASSERT_TRUE(WriteIniString(path_, "S", "K", std::string(12000, 'v')));
  EXPECT_EQ(ReadIniString(path_, "S", "K", ""), std::string(10240, 'v'));
}

TEST(SystemInfo, LastErrorText) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  std::string t = LastErrorText();
  EXPECT_FALSE(t.empty());
  EXPECT_NE(t.back(), '\n');
  EXPECT_EQ(t.find("Error Reading"), std::string::npos);
  SetLastError(0x2FFFFFF0u);  // no such system message
  EXPECT_EQ(LastErrorText(), "Error Reading \"SysUtils.SysErrorMessage(GetLastError)\"");
}

TEST(SystemInfo, FoldersAndLibraries) {
  std::string sys = SystemDir(true);
  ASSERT_GE(sys.size(), 4u);
  EXPECT_EQ(sys.back(), '\\');
  EXPECT_EQ(SystemDir(false) + "\\", sys);
  EXPECT_EQ(TempDir(true).back(), '\\');
  EXPECT_EQ(WindowsDir(false).back() == '\\', false);

  HMODULE lib = nullptr;
  EXPECT_NE(DynamicFunction("version.dll", "GetFileVersionInfoSizeA", &lib), nullptr);
  EXPECT_NE(lib, nullptr);
  EXPECT_EQ(DynamicFunction("version.dll", "NoSuchFunction"), nullptr);
  EXPECT_EQ(DynamicFunction("zs-no-such-library.dll", "X", &lib), nullptr);
  EXPECT_EQ(lib, nullptr);
  EXPECT_TRUE(IsNtPlatform());
}

TEST(MessageFlow, PumpSteps) {
  struct Row {
    DWORD total, step, want;
  } rows[] = {{100, 0, 10}, {1000, 0, 25}, {5, 0, 1}, {0, 0, 1}, {250, 0, 25}, {100, 7, 7}};
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.total) + "/" + std::to_string(r.step));
    EXPECT_EQ(PumpStepFor(r.total, r.step), r.want);
  }
}

int g_seen = 0;
LRESULT CALLBACK CountingProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_APP + 5) {
    ++g_seen;
    return 0;
  }
  return DefWindowProcA(w, m, wp, lp);
}

TEST(MessageFlow, PumpDispatchesWaitsAndKeepsQuit) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = CountingProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "ZsPumpTest";
  RegisterClassA(&wc);
  HWND w = CreateWindowA("ZsPumpTest", "", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(w, nullptr);

  g_seen = 0;
  PostMessageA(w, WM_APP + 5, 0, 0);
  DWORD t0 = GetTickCount();
  PumpMessagesFor(60, 0);
  EXPECT_GE(GetTickCount() - t0, 60u);
  EXPECT_EQ(g_seen, 1);

  // A quit met during a wait must still reach the main loop.
  PostMessageA(w, WM_APP + 5, 0, 0);
  PostQuitMessage(7);
  ProcessPendingMessages(0);
  EXPECT_EQ(g_seen, 2);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, UINT(WM_QUIT));
  EXPECT_EQ(msg.wParam, WPARAM(7));
  DestroyWindow(w);
}

TEST(MessageFlow, AutoPlayCancel) {
  SetAutoPlayCancel(true);
  EXPECT_EQ(QueryCancelAutoPlayMsg(), RegisterWindowMessageA("QueryCancelAutoPlay"));
  EXPECT_NE(QueryCancelAutoPlayMsg(), 0u);
  SetAutoPlayCancel(false);
  EXPECT_EQ(QueryCancelAutoPlayMsg(), 0u);
}

// ---- debug channel through a viewer window in this process ----

std::vector<std::string> g_viewed;
UINT g_debugMsg = 0;
LRESULT CALLBACK ViewerProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (g_debugMsg && m == g_debugMsg && wp == 1) {
    char buf[1024];
    UINT n = GlobalGetAtomNameA(ATOM(lp), buf, sizeof buf);
    g_viewed.emplace_back(buf, n);
    return 0;
  }
  return DefWindowProcA(w, m, wp, lp);
}

TEST(DebugChannelWin, ViewerReceivesPiecesAsAtoms) {
  InstallDebugChannel();
  DebugLine("before any viewer");  // discarded, must not fail
  g_debugMsg = RegisterWindowMessageA(".Z_DebugMsg.");
  WNDCLASSA wc = {};
  wc.lpfnWndProc = ViewerProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = ".ZDebug.";
  RegisterClassA(&wc);
  HWND w = CreateWindowA(".ZDebug.", "", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(w, nullptr);

  g_viewed.clear();
  std::string line(200, 'L');
  DebugLine(line);
  DebugLine("short");
  DestroyWindow(w);
  UnregisterClassA(".ZDebug.", wc.hInstance);
  SetDebugSender(nullptr);

  ASSERT_EQ(g_viewed.size(), 3u);
  EXPECT_EQ(g_viewed[0], std::string(128, 'L'));
  EXPECT_EQ(g_viewed[1], std::string(72, 'L') + "\r\n");
  EXPECT_EQ(g_viewed[2], "short\r\n");
  // The atoms were deleted again after each send.
  EXPECT_EQ(GlobalFindAtomA("short\r\n"), ATOM(0));
}

TEST(LogFileWin, SharedAppend) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  std::string path = std::string(dir) + "zs_shared_append.log";
  DeleteFileA(path.c_str());

  EXPECT_TRUE(AppendSharedFile(path, "one\r\n"));  // creates the file
  // Another process holding the file open for reading and writing does not
  // keep a line out.
  HANDLE other = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(AppendSharedFile(path, "two\r\n"));
  CloseHandle(other);

  // An exclusive holder makes the line disappear quietly.
  HANDLE excl = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(excl, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(AppendSharedFile(path, "lost\r\n"));
  CloseHandle(excl);

  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  f.close();
  EXPECT_EQ(ss.str(), "one\r\ntwo\r\n");
  DeleteFileA(path.c_str());
}

}  // namespace
