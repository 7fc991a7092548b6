// HTTP downloads through WinINet (loaded on first use from the system folder).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "setup/progress.h"

void SetHttpAbort(bool on);
bool HttpAborted();
void ReleaseWinInet();
