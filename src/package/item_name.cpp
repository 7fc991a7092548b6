#include "package/item_name.h"

#include "paths/utf8.h"
#include "paths/utils.h"

NameEncoding ItemNameEncoding(const std::string& header) {
  return ListItem(header, 2, "") == kUtf8NameMark ? NameEncoding::Utf8 : NameEncoding::Ansi;
}

std::string ItemHeader(const std::string& nameField, uint32_t dosTime, NameEncoding encoding) {
  std::string h = "|" + nameField + "|" + std::to_string(dosTime) + "|";
  if (encoding == NameEncoding::Utf8) h += std::string(kUtf8NameMark) + "|";
  return h;
}

NameEncoding EncodingForSourceName(const std::string& utf8Name) {
  return IsAscii(utf8Name) ? NameEncoding::Ansi : NameEncoding::Utf8;
}

bool DecodeItemName(const std::string& stored, NameEncoding encoding, std::string (*ansiToPath)(const std::string&),
                    std::string& out) {
  out.clear();
  if (encoding == NameEncoding::Utf8) {
    if (!IsValidUtf8(stored)) return false;
    out = stored;
    return true;
  }
  out = ansiToPath && !IsAscii(stored) ? ansiToPath(stored) : stored;
  return true;
}
