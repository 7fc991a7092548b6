// Language texts leave the packer in the 8-bit code page that the stub's
// fonts show them in. The manifest is UTF-8; the system's own converter
// (iconv natively, the Win32 functions on Windows) makes the code-page bytes,
// and a character the code page lacks is refused, never replaced.
#pragma once
#include <string>
#include <string_view>

// The code page of a font charset value (a language's "Charset" text):
// 0 -> 1252, 204 -> 1251, 128 -> 932, ... 0 when the charset has no fixed
// code page (DEFAULT 1, SYMBOL 2, OEM 255, unknown values).
int CodePageOfCharset(int charset);

// UTF-8 -> bytes of the code page. False when a character has no exact
// counterpart there (badChar holds it, in UTF-8); false with badChar empty
// when utf8 is not strict UTF-8 or the system has no converter for codePage.
bool ConvertUtf8ToCodePage(const std::string& utf8, int codePage, std::string& out, std::string& badChar);

// Length of the strict UTF-8 character at s[i]; 0 when the bytes there are
// not one.
size_t Utf8CharLength(std::string_view s, size_t i);
// "U+00F6" for the character "ö" (given in UTF-8).
std::string CodePointLabel(std::string_view utf8Char);

// ---- the platform's converter (textcodec_iconv.cpp, textcodec_win.cpp) ----
struct CodePageConverter;
// Null when the system cannot convert to codePage.
CodePageConverter* OpenCodePage(int codePage);
// One character (its UTF-8 bytes) -> its bytes in the code page; false unless
// the code page holds exactly that character (it must convert back the same).
bool EncodeChar(CodePageConverter* converter, std::string_view utf8Char, std::string& bytes);
void CloseCodePage(CodePageConverter* converter);
