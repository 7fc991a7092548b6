#include "dialogs/informlayout.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

auto Tie(const Rect& r) { return std::make_tuple(r.x, r.y, r.w, r.h); }

struct LayoutCase {
  const char* name;
  int W, H;
  bool button;
  Rect text, btn;
  int stripTop;
};

TEST(InformLayout, Table) {
  const LayoutCase cases[] = {
      // A 360 x 360 window with Wine's frame has a client area of about 352 x 333.
      {"no link: text fills the client area", 352, 333, false, {3, 0, 349, 333}, {}, -1},
      {"link: strip of 43 and a centred button", 352, 333, true, {3, 0, 349, 290}, {96, 300, 160, 25}, 290},
      {"after a resize the button stays 33 above the bottom", 800, 500, true, {3, 0, 797, 457}, {320, 467, 160, 25},
       457},
      {"after a resize without link", 800, 500, false, {3, 0, 797, 500}, {}, -1},
      {"odd width rounds toward zero", 401, 200, true, {3, 0, 398, 157}, {120, 167, 160, 25}, 157},
      {"narrower than the button: it stands out on both sides", 100, 100, true, {3, 0, 97, 57}, {-30, 67, 160, 25},
       57},
      {"tiny client area: no negative sizes", 2, 20, true, {3, 0, 0, 0}, {-79, -13, 160, 25}, -23},
      {"minimised (0 x 0)", 0, 0, false, {3, 0, 0, 0}, {}, -1},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    const InformLayout l = InformLayoutFor(c.W, c.H, c.button);
    EXPECT_EQ(l.hasButton, c.button);
    EXPECT_EQ(Tie(l.text), Tie(c.text));
    EXPECT_EQ(Tie(l.button), Tie(c.btn));
    EXPECT_EQ(l.stripTop, c.stripTop);
  }
}

TEST(InformLayout, ButtonCentredInStripAtEveryHeight) {
  for (int H = 60; H <= 1200; H += 37) {
    const InformLayout l = InformLayoutFor(500, H, true);
    const int above = l.button.y - l.stripTop, below = H - (l.button.y + l.button.h);
    EXPECT_EQ(H - l.button.y, 33) << H;
    EXPECT_GE(above, 1) << H;  // clear of the dark line
    EXPECT_LE(above - below, 2) << H;
    EXPECT_EQ(l.text.y + l.text.h, l.stripTop) << H;  // the text ends where the strip begins
  }
}

TEST(InformTextFace, Table) {
  const std::pair<const char*, const char*> cases[] = {
      {"Tahoma", "Verdana"},
      {"", "Verdana"},
      {"MS PGothic", "MS PGothic"},
      {"Arial", "Arial"},
      {"tahoma", "tahoma"},    // the comparison is exact
      {"Tahoma ", "Tahoma "},  // and so is the face
  };
  for (const auto& [face, expected] : cases) EXPECT_EQ(InformTextFace(face), expected) << face;
}

TEST(InformLink, FilterTable) {
  struct LinkCase {
    const char* link;
    bool allowed;
  };
  const LinkCase cases[] = {
      {"http://127.0.0.1:8080/news.html", true},
      {"https://www.example.com/download", true},
      {"HTTP://EXAMPLE.COM", true},
      {"HtTpS://example.com/a?b=c#d", true},
      {"http://example.com/path%20with%20escapes", true},
      {"http://user@example.com/", true},
      {"", false},
      {"file:///C:/Windows/System32/calc.exe", false},
      {"FILE:C:\\x.exe", false},
      {"C:\\Windows\\System32\\cmd.exe", false},
      {"\\\\server\\share\\setup.exe", false},
      {"//server/share/setup.exe", false},
      {"notepad.exe", false},
      {"calc", false},
      {"ftp://example.com/file", false},
      {"javascript:alert(1)", false},
      {"mailto:someone@example.com", false},
      {"httpx://example.com", false},
      {"http:/example.com", false},
      {"http:\\\\example.com", false},
      {"http:example.com", false},
      {"http://", false},
      {"https://", false},
      {"http:///C:/Windows/notepad.exe", false},
      {"http://\\\\server\\share", false},
      {"http://?x", false},
      {" http://example.com", false},  // the caller trims; what reaches the filter is opened as is
      {"http://example.com/a b", false},
      {"http://example.com/\" --option", false},
      {"http://example.com/\tx", false},
      {"http://example.com/\r\nx", false},
      {"http://example.com/\x7f", false},
  };
  for (const LinkCase& c : cases) {
    SCOPED_TRACE(c.link);
    const std::string why = InformLinkRefusal(c.link);
    EXPECT_EQ(why.empty(), c.allowed) << why;
    EXPECT_EQ(InformLinkAllowed(c.link), c.allowed);
  }
}

TEST(InformLink, RefusalSaysWhy) {
  EXPECT_NE(InformLinkRefusal("file:///C:/x").find("http"), std::string::npos);
  EXPECT_NE(InformLinkRefusal("http://").find("host"), std::string::npos);
  EXPECT_NE(InformLinkRefusal("http://a/ b").find("blank"), std::string::npos);
}

TEST(ClampInformSize, Table) {
  // Non-client extras as under Wine: frames 2 x 4 wide, caption plus frames 27 high.
  const int ncW = 8, ncH = 27;
  const int minW = kInformMinClientWidth + ncW, minH = kInformMinClientHeight + ncH;
  struct SizeCase {
    const char* name;
    int w, h, workW, workH;
    int expectW, expectH;
  };
  const SizeCase cases[] = {
      {"usual size stays", 360, 360, 1024, 738, 360, 360},
      {"large size in range stays", 900, 700, 1024, 738, 900, 700},
      {"zero takes the default", 0, 0, 1024, 738, kInformDefaultSize, kInformDefaultSize},
      {"negative takes the default", -5, -400, 1024, 738, kInformDefaultSize, kInformDefaultSize},
      {"too small grows to button plus text", 50, 20, 1024, 738, minW, minH},
      {"one pixel", 1, 1, 1024, 738, minW, minH},
      {"bigger than the work area shrinks", 5000, 3000, 1024, 738, 1024, 738},
      {"huge values", 2147483647, 2147483647, 800, 600, 800, 600},
      {"work area smaller than the minimum wins", 360, 360, 200, 100, 200, 100},
      {"unknown work area: only the minimum", 5000, 0, 0, 0, 5000, kInformDefaultSize},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const InformSize s = ClampInformSize(c.w, c.h, c.workW, c.workH, ncW, ncH);
    EXPECT_EQ(s.width, c.expectW);
    EXPECT_EQ(s.height, c.expectH);
  }
}

TEST(ClampInformSize, MinimumHoldsTheButtonAndLines) {
  const InformSize s = ClampInformSize(1, 1, 1024, 738, 8, 27);
  const InformLayout l = InformLayoutFor(s.width - 8, s.height - 27, true);
  EXPECT_GE(l.button.x, 0);
  EXPECT_LE(l.button.x + l.button.w, s.width - 8);
  EXPECT_GE(l.text.h, 4 * 15);  // four lines of the 15-pixel text font
}

TEST(InformWindowPos, Table) {
  struct PosCase {
    const char* name;
    int screenW, screenH, w, h;
    Rect work;
    int x, y;
  };
  const PosCase cases[] = {
      {"centred on the screen", 1024, 768, 360, 360, {0, 0, 1024, 738}, 332, 204},
      {"odd difference rounds toward zero", 1024, 768, 361, 361, {0, 0, 1024, 768}, 331, 203},
      {"as high as the work area: kept above a bottom task bar", 1024, 768, 400, 738, {0, 0, 1024, 738}, 312, 0},
      {"task bar at the top", 1024, 768, 400, 740, {0, 28, 1024, 740}, 312, 28},
      {"task bar on the left", 1024, 768, 1000, 300, {60, 0, 964, 768}, 60, 234},
      {"no work area known: the screen alone", 1024, 768, 1200, 900, {0, 0, 0, 0}, -88, -66},
  };
  for (const PosCase& c : cases) {
    SCOPED_TRACE(c.name);
    const InformPoint p = InformWindowPos(c.screenW, c.screenH, c.w, c.h, c.work);
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
  }
}

}  // namespace
