// Code pages through the system's converter. WC_NO_BEST_FIT_CHARS and the
// used-default flag keep Windows from writing a look-alike or "?" for a
// character the code page lacks.
#include <windows.h>

#include <string>

#include "textcodec.h"

struct CodePageConverter {
  UINT codePage = 0;
};

namespace {
bool ToWide(UINT codePage, std::string_view in, std::wstring& out) {
  out.clear();
  if (in.empty()) return true;
  int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), nullptr, 0);
  if (n <= 0) return false;
  out.resize(size_t(n));
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), out.data(), n) == n;
}
}  // namespace

CodePageConverter* OpenCodePage(int codePage) {
  if (codePage <= 0 || !IsValidCodePage(UINT(codePage))) return nullptr;
  auto* c = new CodePageConverter;
  c->codePage = UINT(codePage);
  return c;
}

bool EncodeChar(CodePageConverter* c, std::string_view utf8Char, std::string& bytes) {
  bytes.clear();
  std::wstring wide;
  if (!ToWide(CP_UTF8, utf8Char, wide) || wide.empty()) return false;
  char buf[16];
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(c->codePage, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), buf, sizeof buf,
                              nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return false;
  bytes.assign(buf, size_t(n));
  // Only a character that reads back the same is the code page's own.
  std::wstring again;
  return ToWide(c->codePage, bytes, again) && again == wide;
}

void CloseCodePage(CodePageConverter* c) { delete c; }
