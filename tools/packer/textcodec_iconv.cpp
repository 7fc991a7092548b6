// Code pages through the C library's iconv. The converters are opened by
// explicit names ("CP1252", "CP932", ...), so the locale the packer runs in
// plays no part.
#include <iconv.h>

#include <cerrno>
#include <string>

#include "textcodec.h"

struct CodePageConverter {
  iconv_t to = iconv_t(-1);    // UTF-8 -> code page
  iconv_t back = iconv_t(-1);  // code page -> UTF-8
};

namespace {
// All of in through cd, the converter's held state flushed at the end; false
// on any failure and also when iconv reports an irreversible (substituted)
// conversion.
bool Run(iconv_t cd, std::string_view in, std::string& out) {
  out.clear();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // start from the initial state
  char buf[64];
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = buf;
  size_t dstLeft = sizeof buf;
  size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  if (r != 0 || srcLeft != 0) return false;  // size_t(-1) on errors, else the count
  // Stateful code pages (1258 composes tone marks) may still hold a character.
  if (iconv(cd, nullptr, nullptr, &dst, &dstLeft) == size_t(-1)) return false;
  out.assign(buf, size_t(dst - buf));
  return true;
}
}  // namespace

CodePageConverter* OpenCodePage(int codePage) {
  if (codePage <= 0) return nullptr;
  std::string name = "CP" + std::to_string(codePage);
  auto* c = new CodePageConverter;
  c->to = iconv_open(name.c_str(), "UTF-8");
  c->back = iconv_open("UTF-8", name.c_str());
  if (c->to == iconv_t(-1) || c->back == iconv_t(-1)) {
    CloseCodePage(c);
    return nullptr;
  }
  return c;
}

bool EncodeChar(CodePageConverter* c, std::string_view utf8Char, std::string& bytes) {
  // glibc maps a few characters one way only (CP932 writes U+00A5 as 0x5C,
  // which reads back as a backslash): only a character that comes back the
  // same is the code page's own.
  std::string again;
  return Run(c->to, utf8Char, bytes) && !bytes.empty() && Run(c->back, bytes, again) && again == utf8Char;
}

void CloseCodePage(CodePageConverter* c) {
  if (!c) return;
  if (c->to != iconv_t(-1)) iconv_close(c->to);
  if (c->back != iconv_t(-1)) iconv_close(c->back);
  delete c;
}
