#include "dialogs/informlayout.h"

#include <algorithm>

#include "paths/utils.h"

InformLayout InformLayoutFor(int clientWidth, int clientHeight, bool withButton) {
  const int W = std::max(clientWidth, 0), H = std::max(clientHeight, 0);
  InformLayout l;
  l.hasButton = withButton;
  l.text.x = kInformTextLeft;
  l.text.y = 0;
  l.text.w = std::max(W - kInformTextLeft, 0);
  l.text.h = withButton ? std::max(H - kInformStripHeight, 0) : H;
  if (withButton) {
    l.button.x = (W - kInformButtonWidth) / 2;
    // centred in the strip: H - 43 + (43 - 25) / 2 + 1
    l.button.y = H - kInformStripHeight + (kInformStripHeight - kInformButtonHeight) / 2 + 1;
    l.button.w = kInformButtonWidth;
    l.button.h = kInformButtonHeight;
    l.stripTop = H - kInformStripHeight;
  }
  return l;
}

std::string InformTextFace(const std::string& face) {
  return face.empty() || face == "Tahoma" ? "Verdana" : face;
}

InformSize ClampInformSize(int width, int height, int workWidth, int workHeight, int nonClientW, int nonClientH) {
  auto one = [](int v, int least, int most) {
    if (v <= 0) v = kInformDefaultSize;
    v = std::max(v, least);
    // A work area smaller than the least size wins: a window that sticks out
    // of the screen cannot be closed either.
    if (most > 0) v = std::min(v, most);
    return v;
  };
  InformSize s;
  s.width = one(width, kInformMinClientWidth + std::max(nonClientW, 0), workWidth);
  s.height = one(height, kInformMinClientHeight + std::max(nonClientH, 0), workHeight);
  return s;
}

InformPoint InformWindowPos(int screenWidth, int screenHeight, int width, int height, const Rect& workArea) {
  InformPoint p{(screenWidth - width) / 2, (screenHeight - height) / 2};
  if (workArea.w > 0 && workArea.h > 0) {
    p.x = std::max(std::min(p.x, workArea.x + workArea.w - width), workArea.x);
    p.y = std::max(std::min(p.y, workArea.y + workArea.h - height), workArea.y);
  }
  return p;
}

std::string InformLinkRefusal(const std::string& link) {
  if (link.empty()) return "no link";
  for (unsigned char c : link)
    if (c <= ' ' || c == 0x7F || c == '"') return "blank, quote or control character in the link";
  size_t schemeEnd = 0;
  if (StartsWith("http://", link, true))
    schemeEnd = 7;
  else if (StartsWith("https://", link, true))
    schemeEnd = 8;
  else
    return "not an http:// or https:// address";
  const size_t hostEnd = link.find_first_of("/\\?#", schemeEnd);
  if (hostEnd == schemeEnd || schemeEnd == link.size()) return "no host in the address";
  return "";
}
