// The rule for paths: inside the portable core a path is a std::string of
// UTF-8. Only the Win32 layer turns it into UTF-16 for the wide functions
// (widepath_win.h) and back. Language texts are 8-bit in their charset's
// code page and never pass through these functions.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// Strict UTF-8: no overlong forms, no surrogate code points, nothing above
// U+10FFFF, no cut-off sequence.
bool IsValidUtf8(std::string_view s);
bool IsAscii(std::string_view s);
// UTF-8 -> UTF-16 code units; false (and out cleared) when s is not strict UTF-8.
bool Utf8ToUtf16(std::string_view s, std::u16string& out);
// UTF-16 -> UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view s);
// Appends one code point in UTF-8; a surrogate or a value above U+10FFFF
// becomes U+FFFD.
void AppendUtf8(std::string& out, uint32_t codePoint);
