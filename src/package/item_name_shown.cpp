#include "package/item_name_shown.h"

#include <cstdint>
#include <cstdio>

#include "paths/utf8.h"

namespace {
std::string Escaped(const std::string& s, bool keepHighBytes) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    const uint8_t b = uint8_t(c);
    if (b < 0x20 || b == 0x7F || (b >= 0x80 && !keepHighBytes)) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", b);
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}
}  // namespace

std::string ShownUtf8(const std::string& s) { return Escaped(s, IsValidUtf8(s)); }

std::string ShownItemName(const std::string& stored, NameEncoding encoding) {
  return encoding == NameEncoding::Utf8 ? ShownUtf8(stored) : Escaped(stored, false);
}
