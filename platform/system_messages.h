// The system's message texts for Win32 error codes and HRESULTs, as the
// debug log appends them. An HRESULT of the Win32 facility reads as its
// code. Codes without a text give an empty text.
#pragma once

#include <string>

#include "platform/win_types.h"

// The text, ending in "\r\n" as the system's message table gives it, or "".
const char* LookupSystemMessage(DWORD code);

// The text as one sentence to go on with: without its line break and full
// stop ("The system cannot find the file specified"), or "".
std::string SystemMessageInLine(DWORD code);

// The reason of a failure for an administrator's message: the system's text
// without its line break and full stop, then the code in hexadecimal
// ("The system cannot find the path specified (0x80070003)"); a code
// without a text reads "error 0x80070020".
std::string ReasonInWords(DWORD code);
