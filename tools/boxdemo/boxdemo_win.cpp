// boxdemo: shows the program's message box from command-line options and
// reports what the user chose.
//
//   boxdemo [/kind=box|error|attention|yesno|okcancel] [/owner=0|1|2|<handle>|window]
//           [/text=<markup>] [/textfile=<file>] [/title=<text>] [/timeout=<ms>]
//           [/style=<number or 0xhex>] [/charset=<n>] [/buttons=<|-list>]
//           [/font=<face>] [/size=<points>] [/fontcharset=<n>] [/ownerwin]
//           [/preload] [/autoplay] [/result=<file>] [/report=<file>]
//   boxdemo /script=<file> [/result=<file>] [/report=<file>]
//   boxdemo /kind=inform [/title=<text>] [/button=<caption>] [/link=<link>]
//           [/text=<body>] [/textfile=<file>] [/width=<px>] [/height=<px>]
//           [/font=<face>] [/size=<points>] [/charset=<n>] [/rtl]
//           [/owner=window] [/quitafter=<ms>] [/result=<file>] [/report=<file>]
//
// Each script line holds the options of one box, separated by tabs; the
// boxes are shown one after the other. /result gets one result number per
// box; /report gets "result=.. owner_enabled=.. owner_active=.." lines.
// The exit code is the result of the last box.
//
// /kind=inform shows the inform window instead (ShowInformWindow) and prints
// "inform=1" or "inform=0"; its result number is 1 or 0. /quitafter posts a
// quit request while the window is open; the report line then says
// "quit=<code>" when the request was handed back, else "quit=none".
#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "dialogs/stubinformdlg_win.h"
#include "dialogs/zmsgbox_win.h"
#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/zdebug_win.h"

namespace {

using Options = std::map<std::string, std::string>;

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  for (const std::string& a : args) {
    if (a.empty() || a[0] != '/') continue;
    size_t eq = a.find('=');
    std::string key = LowerCase(a.substr(1, eq == std::string::npos ? std::string::npos : eq - 1));
    o[key] = eq == std::string::npos ? "1" : a.substr(eq + 1);
  }
  return o;
}

std::string Opt(const Options& o, const char* key, const std::string& def = "") {
  auto it = o.find(key);
  return it == o.end() ? def : it->second;
}

int64_t OptInt(const Options& o, const char* key, int64_t def) {
  std::string v = Trim(Opt(o, key));
  if (v.empty()) return def;
  if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) return static_cast<int64_t>(HexToInt(v));
  return StrToInt64Def(v, def);
}

std::string ReadWholeFile(const std::string& path) {
  std::string data;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return data;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
  fclose(f);
  return data;
}

void AppendLine(const std::string& path, const std::string& line) {
  if (path.empty()) return;
  FILE* f = fopen(path.c_str(), "ab");
  if (!f) return;
  fputs((line + "\r\n").c_str(), f);
  fclose(f);
}

HWND g_Owner = nullptr;

HWND OwnerWindow() {
  if (g_Owner && IsWindow(g_Owner)) return g_Owner;
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = "ZBoxDemoOwner";
  RegisterClassA(&wc);
  g_Owner = CreateWindowExA(0, "ZBoxDemoOwner", "Box demo owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 300, 200,
                            nullptr, nullptr, wc.hInstance, nullptr);
  SetForegroundWindow(g_Owner);
  SetActiveWindow(g_Owner);
  ProcessPendingMessages(0);
  return g_Owner;
}

std::string g_QuitNote;  // report note of the last inform window

void CALLBACK PostQuitNow(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  PostQuitMessage(7);
}

int ShowInform(const Options& o, const std::string& text) {
  HWND owner = SameText(Opt(o, "owner"), "window") ? OwnerWindow() : nullptr;
  const int quitAfter = static_cast<int>(OptInt(o, "quitafter", 0));
  if (quitAfter > 0) SetTimer(nullptr, 0, static_cast<UINT>(quitAfter), PostQuitNow);
  const bool shown = ShowInformWindow(owner, Opt(o, "title", "New Version"), Opt(o, "button", "Download"),
                                      static_cast<int>(OptInt(o, "charset", DEFAULT_CHARSET)),
                                      static_cast<int>(OptInt(o, "size", 8)), Opt(o, "font", "Tahoma"),
                                      o.count("rtl") != 0, static_cast<int>(OptInt(o, "height", 360)),
                                      static_cast<int>(OptInt(o, "width", 360)), Opt(o, "link"), text);
  if (quitAfter > 0) {
    MSG m;
    g_QuitNote = PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) ? " quit=" + IntToStr(m.wParam) : " quit=none";
  }
  printf("inform=%d\n", shown ? 1 : 0);
  fflush(stdout);
  return shown ? 1 : 0;
}

int ShowOne(const Options& o) {
  if (o.count("font") || o.count("size") || o.count("fontcharset"))
    SetMsgBoxFont(Opt(o, "font", "Tahoma"), static_cast<int>(OptInt(o, "size", 0)),
                  static_cast<int>(OptInt(o, "fontcharset", DEFAULT_CHARSET)));
  std::string text = Opt(o, "text");
  if (o.count("textfile")) text = ReadWholeFile(Opt(o, "textfile"));
  const std::string title = Opt(o, "title");
  const int timeout = static_cast<int>(OptInt(o, "timeout", 0));
  const uint32_t style = static_cast<uint32_t>(OptInt(o, "style", 0));
  const int charset = static_cast<int>(OptInt(o, "charset", 0));
  const std::string buttons = Opt(o, "buttons", kDefaultButtonTexts);
  const std::string ownerText = Opt(o, "owner", "1");

  intptr_t ownerCode;
  if (SameText(ownerText, "window")) {
    ownerCode = reinterpret_cast<intptr_t>(OwnerWindow());
  } else {
    if (o.count("ownerwin")) OwnerWindow();
    ownerCode = static_cast<intptr_t>(OptInt(o, "owner", 1));
  }

  const std::string kind = LowerCase(Opt(o, "kind", "box"));
  if (kind == "inform") return ShowInform(o, text);
  // The wrappers fill in empty titles and button lists themselves.
  const std::string kindButtons = Opt(o, "buttons");
  if (kind == "error") {
    ErrorMsg(ownerCode, text, title, charset, kindButtons);
    return 0;
  }
  if (kind == "attention") {
    AttentionMsg(ownerCode, text, title, timeout, charset, kindButtons);
    return 0;
  }
  if (kind == "yesno") return ConfirmYesNo(ownerCode, text, title, timeout, charset, kindButtons) ? 1 : 0;
  if (kind == "okcancel") return ConfirmOkCancel(ownerCode, text, title, charset, kindButtons) ? 1 : 0;
  return ShowMsgBox(ownerCode, text, title, timeout, style, charset, buttons);
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    size_t at = line.find('\t', from);
    parts.push_back(line.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) break;
    from = at + 1;
  }
  return parts;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  InitWin32Utils();
  InstallDebugChannel();  // the inform window's link lines reach a debug viewer
  std::vector<std::string> args(__argv + 1, __argv + __argc);
  const Options global = ParseOptions(args);
  if (global.count("preload")) PreloadLibraries();
  if (global.count("autoplay")) SetAutoPlayCancel(true);
  const std::string resultFile = Opt(global, "result");
  const std::string reportFile = Opt(global, "report");

  std::vector<Options> boxes;
  if (global.count("script")) {
    std::string script = ReadWholeFile(Opt(global, "script"));
    script = ReplaceText(script, "\r", "");
    size_t from = 0;
    while (from <= script.size()) {
      size_t at = script.find('\n', from);
      std::string line = script.substr(from, at == std::string::npos ? std::string::npos : at - from);
      if (!Trim(line).empty() && line[0] != '#') boxes.push_back(ParseOptions(SplitTabs(line)));
      if (at == std::string::npos) break;
      from = at + 1;
    }
  } else {
    boxes.push_back(global);
  }

  if (!resultFile.empty()) DeleteFileA(resultFile.c_str());
  int result = 0;
  for (const Options& o : boxes) {
    result = ShowOne(o);
    AppendLine(resultFile, IntToStr(result));
    if (!reportFile.empty()) {
      std::string line = "result=" + IntToStr(result) + g_QuitNote;
      if (g_Owner) {
        line += " owner_enabled=" + std::string(IsWindowEnabled(g_Owner) ? "1" : "0");
        line += " owner_active=" + std::string(GetActiveWindow() == g_Owner ? "1" : "0");
      }
      AppendLine(reportFile, line);
    }
  }
  if (g_Owner) DestroyWindow(g_Owner);
  return result;
}
