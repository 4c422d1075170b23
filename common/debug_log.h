// The process-wide debug log: a printf-style writer that is off until the
// settings switch it on. Failures of the log never reach the caller.
#pragma once

#include <string>

#include "platform/win_types.h"

#define HX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

void DebugLog(const char* format, ...) HX_PRINTF(1, 2);
// Appends the system's text for a Win32 error code or an HRESULT.
void DebugLogError(DWORD code, const char* format, ...) HX_PRINTF(2, 3);
// Whether a line written now would go anywhere (lets callers skip costly
// formatting of their arguments).
bool DebugLogEnabled();
