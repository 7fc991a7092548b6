#include "process/clientrule.h"

bool ClientRegistrationAllowed(uint32_t message, bool isWindow, bool sameSession) {
  return isWindow && sameSession && message >= kFirstClientMessage && message <= 0xFFFF;
}
