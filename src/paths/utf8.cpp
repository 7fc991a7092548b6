#include "paths/utf8.h"

namespace {
// Decodes one code point at s[i]; returns its length, or 0 when the bytes
// there are not strict UTF-8.
size_t DecodeOne(std::string_view s, size_t i, uint32_t& cp) {
  const uint8_t b0 = uint8_t(s[i]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  size_t len = 0;
  uint32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    cp = b0 & 0x1Fu;
    min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    cp = b0 & 0x0Fu;
    min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    cp = b0 & 0x07u;
    min = 0x10000;
  } else {
    return 0;  // a continuation byte, C0/C1 (always overlong) or F5..FF
  }
  if (s.size() - i < len) return 0;
  for (size_t k = 1; k < len; ++k) {
    const uint8_t b = uint8_t(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}
}  // namespace

bool IsValidUtf8(std::string_view s) {
  uint32_t cp = 0;
  for (size_t i = 0; i < s.size();) {
    size_t n = DecodeOne(s, i, cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (uint8_t(c) >= 0x80) return false;
  return true;
}

bool Utf8ToUtf16(std::string_view s, std::u16string& out) {
  out.clear();
  out.reserve(s.size());
  uint32_t cp = 0;
  for (size_t i = 0; i < s.size();) {
    size_t n = DecodeOne(s, i, cp);
    if (n == 0) {
      out.clear();
      return false;
    }
    i += n;
    if (cp < 0x10000) {
      out.push_back(char16_t(cp));
    } else {
      cp -= 0x10000;
      out.push_back(char16_t(0xD800 + (cp >> 10)));
      out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    }
  }
  return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  // What cannot be a character becomes U+FFFD: the output is always strict UTF-8.
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(char(cp));
  } else if (cp < 0x800) {
    out.push_back(char(0xC0 | (cp >> 6)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(char(0xE0 | (cp >> 12)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (cp >> 18)));
    out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  }
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (uint32_t(s[i + 1]) - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}
