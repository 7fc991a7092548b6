// The program's own modal message box: rich-text body with markup, coloured
// band with icon, up to three translatable buttons, optional timeout.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

constexpr uint32_t MB_NOCLOSE_FLAG = 0x10000000;
extern const char* const kDefaultButtonTexts;  // "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|"

void SetMsgBoxFont(const std::string& face, int size, int charset);
// True while a quit request waits in this thread's queue. A box is not opened
// then (it would close at once and answer 0), so no loop around a box spins.
bool QuitMessagePending();
// The pressed button's result; 0 when the box closed without an answer or was not shown.
int RichMsgBox(HWND owner, const std::string& body, const std::string& title, int timeoutMs, uint32_t style,
               const std::string& buttons);
// ownerCode: 0 = bold header + active window, 1 = active window, 2 = active window and Close greyed,
// 3 or more = that window handle.
int ShowMsgBox(intptr_t ownerCode, const std::string& text, const std::string& title, int timeoutMs, uint32_t style,
               int charset, const std::string& buttons);
void ErrorMsg(intptr_t ownerCode, const std::string& text, const std::string& title, int charset,
              const std::string& buttons);
// True when OK was pressed or the box timed out; false when it closed without an answer.
bool AttentionMsg(intptr_t ownerCode, const std::string& text, const std::string& title, int timeoutMs, int charset,
                  const std::string& buttons);
bool ConfirmYesNo(intptr_t ownerCode, const std::string& text, const std::string& title, int timeoutMs, int charset,
                  const std::string& buttons);
bool ConfirmOkCancel(intptr_t ownerCode, const std::string& text, const std::string& title, int charset,
                     const std::string& buttons);
// Loads shell32, USP10, MSLS31 and RICHED32 from the system folder at start.
void PreloadLibraries();
