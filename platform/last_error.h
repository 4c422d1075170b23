// The thread's last error, as the Win32 calls the Parts rely on leave it.
#pragma once

#include "platform/win_types.h"

DWORD GetLastError();
void SetLastError(DWORD err);
