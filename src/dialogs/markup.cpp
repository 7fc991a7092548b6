#include "dialogs/markup.h"

#include <algorithm>

#include "paths/utils.h"

const char* const kMsgBoxKinds = "|Error|Attention|Confirm|";

std::string ExpandTextEscapes(const std::string& text) {
  std::string s = ReplaceText(text, "\\\\n", "\r\n");
  s = ReplaceText(s, "\\\\t", "\t");
  s = ReplaceTextNoCase(s, "<P>", "\r\n");
  return ReplaceTextNoCase(s, "<T>", "\t");
}

namespace {

// Deletes from the text and its upper-case twin and keeps the ranges found so
// far pointing at the same characters (tags nested inside an earlier span
// would otherwise leave that span reaching past its text).
void EraseBoth(MarkupText& m, std::string& upper, size_t pos, size_t n) {
  m.text.erase(pos, n);
  upper.erase(pos, n);
  const int p = static_cast<int>(pos), len = static_cast<int>(n);
  auto shift = [&](int& v) {
    if (v > p) v = std::max(p, v - len);
  };
  for (BoldRange& r : m.bold) {
    shift(r.start);
    shift(r.end);
  }
}

}  // namespace

MarkupText ConvertMarkup(const std::string& text) {
  MarkupText m;
  m.text = ExpandTextEscapes(text);
  if (m.text.compare(0, 4, "<<b>") == 0) m.text.erase(0, 1);
  std::string upper = UpperCase(m.text);
  for (;;) {
    size_t p = upper.find("<B>");
    if (p == std::string::npos) break;
    EraseBoth(m, upper, p, 3);
    size_t q = upper.find("</B>");
    // A closing tag standing before this opening one means the spans are out
    // of step: this one (and so every later one) stays plain.
    if (q == std::string::npos || q < p) continue;
    EraseBoth(m, upper, q, 4);
    if (q > p) m.bold.push_back({static_cast<int>(p), static_cast<int>(q)});
  }
  for (size_t q; (q = upper.find("</B>")) != std::string::npos;) EraseBoth(m, upper, q, 4);
  m.bold.erase(std::remove_if(m.bold.begin(), m.bold.end(), [](const BoldRange& r) { return r.end <= r.start; }),
               m.bold.end());
  return m;
}

std::string HeaderTitle(const std::string& title) {
  return std::string(kMsgBoxKinds).find(title) != std::string::npos ? UpperCase(title) : title;
}

std::string HeaderBody(const std::string& title, const std::string& text) {
  return "<<b>" + HeaderTitle(title) + "</b><P><P>" + text + "<P>";
}

uint32_t EffectiveStyle(intptr_t ownerCode, int charset, uint32_t style) {
  if (charset == 177 || charset == 178) style |= kStyleRight | kStyleRtlReading;
  if (ownerCode == 2) style |= kStyleNoClose;
  return style;
}

uint32_t IconBits(uint32_t style) {
  uint32_t icon = style & 0xF0;
  return icon >= 0x10 && icon <= 0x40 ? icon : 0;
}

int DefaultButtonIndex(uint32_t style) { return static_cast<int>((style >> 8) & 0xF); }

ButtonSet ButtonSetOf(uint32_t style) {
  // Caption items: 0 OK, 1 Cancel, 2 Yes, 3 No, 4 Abort, 5 Retry, 6 Ignore.
  const ButtonSpec ok{0, 1}, cancel{1, 2}, abort{4, 3}, retry{5, 4}, ignore{6, 5}, yes{2, 6}, no{3, 7};
  switch (style & 0xF) {
    case 0: return {1, {ok}};
    case 1: return {2, {ok, cancel}};
    case 2: return {3, {abort, retry, ignore}};
    case 3: return {3, {yes, no, cancel}};
    case 4: return {2, {yes, no}};
    case 5: return {2, {retry, cancel}};
    default: return {};
  }
}

std::string ButtonCaption(const std::string& captions, int item) { return ListItem(captions, item, ""); }

int ButtonLeft(int clientWidth, int index, int count) {
  return clientWidth - 80 - kButtonWidth * (count - 1 - index);
}

int ButtonTop(int clientHeight) { return clientHeight - 29; }

int FocusIndex(int index, int count) {
  if (count <= 0) return -1;
  int i = index % count;
  return i < 0 ? i + count : i;
}

namespace {
char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

int AltCharTarget(const std::string captions[3], int count, char ch) {
  int target = -1;
  for (int i = std::min(count, 3) - 1; i >= 0; --i) {
    const std::string& c = captions[i];
    if (c.size() >= 2 && (c[1] == ch || c[1] == UpperChar(ch))) target = i;
  }
  return target;
}

int LetterKeyTarget(const std::string captions[3], int count, unsigned vk) {
  if (vk > 0xFF) return -1;
  char letter = UpperChar(static_cast<char>(vk));
  if (letter < 'A' || letter > 'Z') return -1;
  int target = -1;
  for (int i = 0; i < std::min(count, 3); ++i) {
    const std::string& c = captions[i];
    size_t amp = c.find('&');
    size_t at = amp == std::string::npos ? 0 : amp + 1;
    if (at < c.size() && UpperChar(c[at]) == letter) target = i;
  }
  return target;
}

int FocusStep(int current, int count, int step) {
  if (count <= 0) return -1;
  if (current < 0 || current >= count) return step > 0 ? 0 : count - 1;
  return FocusIndex(current + step, count);
}

int LineHeightFor(int charHeight, int externalLeading, const std::string& face) {
  return charHeight + externalLeading + (SameTextTrim(face, "MS PGothic") ? 1 : 0);
}

std::vector<std::string> LinesToMeasure(const std::string& text) {
  std::vector<std::string> lines;
  const std::string s = text.empty() ? " " : text;
  size_t from = 0;
  for (;;) {
    size_t at = s.find("\r\n", from);
    if (at == std::string::npos) {
      if (from < s.size()) lines.push_back(s.substr(from));
      break;
    }
    lines.push_back(s.substr(from, at - from));
    from = at + 2;
  }
  return lines;
}

TextExtent MeasureLineWidths(const std::vector<int>& widths, int lineHeight) {
  TextExtent e;
  for (int cx : widths) {
    cx = std::max(cx, 0);
    e.w = std::max(e.w, cx + 10);
    e.h += (cx / kWrapWidth + 1) * lineHeight;
  }
  e.w = std::min(e.w, kWrapWidth);
  return e;
}

int WidenForBold(int w, int h, const std::function<void(int width, int& reqW, int& reqH)>& resize) {
  int widest = w;
  for (int i = 0; i <= 20; ++i) {
    int reqW = 0, reqH = 0;
    resize(w + 10 * i, reqW, reqH);
    // A control that reports no size says nothing about wrapping: keep the
    // measured width with its margin rather than take the first, narrower try.
    if (reqH < 0) return w + 10;
    if (reqH <= h) return w + 10 * i;
    widest = std::max(widest, reqW);
  }
  return widest + 10;
}

BoxSize BoxSizeFor(int controlWidth, int controlHeight, int frameX, int frameY, int captionHeight) {
  const int mx = controlWidth < 200 ? 64 : 32;
  const int my = controlHeight < 39 ? 45 : 32;
  BoxSize b;
  b.width = std::max(kMinBoxWidth, controlWidth + 54 + 2 * mx + 2 * frameX);
  b.height = controlHeight + 36 + 2 * my + 2 * frameY + captionHeight;
  return b;
}

Rect TextPlacement(int clientWidth, int clientHeight, int controlWidth, int controlHeight) {
  Rect r;
  r.x = 54 + (clientWidth - 54 - controlWidth) / 2;
  r.y = (clientHeight - 36 - controlHeight) / 2;
  r.w = controlWidth;
  r.h = clientHeight - r.y - 39;
  return r;
}
