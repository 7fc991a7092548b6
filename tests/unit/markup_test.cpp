#include "dialogs/markup.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using Ranges = std::vector<std::pair<int, int>>;

Ranges RangesOf(const MarkupText& m) {
  Ranges r;
  for (const BoldRange& b : m.bold) r.push_back({b.start, b.end});
  return r;
}

struct MarkupCase {
  const char* name;
  std::string in;
  std::string text;
  Ranges bold;
};

TEST(ConvertMarkup, Table) {
  const MarkupCase cases[] = {
      {"plain", "Hello", "Hello", {}},
      {"paragraph any case", "a<P>b<p>c", "a\r\nb\r\nc", {}},
      {"tab tag any case", "a<T>b<t>c", "a\tb\tc", {}},
      {"backslash escapes", "a\\\\nb\\\\tc", "a\r\nb\tc", {}},
      {"capital N escape stays", "a\\\\Nb\\\\Tc", "a\\\\Nb\\\\Tc", {}},
      {"single backslash is text", "a\\nb", "a\\nb", {}},
      {"mixed-case bold pair", "x<B>bold</b>y", "xboldy", {{1, 5}}},
      {"two spans", "<b>a</b> and <B>bc</B>", "a and bc", {{0, 1}, {6, 8}}},
      {"offsets count CR LF as two", "<P><b>x</b>", "\r\nx", {{2, 3}}},
      {"unclosed bold", "a<B>bc", "abc", {}},
      {"stray close kills later spans", "a</B>b<B>c</B>d<B>e</B>", "abcde", {}},
      {"stray close after a good span", "<B>a</B>b</B><B>c</B>", "abc", {{0, 1}}},
      {"header form", "<<b>ERROR</b><P><P>text<P>", "ERROR\r\n\r\ntext\r\n", {{0, 5}}},
      {"double angle only at start", "x<<b>y</b>", "x<y", {{2, 3}}},
      {"double angle needs lower b", "<<B>y</B>", "<y", {{1, 2}}},
      {"other tags stay", "<DRIVE> <i>", "<DRIVE> <i>", {}},
      {"inserted text not rescanned", "<<P>P>", "<\r\nP>", {}},
      {"empty span does not stop later ones", "<B></B>a<B>b</B>", "ab", {{1, 2}}},
      {"nested span keeps its characters", "<B>a<B>b</B>c</B>", "abc", {{0, 2}, {1, 3}}},
      {"empty", "", "", {}},
  };
  for (const MarkupCase& c : cases) {
    SCOPED_TRACE(c.name);
    MarkupText m = ConvertMarkup(c.in);
    EXPECT_EQ(m.text, c.text);
    EXPECT_EQ(RangesOf(m), c.bold);
  }
}

TEST(ConvertMarkup, RangesBeyondSixteenBits) {
  std::string in = std::string(70000, 'x') + "<B>bold</B>";
  MarkupText m = ConvertMarkup(in);
  EXPECT_EQ(RangesOf(m), (Ranges{{70000, 70004}}));
}

TEST(MsgBoxTitles, HeaderUpperCasesKindPieces) {
  const std::pair<const char*, const char*> cases[] = {
      {"Error", "ERROR"}, {"Attention", "ATTENTION"}, {"Con", "CON"},     {"Setup", "Setup"},
      {"error", "error"}, {"|Error|", "|ERROR|"},      {"Error!", "Error!"},
  };
  for (auto& [title, header] : cases) EXPECT_EQ(HeaderTitle(title), header) << title;
  MarkupText m = ConvertMarkup(HeaderBody("Error", "Disk full"));
  EXPECT_EQ(m.text, "ERROR\r\n\r\nDisk full\r\n");
  EXPECT_EQ(RangesOf(m), (Ranges{{0, 5}}));
}

TEST(MsgBoxStyle, OwnerCodeAndCharset) {
  struct {
    intptr_t owner;
    int charset;
    uint32_t in, out;
  } cases[] = {
      {0, 0, 0x24, 0x24},
      {1, 1, 0x10, 0x10},
      {2, 0, 0x10, 0x10 | kStyleNoClose},
      {3, 0, 0x10, 0x10},
      {1, 177, 0x21, 0x21 | 0x180000},
      {1, 178, 0, 0x180000},
      {2, 178, 0, 0x180000 | kStyleNoClose},
      {1, 186, 0, 0},
  };
  for (auto& c : cases)
    EXPECT_EQ(EffectiveStyle(c.owner, c.charset, c.in), c.out) << c.owner << " " << c.charset;
}

TEST(MsgBoxStyle, IconAndDefaultButton) {
  EXPECT_EQ(IconBits(0x10), 0x10u);
  EXPECT_EQ(IconBits(0x44), 0x40u);
  EXPECT_EQ(IconBits(0x50), 0u);
  EXPECT_EQ(IconBits(0x04), 0u);
  EXPECT_EQ(DefaultButtonIndex(0x100), 1);  // MB_DEFBUTTON2
  EXPECT_EQ(DefaultButtonIndex(0x221), 2);
}

TEST(MsgBoxButtons, SetsCaptionsAndResults) {
  const std::string captions = "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|";
  struct {
    uint32_t style;
    std::vector<std::pair<std::string, int>> buttons;
  } cases[] = {
      {0, {{"&OK", 1}}},
      {1, {{"&OK", 1}, {"&Cancel", 2}}},
      {2, {{"&Abort", 3}, {"&Retry", 4}, {"&Ignore", 5}}},
      {3, {{"&Yes", 6}, {"&No", 7}, {"&Cancel", 2}}},
      {0x24, {{"&Yes", 6}, {"&No", 7}}},
      {5, {{"&Retry", 4}, {"&Cancel", 2}}},
      {6, {}},
      {15, {}},
  };
  for (auto& c : cases) {
    ButtonSet set = ButtonSetOf(c.style);
    std::vector<std::pair<std::string, int>> got;
    for (int i = 0; i < set.count; ++i)
      got.push_back({ButtonCaption(captions, set.buttons[i].captionItem), set.buttons[i].result});
    EXPECT_EQ(got, c.buttons) << "style " << c.style;
  }
  EXPECT_EQ(ButtonCaption("|&OK||", 1), "");
  EXPECT_EQ(ButtonCaption("|&OK|", 3), "");
}

TEST(MsgBoxButtons, PositionsTouchAndEndTenFromRight) {
  const int W = 400;
  EXPECT_EQ(ButtonLeft(W, 2, 3) + kButtonWidth, W - 10);
  EXPECT_EQ(ButtonLeft(W, 1, 3), W - 150);
  EXPECT_EQ(ButtonLeft(W, 0, 3), W - 220);
  EXPECT_EQ(ButtonLeft(W, 0, 1), W - 80);
  EXPECT_EQ(ButtonTop(200), 171);  // centred in the 36-pixel strip
}

TEST(MsgBoxFocus, IndexWrapsBothWays) {
  const int cases[][3] = {{0, 3, 0}, {2, 2, 0}, {5, 3, 2}, {-1, 3, 2}, {-4, 3, 2}, {1, 1, 0}, {0, 0, -1}};
  for (auto& c : cases) EXPECT_EQ(FocusIndex(c[0], c[1]), c[2]) << c[0] << " mod " << c[1];
  const int steps[][4] = {{0, 3, 1, 1}, {2, 3, 1, 0}, {0, 3, -1, 2}, {-1, 3, 1, 0}, {-1, 3, -1, 2}, {0, 0, 1, -1}};
  for (auto& s : steps) EXPECT_EQ(FocusStep(s[0], s[1], s[2]), s[3]) << s[0] << " step " << s[2];
}

TEST(MsgBoxKeys, AltCharAndLetterTargets) {
  const std::string ync[3] = {"&Yes", "&No", "&Cancel"};
  EXPECT_EQ(AltCharTarget(ync, 3, 'n'), 1);
  EXPECT_EQ(AltCharTarget(ync, 3, 'N'), 1);
  EXPECT_EQ(AltCharTarget(ync, 3, 'c'), 2);
  EXPECT_EQ(AltCharTarget(ync, 3, 'x'), -1);
  EXPECT_EQ(AltCharTarget(ync, 2, 'c'), -1);  // third caption not in a two-button set
  EXPECT_EQ(LetterKeyTarget(ync, 3, 'N'), 1);
  EXPECT_EQ(LetterKeyTarget(ync, 3, 'Y'), 0);
  EXPECT_EQ(LetterKeyTarget(ync, 3, 0x0D), -1);  // Return is not a letter
  EXPECT_EQ(LetterKeyTarget(ync, 3, 'Q'), -1);

  // Several matches: Alt picks the first button, a plain letter the last.
  const std::string same[3] = {"&Save", "&Skip", "&Stop"};
  EXPECT_EQ(AltCharTarget(same, 3, 's'), 0);
  EXPECT_EQ(LetterKeyTarget(same, 3, 'S'), 2);

  // Without "&" the first letter counts; "&" in the middle points at its letter;
  // Alt looks at the second character whatever it is; short captions never match.
  const std::string odd[3] = {"ok", "Sa&ve", "&"};
  EXPECT_EQ(LetterKeyTarget(odd, 3, 'O'), 0);
  EXPECT_EQ(LetterKeyTarget(odd, 3, 'V'), 1);
  EXPECT_EQ(LetterKeyTarget(odd, 3, 'S'), -1);
  EXPECT_EQ(AltCharTarget(odd, 3, 'k'), 0);
  EXPECT_EQ(AltCharTarget(odd, 3, 'a'), 1);
}

TEST(MsgBoxMeasure, LinesToMeasure) {
  using V = std::vector<std::string>;
  EXPECT_EQ(LinesToMeasure(""), V{" "});
  EXPECT_EQ(LinesToMeasure("a"), V{"a"});
  EXPECT_EQ(LinesToMeasure("a\r\nb"), (V{"a", "b"}));
  EXPECT_EQ(LinesToMeasure("a\r\n"), V{"a"});  // empty last line not measured
  EXPECT_EQ(LinesToMeasure("a\r\n\r\nb\r\n"), (V{"a", "", "b"}));
  EXPECT_EQ(LinesToMeasure("a\nb"), V{"a\nb"});  // only CR LF cuts
}

TEST(MsgBoxMeasure, WidthsWrapAtSixHundred) {
  struct {
    std::vector<int> widths;
    int w, h;
  } cases[] = {
      {{100}, 110, 13},
      {{1500}, 600, 39},  // three wrapped lines, width capped
      {{599, 600}, 600, 13 + 26},
      {{50, 0, 200}, 210, 39},
      {{}, 0, 0},
  };
  for (auto& c : cases) {
    TextExtent e = MeasureLineWidths(c.widths, 13);
    EXPECT_EQ(e.w, c.w);
    EXPECT_EQ(e.h, c.h);
  }
  EXPECT_EQ(LineHeightFor(13, 2, "Tahoma"), 15);
  EXPECT_EQ(LineHeightFor(13, 2, " ms pgothic "), 16);
}

TEST(MsgBoxMeasure, WidenForBold) {
  // The control needs 2 lines (h 26) until it is at least 237 wide.
  std::vector<int> tried;
  auto control = [&](int width, int& reqW, int& reqH) {
    tried.push_back(width);
    reqW = width;
    reqH = width >= 237 ? 13 : 26;
  };
  EXPECT_EQ(WidenForBold(200, 13, control), 240);
  EXPECT_EQ(tried, (std::vector<int>{200, 210, 220, 230, 240}));

  tried.clear();
  EXPECT_EQ(WidenForBold(300, 13, control), 300);
  EXPECT_EQ(tried.size(), 1u);

  // Never satisfied: widest request seen + 10.
  auto stubborn = [&](int width, int& reqW, int& reqH) {
    reqW = width == 250 ? 900 : width;
    reqH = 99;
  };
  EXPECT_EQ(WidenForBold(100, 13, stubborn), 910);
  auto narrow = [&](int width, int& reqW, int& reqH) {
    reqW = 50;
    reqH = 99;
  };
  EXPECT_EQ(WidenForBold(100, 13, narrow), 110);
  // A control that never answers keeps the measured width + 10, not the first try.
  auto silent = [&](int, int& reqW, int& reqH) {
    reqW = -1;
    reqH = -1;
  };
  EXPECT_EQ(WidenForBold(100, 13, silent), 110);
}

TEST(MsgBoxGeometry, BoxSizeMarginsAndMinimum) {
  struct {
    int cw, ch;
    int width, height;
  } cases[] = {
      {60, 13, 360, 13 + 36 + 90 + 8 + 20},                // short text: 64/45 margins, 360 minimum
      {199, 38, 199 + 54 + 128 + 8, 38 + 36 + 90 + 8 + 20},  // just under both thresholds
      {200, 39, 360, 39 + 36 + 64 + 8 + 20},
      {610, 39, 610 + 54 + 64 + 8, 39 + 36 + 64 + 8 + 20},
  };
  for (auto& c : cases) {
    BoxSize b = BoxSizeFor(c.cw, c.ch, 4, 4, 20);
    EXPECT_EQ(b.width, c.width) << c.cw;
    EXPECT_EQ(b.height, c.height) << c.ch;
  }
}

TEST(MsgBoxGeometry, TextPlacement) {
  Rect r = TextPlacement(352, 171, 110, 13);
  EXPECT_EQ(r.x, 54 + (352 - 54 - 110) / 2);
  EXPECT_EQ(r.y, (171 - 36 - 13) / 2);
  EXPECT_EQ(r.w, 110);
  EXPECT_EQ(r.h, 171 - r.y - 39);
  // Odd remainders round toward zero.
  EXPECT_EQ(TextPlacement(55, 36, 2, 1).x, 54);
  EXPECT_EQ(TextPlacement(55, 36, 2, 1).y, 0);
}

}  // namespace
