// The language-name table and the name of the user's language.
#pragma once
#include <cstdint>
#include <string>

// "|AFRIKAANS    = 54|...|SERBIAN(CYRILIC)     = 3098|" (51 items).
const std::string& LanguageTable();
// Table name for a primary language number (first item containing its
// two-digit-or-longer decimal text), or empty text.
std::string LanguageNameForNumber(uint32_t primaryLanguage);
// Table name for the thread locale (English when no locale is reported).
std::string SystemLanguageName();
