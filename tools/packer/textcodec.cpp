#include "textcodec.h"

#include <cstdio>
#include <memory>

#include "paths/utf8.h"

int CodePageOfCharset(int charset) {
  // The fixed code pages of the Windows font charsets.
  static const struct {
    int charset, codePage;
  } kTable[] = {
      {0, 1252},   {238, 1250}, {204, 1251}, {161, 1253}, {162, 1254}, {177, 1255}, {178, 1256},
      {186, 1257}, {163, 1258}, {222, 874},  {128, 932},  {134, 936},  {129, 949},  {136, 950},
  };
  for (const auto& e : kTable)
    if (e.charset == charset) return e.codePage;
  return 0;
}

size_t Utf8CharLength(std::string_view s, size_t i) {
  // Strict UTF-8 has no valid proper prefix of a character, so the shortest
  // valid piece is the character.
  for (size_t n = 1; n <= 4 && i + n <= s.size(); ++n)
    if (IsValidUtf8(s.substr(i, n))) return n;
  return 0;
}

std::string CodePointLabel(std::string_view utf8Char) {
  std::u16string u;
  if (!Utf8ToUtf16(utf8Char, u) || u.empty()) return "U+?";
  uint32_t cp = u[0];
  if (u.size() >= 2 && cp >= 0xD800 && cp <= 0xDBFF) cp = 0x10000 + ((cp - 0xD800) << 10) + (uint32_t(u[1]) - 0xDC00);
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", unsigned(cp));
  return buf;
}

bool ConvertUtf8ToCodePage(const std::string& utf8, int codePage, std::string& out, std::string& badChar) {
  out.clear();
  badChar.clear();
  if (!IsValidUtf8(utf8)) return false;
  std::unique_ptr<CodePageConverter, void (*)(CodePageConverter*)> conv(OpenCodePage(codePage), CloseCodePage);
  if (!conv) return false;
  // One character at a time, so that the one the code page lacks can be named.
  std::string bytes;
  for (size_t i = 0; i < utf8.size();) {
    size_t n = Utf8CharLength(utf8, i);
    std::string_view ch(utf8.data() + i, n);
    if (!EncodeChar(conv.get(), ch, bytes)) {
      badChar.assign(ch);
      out.clear();
      return false;
    }
    out += bytes;
    i += n;
  }
  return true;
}
