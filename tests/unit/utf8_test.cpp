// Paths are UTF-8 inside the core: the strict decoder decides which item
// names are names at all, so every way to smuggle a "." or "/" past it
// (overlong forms, surrogates, values above U+10FFFF, cut-off sequences)
// must be refused.
#include <gtest/gtest.h>

#include <string>

#include "paths/utf8.h"

namespace {

TEST(Utf8, StrictDecoding) {
  struct Case {
    const char* what;
    std::string bytes;
    bool valid;
    std::u16string units;  // when valid
  } cases[] = {
      {"empty", "", true, u""},
      {"ASCII", "Setup.exe", true, u"Setup.exe"},
      {"2-byte", "M\xC3\xBCller", true, u"M\u00FCller"},
      {"3-byte", "\xE6\x97\xA5\xE6\x9C\xAC", true, u"\u65E5\u672C"},
      {"4-byte", "\xF0\x9F\x98\x80", true, u"\U0001F600"},
      {"smallest 2-byte", "\xC2\x80", true, u"\u0080"},
      {"smallest 3-byte", "\xE0\xA0\x80", true, u"\u0800"},
      {"last before the surrogates", "\xED\x9F\xBF", true, u"\uD7FF"},
      {"first after the surrogates", "\xEE\x80\x80", true, u"\uE000"},
      {"U+10FFFF", "\xF4\x8F\xBF\xBF", true, u"\U0010FFFF"},
      {"overlong '.'", "\xC0\xAE", false, u""},
      {"overlong '/'", "\xC0\xAF", false, u""},
      {"overlong 3-byte '.'", "\xE0\x80\xAE", false, u""},
      {"overlong 4-byte '.'", "\xF0\x80\x80\xAE", false, u""},
      {"overlong C1", "\xC1\xBF", false, u""},
      {"high surrogate", "\xED\xA0\x80", false, u""},
      {"low surrogate", "\xED\xBF\xBF", false, u""},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false, u""},
      {"lead byte F5", "\xF5\x80\x80\x80", false, u""},
      {"byte FF", "a\xFF", false, u""},
      {"lone continuation", "a\x80z", false, u""},
      {"truncated 2-byte", "M\xC3", false, u""},
      {"truncated 3-byte", "\xE6\x97", false, u""},
      {"truncated 4-byte", "\xF0\x9F\x98", false, u""},
      {"ASCII where a continuation belongs",
       "\xC3"
       "A",
       false, u""},
      {"ANSI byte", "M\xFCller", false, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(IsValidUtf8(c.bytes), c.valid);
    std::u16string units = u"stale";
    EXPECT_EQ(Utf8ToUtf16(c.bytes, units), c.valid);
    EXPECT_EQ(units, c.units);  // cleared when invalid
    if (c.valid) {
      EXPECT_EQ(Utf16ToUtf8(units), c.bytes);
    }
  }
}

TEST(Utf8, UnpairedSurrogatesBecomeReplacementCharacters) {
  const std::string kReplacement = "\xEF\xBF\xBD";
  struct Case {
    std::u16string units;
    std::string utf8;
  } cases[] = {
      {u"\U0001F600.txt", "\xF0\x9F\x98\x80.txt"},  // a pair stays one code point
      {std::u16string(1, char16_t(0xD800)), kReplacement},
      {std::u16string(1, char16_t(0xDC00)), kReplacement},
      {std::u16string{char16_t(0xD83D), u'A'}, kReplacement + "A"},
      {std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, kReplacement + kReplacement},  // reversed pair
      {std::u16string{u'a', char16_t(0xD83D)}, "a" + kReplacement},                       // cut off at the end
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(c.units), c.utf8);
    EXPECT_TRUE(IsValidUtf8(Utf16ToUtf8(c.units)));
  }
}

TEST(Utf8, AppendWritesOnlyCharacters) {
  struct Case {
    uint32_t cp;
    std::string utf8;
  } cases[] = {
      {0x41, "A"},
      {0xFC, "\xC3\xBC"},
      {0x65E5, "\xE6\x97\xA5"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
      {0xD800, "\xEF\xBF\xBD"},
      {0xDFFF, "\xEF\xBF\xBD"},
      {0x110000, "\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    std::string out;
    AppendUtf8(out, c.cp);
    EXPECT_EQ(out, c.utf8) << std::hex << c.cp;
  }
}

TEST(Utf8, AsciiIsBelow0x80) {
  EXPECT_TRUE(IsAscii(""));
  EXPECT_TRUE(IsAscii(std::string("a\x00\x7F", 3)));
  EXPECT_FALSE(IsAscii("a\x80"));
  EXPECT_FALSE(IsAscii("M\xC3\xBCller"));
}

}  // namespace
