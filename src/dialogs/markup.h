// The message box's text markup and the rules that lay the box out, kept
// apart from the window code so that they can be checked without a screen.
// Portable: no <windows.h>.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// ---- markup ----
// Bold span as character offsets into the plain text, end exclusive; a line
// break counts as its two characters CR and LF.
struct BoldRange {
  int start = 0;
  int end = 0;
};

struct MarkupText {
  std::string text;
  std::vector<BoldRange> bold;
};

// "\\n" -> CR LF and "\\t" -> tab (exact case), then "<P>" -> CR LF and
// "<T>" -> tab (any case); each replacement is one left-to-right pass.
std::string ExpandTextEscapes(const std::string& text);
// ExpandTextEscapes, then "<B>".."</B>" (any case) become bold ranges.
MarkupText ConvertMarkup(const std::string& text);

// ---- titles and styles ----
extern const char* const kMsgBoxKinds;  // "|Error|Attention|Confirm|"
constexpr int kKindError = 0;
constexpr int kKindAttention = 1;
constexpr int kKindConfirm = 2;

constexpr uint32_t kStyleRight = 0x80000;        // MB_RIGHT
constexpr uint32_t kStyleRtlReading = 0x100000;  // MB_RTLREADING
constexpr uint32_t kStyleNoClose = 0x10000000;

// Header line shown above the text with owner code 0: the title, upper-cased
// when it is a piece of the kind list (so "Error" shows as "ERROR").
std::string HeaderTitle(const std::string& title);
// "<<b>" + header title + "</b><P><P>" + text + "<P>"
std::string HeaderBody(const std::string& title, const std::string& text);
// Style after the charset (Hebrew 177 and Arabic 178 read right to left)
// and the owner code (2 greys the Close command).
uint32_t EffectiveStyle(intptr_t ownerCode, int charset, uint32_t style);
// Icon bits 0x10..0x40 of the style; 0 means the program's own icon.
uint32_t IconBits(uint32_t style);
// Button that has the focus first (bits 8 to 11).
int DefaultButtonIndex(uint32_t style);

// ---- buttons ----
struct ButtonSpec {
  int captionItem;  // item of the caption list
  int result;       // IDOK .. IDNO
};
struct ButtonSet {
  int count = 0;
  ButtonSpec buttons[3] = {};
};
ButtonSet ButtonSetOf(uint32_t style);
// Caption of item n of the "|"-list; missing or empty items give "".
std::string ButtonCaption(const std::string& captions, int item);

constexpr int kButtonWidth = 70;
constexpr int kButtonHeight = 23;
// Left edge of button `index` of `count` in a client area `clientWidth` wide:
// the last one at clientWidth - 80, the others touching it on the left.
int ButtonLeft(int clientWidth, int index, int count);
int ButtonTop(int clientHeight);

// Index modulo count; a negative index counts from the end. -1 when count is 0.
int FocusIndex(int index, int count);

// ---- keys ----
// Alt+ch: the button whose caption's second character is ch or upper(ch);
// the first button wins over later ones. -1 when none.
int AltCharTarget(const std::string captions[3], int count, char ch);
// A letter key (virtual-key code 'A'..'Z'): the button whose caption has the
// letter right after "&" (or as its first letter when there is no "&"),
// compared in upper case; the last of the matching buttons wins. -1 when none.
int LetterKeyTarget(const std::string captions[3], int count, unsigned vk);
// Focus after an arrow or Tab key: step -1 or +1 from `current`, wrapping;
// with no focused button (-1) the first or last button.
int FocusStep(int current, int count, int step);

// ---- measuring and geometry ----
constexpr int kWrapWidth = 600;
// Line height of the box font: character height plus external leading, one
// more for "MS PGothic".
int LineHeightFor(int charHeight, int externalLeading, const std::string& face);
// Lines to measure: an empty text counts as " "; cut at CR LF; an empty last
// line is not measured.
std::vector<std::string> LinesToMeasure(const std::string& text);
struct TextExtent {
  int w = 0;
  int h = 0;
};
// Width: widest line + 10, at most 600; height: each line counts as the lines
// it wraps into at 600 pixels.
TextExtent MeasureLineWidths(const std::vector<int>& widths, int lineHeight);
// Bold text is wider than measured: tries widths w, w+10, .. w+200 until the
// control asks for no more than height h. `resize` sizes the control and
// returns the size that it then asks for (a negative height: no answer, and
// the width stays w + 10). Returns the width to keep.
int WidenForBold(int w, int h, const std::function<void(int width, int& reqW, int& reqH)>& resize);

struct BoxSize {
  int width = 0;
  int height = 0;
};
constexpr int kMinBoxWidth = 360;
BoxSize BoxSizeFor(int controlWidth, int controlHeight, int frameX, int frameY, int captionHeight);

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
};
// Text control inside the client area: centred right of the band, above the strip.
Rect TextPlacement(int clientWidth, int clientHeight, int controlWidth, int controlHeight);
