#include "paths/pathio.h"

#include "paths/utf8.h"

#ifdef _WIN32
bool WidePathFor(const std::string& path, std::wstring& wide) {
  std::u16string units;
  if (IsAscii(path) || !Utf8ToUtf16(path, units)) return false;
  wide.assign(units.begin(), units.end());
  return true;
}
#endif

bool RemovePath(const std::string& path) {
#ifdef _WIN32
  std::wstring wide;
  if (WidePathFor(path, wide)) return _wremove(wide.c_str()) == 0;
#endif
  return std::remove(path.c_str()) == 0;
}

std::FILE* OpenPath(const std::string& path, const char* mode) {
#ifdef _WIN32
  // A path that is not UTF-8 came from an 8-bit source: the ANSI fopen reads it as before.
  std::wstring wide;
  if (WidePathFor(path, wide)) {
    std::wstring wideMode;
    for (const char* m = mode; *m; ++m) wideMode.push_back(wchar_t(static_cast<unsigned char>(*m)));
    return _wfopen(wide.c_str(), wideMode.c_str());
  }
#endif
  return std::fopen(path.c_str(), mode);
}
