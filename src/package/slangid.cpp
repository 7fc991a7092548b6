#include "package/slangid.h"

#include "paths/platform.h"
#include "paths/utils.h"

namespace {
struct Entry {
  const char* name;
  const char* number;
};
// Primary language numbers; the last eight are full language identifiers.
const Entry kEntries[] = {
    {"AFRIKAANS", "54"},   {"ALBANIAN", "28"},   {"ARABIC", "01"},     {"BASQUE", "45"},
    {"BELARUSIAN", "35"},  {"BULGARIAN", "02"},  {"CATALAN", "03"},    {"CHINESE", "04"},
    {"CROATIAN", "26"},    {"CZECH", "05"},      {"DANISH", "06"},     {"DUTCH", "19"},
    {"ENGLISH", "09"},     {"ESTONIAN", "37"},   {"FAEROESE", "56"},   {"FARSI", "41"},
    {"FINNISH", "11"},     {"FRENCH", "12"},     {"GERMAN", "07"},     {"GREEK", "08"},
    {"HEBREW", "13"},      {"HUNGARIAN", "14"},  {"ICELANDIC", "15"},  {"INDONESIAN", "33"},
    {"ITALIAN", "16"},     {"JAPANESE", "17"},   {"KOREAN", "18"},     {"LATVIAN", "38"},
    {"LITHUANIAN", "39"},  {"NORWEGIAN", "20"},  {"POLISH", "21"},     {"PORTUGUESE", "22"},
    {"ROMANIAN", "24"},    {"RUSSIAN", "25"},    {"SERBIAN", "26"},    {"SLOVAK", "27"},
    {"SLOVENIAN", "36"},   {"SPANISH", "10"},    {"SWEDISH", "29"},    {"THAI", "30"},
    {"TURKISH", "31"},     {"UKRAINIAN", "34"},  {"VIETNAMESE", "42"},
    {"CHINESE(SIMPLIFIED)", "2052"},  {"CHINESE(TRADITIONAL)", "1028"}, {"DUTCH(FLEMISH)", "2067"},
    {"DUTCH(STANDARD)", "1043"},      {"PORTUGUESE(PORTUGAL)", "2070"}, {"PORTUGUESE(BRAZIL)", "1046"},
    {"SERBIAN(LATIN)", "2074"},       {"SERBIAN(CYRILIC)", "3098"},
};

std::string BuildTable() {
  std::string t = "|";
  for (const Entry& e : kEntries) {
    std::string name = e.name;
    // Short names pad to one column, the compound names to a wider one.
    size_t column = std::string(e.number).size() > 2 ? 21 : 13;
    if (name.size() < column) name.append(column - name.size(), ' ');
    t += name + "= " + e.number + "|";
  }
  return t;
}
}  // namespace

const std::string& LanguageTable() {
  static const std::string table = BuildTable();
  return table;
}

std::string LanguageNameForNumber(uint32_t primaryLanguage) {
  std::string digits = std::to_string(primaryLanguage);
  if (digits.size() < 2) digits = "0" + digits;
  const std::string& table = LanguageTable();
  int count = ListCount(table);
  // A containment test on the whole item: the first item that holds the
  // digits wins, so 26 is CROATIAN and 43 is found inside 1043.
  for (int i = 0; i < count; ++i) {
    std::string item = ListItem(table, i, "");
    if (item.find(digits) != std::string::npos) return Trim(TextBefore(item, "=", item));
  }
  return "";
}

std::string SystemLanguageName() {
  uint32_t lcid = Platform().threadLocale ? Platform().threadLocale() : 0;
  uint32_t primary = lcid ? (lcid & 0x3FF) : 9;
  return LanguageNameForNumber(primary);
}
