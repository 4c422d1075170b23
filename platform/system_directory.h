// The system directory, under which the debug log's default folder
// ("LogFiles/QuenlithLogs/") lies: the environment variable
// HX_SYSTEM_DIRECTORY, else "/var/lib/quenlith".
#pragma once

#include "platform/win_types.h"

// Copies the directory (no trailing separator) and its terminator; returns
// its length, the size needed when the buffer is too small, or 0 on failure.
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
