// The inform window's rules that need no screen: where the text control and
// the button go, the grey strip, the window's size and place, the text
// font's face, and which links the button may open.
// Portable: no <windows.h>.
#pragma once
#include <string>

#include "dialogs/markup.h"  // Rect

constexpr int kInformStripHeight = 43;
constexpr int kInformButtonWidth = 160;
constexpr int kInformButtonHeight = 25;
constexpr int kInformTextLeft = 3;
constexpr int kInformTextFontHeight = 15;  // cell height of the text font in pixels
// Size the agent uses when the INFO file gives none.
constexpr int kInformDefaultSize = 360;
// Smallest client area that still shows the button and a few lines of text.
constexpr int kInformMinClientWidth = 240;
constexpr int kInformMinClientHeight = kInformStripHeight + 5 * 16;

struct InformLayout {
  Rect text;
  bool hasButton = false;
  Rect button;  // all zero without a button
  int stripTop = -1;  // y of the dark line above the grey strip; -1 without a button
};

// Text control over the whole client area from x = 3; with a button the
// bottom 43 pixels are the strip and the 160 x 25 button sits centred in it,
// 33 pixels above the bottom edge. Widths and heights never go below 0.
InformLayout InformLayoutFor(int clientWidth, int clientHeight, bool withButton);

// Face of the text font: the given face, except "Verdana" for an empty face
// or exactly "Tahoma" (the dialog face of most languages reads badly at 15
// pixels in a long text).
std::string InformTextFace(const std::string& face);

struct InformSize {
  int width = 0;
  int height = 0;
};
// Outer window size from the INFO file's width and height. A value of 0 or
// below takes the default 360; the result is at least the smallest usable
// client area plus the frame (nonClientW x nonClientH) and at most the work
// area, so a stray value can never make a window too small to see or to
// close.
InformSize ClampInformSize(int width, int height, int workWidth, int workHeight, int nonClientW, int nonClientH);

struct InformPoint {
  int x = 0;
  int y = 0;
};
// Centred on the screen ((screen - size) / 2, rounded toward zero), then
// moved inside the work area where it would reach under a task bar.
InformPoint InformWindowPos(int screenWidth, int screenHeight, int width, int height, const Rect& workArea);

// Why the button must not open this link, or "" when it may. Only http://
// and https:// addresses (scheme in any case) with a host are opened: the
// link comes from a downloaded file and the agent may run elevated, so a
// program, a file, a UNC path or another scheme is refused, and so is a
// link with blanks, quotes or control characters that a browser's command
// line could split into options.
std::string InformLinkRefusal(const std::string& link);
inline bool InformLinkAllowed(const std::string& link) { return InformLinkRefusal(link).empty(); }
