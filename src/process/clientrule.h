// Which window may register for the agent's notifications (message 1124):
// the agent posts to it for as long as it runs, with its own rights, so a
// registration must not turn the agent into a sender of system messages
// (WM_CLOSE, BM_CLICK) to a window of another session or rights.
#pragma once
#include <cstdint>

constexpr uint32_t kFirstClientMessage = 0x0400;  // WM_USER: below it are the system's messages
bool ClientRegistrationAllowed(uint32_t message, bool isWindow, bool sameSession);
