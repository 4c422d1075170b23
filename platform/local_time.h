// Wall-clock local time with milliseconds and the current thread's
// identifier, as the log records print them.
#pragma once

#include "platform/win_types.h"

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;  // 0 = Sunday
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
static_assert(sizeof(SYSTEMTIME) == 16);

void GetLocalTime(SYSTEMTIME* st);
// The kernel's identifier of the calling thread.
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
