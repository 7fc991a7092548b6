// The inform window: a resizable window that shows a downloaded announcement
// in a read-only rich-text control and, when a link is known, one button
// that opens the link in the browser and closes the window. Layout rules
// live in dialogs/informlayout.cpp.
#pragma once
#include <windows.h>

#include <string>

// Shows `body` (as plain text, never as RTF) until the user closes the
// window; the owner is not disabled. The link is trimmed; only http:// and
// https:// links are opened, others are refused with a debug line. With an
// empty body the link is opened at once and no window is shown. Sizes are
// outer pixels; 0 or less takes 360, and the size is kept between a usable
// minimum and the work area. Returns true when the body was shown or the
// link opened for an empty body; false when there was nothing to show or
// open (both empty, or an empty body with a refused link) or the window
// could not be made. A WM_QUIT that arrives meanwhile closes the window and
// is posted again for the caller's loop.
bool ShowInformWindow(HWND owner, const std::string& title, const std::string& button, int charset, int fontSize,
                      const std::string& fontFace, bool rightToLeft, int height, int width, const std::string& link,
                      const std::string& body);
