// Language texts: the section of the language block chosen once per process
// from the user's locale, and key lookup with a built-in default.
#pragma once
#include <string>

// The chosen section text, "*" when no section fits, empty before the first lookup.
const std::string& ChosenLanguage();
// Forgets the choice (tests only: the program chooses once per process).
void ResetChosenLanguage();
// The section of the block for a language name (the system's, by default
// rule): exact name, then "English"; a block with one section always gives
// that section. "*" when nothing fits.
std::string ChooseLanguageSection(const std::string& langBlock, const std::string& systemName);
// Value of a key in one section; a key with an empty value gives empty text,
// a missing key the default.
std::string SectionText(const std::string& section, const std::string& key, const std::string& def);
// GetLangText over a language block: chooses the section on first use.
std::string LangText(const std::string& langBlock, const std::string& key, const std::string& def);
