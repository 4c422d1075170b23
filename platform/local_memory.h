// Local-heap blocks as the Win32 calls that hand them out expect their caller
// to free them (converted SIDs, saved INI strings).
#pragma once

#include "platform/win_types.h"

using HLOCAL = void*;

constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_ZEROINIT = 0x0040;
constexpr UINT LPTR = LMEM_FIXED | LMEM_ZEROINIT;

// Null on failure (the last error is then ERROR_NOT_ENOUGH_MEMORY).
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
// Null on success, like the Win32 call.
HLOCAL LocalFree(HLOCAL block);
