#include "process/initext.h"

#include "paths/utf8.h"
#include "paths/utils.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string TrimmedPart(const std::string& s, size_t from, size_t to) {
  while (from < to && IsBlank(s[from])) ++from;
  while (to > from && IsBlank(s[to - 1])) --to;
  return s.substr(from, to - from);
}

std::string FromUtf16(const std::string& bytes, size_t from, bool bigEndian) {
  std::u16string units;
  for (size_t i = from; i + 1 < bytes.size(); i += 2) {
    unsigned char a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    units.push_back(char16_t(bigEndian ? (a << 8 | b) : (b << 8 | a)));
  }
  return Utf16ToUtf8(units);
}

}  // namespace

IniText IniText::Parse(const std::string& bytes) {
  IniText ini;
  std::string text;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    text = FromUtf16(bytes, 2, false);
    ini.utf8_ = true;
  } else if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
    text = FromUtf16(bytes, 2, true);
    ini.utf8_ = true;
  } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text = bytes.substr(3);
    ini.utf8_ = true;
  } else {
    text = bytes;
  }
  // Keys before the first section belong to no section and are never found.
  Section* current = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    size_t a = pos, b = end;
    pos = end + 1;
    while (a < b && IsBlank(text[a])) ++a;
    while (b > a && IsBlank(text[b - 1])) --b;
    if (a == b) continue;
    if (text[a] == '[') {
      size_t close = text.rfind(']', b - 1);
      if (close != std::string::npos && close > a) {
        ini.sections_.push_back({TrimmedPart(text, a + 1, close), {}});
        current = &ini.sections_.back();
        continue;
      }
    }
    // A line without "=" is no key: the profile functions give the default for it.
    size_t eq = text.find('=', a);
    if (!current || eq == std::string::npos || eq >= b) continue;
    current->entries.push_back({TrimmedPart(text, a, eq), TrimmedPart(text, eq + 1, b)});
  }
  return ini;
}

bool IniText::Find(const std::string& section, const std::string& key, std::string& value) const {
  std::string s = TrimmedPart(section, 0, section.size()), k = TrimmedPart(key, 0, key.size());
  for (const Section& sec : sections_) {
    if (!SameText(sec.name, s)) continue;
    for (const Entry& e : sec.entries) {
      if (!SameText(e.key, k)) continue;
      value = e.value;
      if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
      return true;
    }
    return false;  // only the first section of a name counts
  }
  return false;
}

std::string IniText::Get(const std::string& section, const std::string& key, const std::string& def) const {
  std::string v;
  return Find(section, key, v) ? v : def;
}
