// The system's message texts for Win32 error codes and HRESULTs, as the
// debug log appends them. An HRESULT of the Win32 facility reads as its
// code. Codes without a text give an empty text.
#pragma once

#include "platform/win_types.h"

// The text, ending in "\r\n" as the system's message table gives it, or "".
const char* LookupSystemMessage(DWORD code);
