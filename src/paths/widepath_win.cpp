#include "paths/widepath_win.h"

#include <vector>

#include "paths/utf8.h"

namespace {
std::wstring Widen(UINT codePage, const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring w(size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), w.data(), n);
  return w;
}
}  // namespace

std::wstring WidePath(const std::string& path) { return Widen(IsValidUtf8(path) ? CP_UTF8 : CP_ACP, path); }

std::string PathFromWide(const wchar_t* text, int length) {
  if (!text) return std::string();
  if (length < 0) length = int(wcslen(text));
  std::u16string u(reinterpret_cast<const char16_t*>(text), size_t(length));
  return Utf16ToUtf8(u);
}

std::string PathFromAnsi(const std::string& ansi) {
  if (IsAscii(ansi)) return ansi;
  std::wstring w = Widen(CP_ACP, ansi);
  return w.empty() ? ansi : PathFromWide(w.data(), int(w.size()));
}

std::string PathInCodePage(const std::string& path, UINT codePage, bool* exact) {
  if (exact) *exact = true;
  if (IsAscii(path)) return path;
  std::wstring w = WidePath(path);
  BOOL usedDefault = FALSE;
  // CP_UTF7/8 refuse the default-character arguments; they are never asked for here.
  int n =
      WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, w.data(), int(w.size()), nullptr, 0, nullptr, &usedDefault);
  std::string out(size_t(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, w.data(), int(w.size()), out.data(), n, nullptr, &usedDefault);
  if (exact) *exact = n > 0 && !usedDefault;
  return out;
}

std::string ShortPathOf(const std::string& path) {
  std::wstring w = WidePath(path);
  DWORD n = GetShortPathNameW(w.c_str(), nullptr, 0);
  if (n == 0) return std::string();
  std::vector<wchar_t> buf(n + 1);
  DWORD got = GetShortPathNameW(w.c_str(), buf.data(), n + 1);
  if (got == 0 || got > n) return std::string();
  return PathFromWide(buf.data(), int(got));
}

std::string AnsiReadablePath(const std::string& path) {
  bool exact = false;
  PathInCodePage(path, CP_ACP, &exact);
  if (exact) return path;
  std::string s = ShortPathOf(path);
  if (!s.empty()) {
    PathInCodePage(s, CP_ACP, &exact);
    if (exact) return s;
  }
  return path;
}

std::wstring WideFromAnsi(const std::string& text) { return Widen(CP_ACP, text); }

std::string AnsiFromWide(const wchar_t* text, int length) {
  if (!text) return std::string();
  if (length < 0) length = int(wcslen(text));
  if (length == 0) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), n, nullptr, nullptr);
  return out;
}

std::string LineForAnsiReader(const std::string& line) {
  if (IsAscii(line) || !IsValidUtf8(line)) return line;
  bool exact = false;
  std::string ansi = PathInCodePage(line, CP_ACP, &exact);
  return exact ? ansi : line;
}
