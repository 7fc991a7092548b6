#include <gtest/gtest.h>

#include <cctype>

#include "package/gfileinfo.h"
#include "package/package_writer.h"
#include "paths/utils.h"

namespace {
bool IsFallbackNumber(const std::string& s) {
  if (s.empty() || s.size() > 5) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}
}  // namespace

TEST(Token, ScrambleRoundTripsEveryLength) {
  std::string plain;
  for (size_t len = 0; len <= kMaxTokenLength; ++len) {
    std::string s = ScrambleToken(plain);
    ASSERT_EQ(s.size(), 50u) << len;
    for (char c : s) EXPECT_TRUE((c >= 'b' && c <= 'k') || (c >= 's' && c <= 'x')) << len;
    EXPECT_EQ(TokenUnscramble(s), plain) << len;
    std::string strict;
    EXPECT_TRUE(TryTokenUnscramble(s, strict));
    EXPECT_EQ(strict, plain);
    plain += char('A' + len % 26);
  }
  // Bytes outside ASCII survive as well.
  std::string binary = "\x01\xFF\x80 z";
  EXPECT_EQ(TokenUnscramble(ScrambleToken(binary)), binary);
  // The filler is random: one token has many scrambled forms.
  EXPECT_NE(ScrambleToken("SAME"), ScrambleToken("SAME"));
  EXPECT_EQ(ScrambleToken(std::string(kMaxTokenLength + 1, 'x')), "");
}

TEST(Token, BrokenTextsGiveANumberText) {
  std::string good = ScrambleToken("PRODUCT");
  std::string flipped = good;
  flipped[10] = flipped[10] == 'b' ? 'c' : 'b';
  const std::string cases[] = {"", "garbage", "bbbbbbbb", flipped};
  for (const std::string& c : cases) {
    std::string r = TokenUnscramble(c);
    EXPECT_TRUE(IsFallbackNumber(r)) << c << " -> " << r;
    std::string strict;
    EXPECT_FALSE(TryTokenUnscramble(c, strict)) << c;
  }
}

TEST(Token, MatchNeedsTwoValidEqualTokens) {
  std::string a1 = ScrambleToken("PRODUCT"), a2 = ScrambleToken("PRODUCT"), b = ScrambleToken("OTHER");
  std::string empty1 = ScrambleToken(""), empty2 = ScrambleToken("");
  struct Case {
    const char* what;
    std::string x, y;
    bool match;
  } cases[] = {
      {"same token, two scramblings", a1, a2, true},
      {"different tokens", a1, b, false},
      {"one side broken", a1, "xxxx", false},
      {"both broken", "garbage", "garbage", false},
      {"both empty fields", "", "", false},
      {"both valid but empty tokens", empty1, empty2, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TokensMatch(c.x, c.y), c.match) << c.what;
    EXPECT_EQ(TokensMatch(c.y, c.x), c.match) << c.what;
  }
}

TEST(InformText, FieldsAndBody) {
  std::string tok = ScrambleToken("PRODUCT");
  struct Case {
    const char* what;
    std::string text;
    std::string tokenField, body;
  } cases[] = {
      {"body with bars", "INFO|" + tok + "|x|y|Hello|World", tok, "Hello|World"},
      {"three bars: empty body", "INFO|" + tok + "|x|y", tok, ""},
      {"one bar", "INFO|" + tok, "", ""},
      {"no bars", "plain text", "", ""},
      {"empty fields", "|" + tok + "|||<B>Body</B>", tok, "<B>Body</B>"},
  };
  for (const Case& c : cases) {
    for (bool scrambled : {false, true}) {
      std::string text = scrambled ? ScrambleText(c.text, true) : c.text;
      InformText r = DecodeInformText(text);
      EXPECT_EQ(r.tokenField, c.tokenField) << c.what << scrambled;
      EXPECT_EQ(r.body, c.body) << c.what << scrambled;
      if (!c.tokenField.empty()) {
        EXPECT_EQ(r.token, "PRODUCT") << c.what;
      }
    }
  }
}

TEST(InformText, BuiltByTheWriterDecodes) {
  for (bool scrambled : {false, true}) {
    std::string text = BuildInformText("PRODUCT", "New <B>2.0</B>|see site", scrambled);
    EXPECT_EQ(text.rfind("Scrambled=01", 0) == 0, scrambled);
    InformText r = DecodeInformText(text);
    EXPECT_EQ(r.token, "PRODUCT");
    EXPECT_TRUE(TokensMatch(r.tokenField, ScrambleToken("PRODUCT")));
    EXPECT_EQ(r.body, "New <B>2.0</B>|see site");
  }
}
