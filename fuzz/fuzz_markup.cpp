// The message box's markup and layout rules: ConvertMarkup and the header
// body over arbitrary texts, the button, key and focus rules over arbitrary
// styles and captions, and the measuring and geometry rules over sizes that a
// screen can give (line widths follow the text, fonts and frames stay small).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dialogs/markup.h"
#include "fields.h"
#include "paths/utils.h"

namespace {
void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_markup: %s\n", what);
  std::abort();
}

void CheckMarkup(const MarkupText& m) {
  for (const BoldRange& r : m.bold)
    Check(r.start >= 0 && r.start < r.end && size_t(r.end) <= m.text.size(), "bold range outside the text");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFields in(data, size, 8);
  const std::string& body = in.Text(0);
  const std::string& title = in.Text(1);
  const std::string& captions = in.Text(2);
  uint32_t style = uint32_t(in.Byte(0)) | uint32_t(in.Byte(1)) << 8 | uint32_t(in.Byte(2)) << 16 |
                   uint32_t(in.Byte(3)) << 24;

  MarkupText m = ConvertMarkup(body);
  CheckMarkup(m);
  Check(m.text.size() <= ExpandTextEscapes(body).size(), "markup made the text longer");
  MarkupText h = ConvertMarkup(HeaderBody(title, body));
  CheckMarkup(h);
  std::string header = HeaderTitle(title);
  Check(header.size() == title.size(), "header title changed its length");

  uint32_t eff = EffectiveStyle(int8_t(in.Byte(4)), in.Byte(5), style);
  Check((eff & style) == style, "style lost bits");
  uint32_t icon = IconBits(eff);
  Check(icon == 0 || icon == 0x10 || icon == 0x20 || icon == 0x30 || icon == 0x40, "unknown icon");
  ButtonSet set = ButtonSetOf(eff);
  Check(set.count >= 0 && set.count <= 3, "button count");
  std::string caps[3];
  for (int i = 0; i < set.count; ++i) {
    Check(set.buttons[i].result >= 1 && set.buttons[i].result <= 7, "button result");
    caps[i] = ButtonCaption(captions, set.buttons[i].captionItem);
  }
  int focus = FocusIndex(DefaultButtonIndex(eff), set.count);
  Check(set.count == 0 ? focus == -1 : focus >= 0 && focus < set.count, "focus outside the buttons");
  int alt = AltCharTarget(caps, set.count, char(in.Byte(6)));
  int letter = LetterKeyTarget(caps, set.count, in.Byte(7) | (in.Byte(5) & 1) << 8);
  Check(alt >= -1 && alt < set.count && letter >= -1 && letter < set.count, "key target outside the buttons");
  for (int step : {-1, 1}) {
    int next = FocusStep(focus, set.count, step);
    Check(set.count == 0 ? next == -1 : next >= 0 && next < set.count, "focus step outside the buttons");
  }

  // Measuring as the box does it: the lines of the plain text, each as wide
  // as its characters in a font of 1 to 64 pixels.
  std::vector<std::string> lines = LinesToMeasure(m.text);
  std::string joined;
  for (size_t i = 0; i < lines.size(); ++i) joined += (i ? "\r\n" : "") + lines[i];
  Check(!lines.empty(), "no line to measure");
  Check(m.text.empty() ? joined == " " : m.text.compare(0, joined.size(), joined) == 0, "lines lost text");
  int charWidth = 1 + in.Byte(4) % 64;
  std::vector<int> widths;
  for (const std::string& l : lines) widths.push_back(int(l.size()) * charWidth);
  int lineHeight = LineHeightFor(1 + in.Byte(5) % 64, in.Byte(6) % 8, title);
  TextExtent e = MeasureLineWidths(widths, lineHeight);
  Check(e.w >= 0 && e.w <= kWrapWidth && e.h >= 0, "measure out of range");
  int calls = 0;
  int w = WidenForBold(e.w, e.h, [&](int width, int& reqW, int& reqH) {
    ++calls;
    reqW = width + in.Byte(7) % 32;
    reqH = e.h + (in.Byte(calls % 8) % 3) - 1;
  });
  Check(calls >= 1 && calls <= 21 && w >= e.w, "widening");
  BoxSize box = BoxSizeFor(w + 10, e.h, in.Byte(0) % 16, in.Byte(1) % 16, in.Byte(2) % 64);
  Check(box.width >= kMinBoxWidth && box.height > e.h, "box smaller than its text");
  Rect r = TextPlacement(box.width, box.height, w + 10, e.h);
  for (int i = 0; i < set.count; ++i) Check(ButtonLeft(box.width, i, set.count) < box.width, "button off the box");
  Check(ButtonTop(box.height) < box.height && r.w == w + 10, "geometry");
  return 0;
}
