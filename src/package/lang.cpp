#include "package/lang.h"

#include "package/slangid.h"
#include "paths/utils.h"

namespace {
std::string g_chosen;

std::string FindSection(const std::string& block, const std::string& name) {
  int count = ListCount(block);
  if (count == 1) return ListItem(block, 0, "");
  for (int i = 0; i < count; ++i) {
    std::string section = ListItem(block, i, "");
    if (!section.empty() && SameTextTrim(ListItem(section, 0, ""), name)) return section;
  }
  return "";
}
}  // namespace

const std::string& ChosenLanguage() { return g_chosen; }

void ResetChosenLanguage() { g_chosen.clear(); }

std::string ChooseLanguageSection(const std::string& langBlock, const std::string& systemName) {
  std::string section = FindSection(langBlock, systemName);
  if (section.empty()) section = FindSection(langBlock, "English");
  return section.empty() ? "*" : section;
}

std::string SectionText(const std::string& section, const std::string& key, const std::string& def) {
  if (section.size() <= 1) return def;
  return ListValue(section, key, def, "");
}

std::string LangText(const std::string& langBlock, const std::string& key, const std::string& def) {
  if (g_chosen.empty()) g_chosen = ChooseLanguageSection(langBlock, SystemLanguageName());
  return SectionText(g_chosen, key, def);
}
