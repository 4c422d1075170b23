// The system event log: reports go to syslog and, when a report file is set,
// are appended to it one line each (tests and administrators read it).
#pragma once

#include <string>

#include "platform/win_types.h"

constexpr WORD EVENTLOG_SUCCESS = 0x0000;
constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
constexpr WORD EVENTLOG_WARNING_TYPE = 0x0002;
constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;

// A handle to a registered source; null on failure.
HANDLE RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName);
BOOL DeregisterEventSource(HANDLE source);
// Reports one event. Fails with 6 for a handle that is not a live source.
BOOL ReportEventA(HANDLE source, WORD type, WORD category, DWORD eventId, void* userSid, WORD numStrings,
                  DWORD dataSize, LPCSTR* strings, LPVOID rawData);

// The report file: the environment variable HX_EVENTLOG_FILE unless set here
// (empty: no file). Each line is
//   <source>\t<ERROR|WARNING|INFORMATION>\t0x<id, 8 hex digits>\t<category>\t<string 1>\t...
// with backslash, tab, carriage return and line feed in the strings written
// as \\, \t, \r and \n, and any other control character as \xHH.
void SetEventReportFile(const std::string& path);
std::string EventReportFile();

// A filter host may listen to the reports as well, wherever else they go (a
// host prints why the module failed to start): it exports, with C linkage and
// default visibility (an executable needs -rdynamic / ENABLE_EXPORTS), a
// function named HX_EVENT_LISTENER_EXPORT of type PFN_HxEventReported. It is
// called after each report on the reporting thread with the source, the type,
// the identifier and the insertion strings joined by blanks.
extern "C" {
typedef void (*PFN_HxEventReported)(const char* source, WORD type, DWORD eventId, const char* text);
}
#define HX_EVENT_LISTENER_EXPORT "HxEventReported"
