// The event-log writer the settings object owns, and the printf-style event
// writers that report through it.
#pragma once

#include <shared_mutex>

#include "common/debug_log.h"
#include "platform/event_source.h"
#include "platform/win_types.h"

// Identifier of the general reports (formatted events, the debug log at
// level 10, the resource library's reports).
constexpr DWORD kGeneralReportEventId = 0x60000074;
// The settings object's start-up reports and its error with a text.
constexpr DWORD kStartUpSucceededEventId = 0x60000065;
constexpr DWORD kStartUpFailedEventId = 0x6000007E;
constexpr DWORD kErrorWithTextEventId = 0x6000006F;

class CEventLog {
 public:
  CEventLog() = default;
  CEventLog(const CEventLog&) = delete;
  CEventLog& operator=(const CEventLog&) = delete;
  virtual ~CEventLog();

  // Registers the source (null: "Quenlith Pellora"); only once.
  bool Register(const char* sourceName);
  // True only when a registered source was deregistered.
  bool Deregister();
  bool IsRegistered() const;

  // Up to six insertion strings, ending at the first null; a report without
  // one carries its event's own text (every event of the module has one:
  // the error and general reports carry theirs as the first string). Returns 0, 87
  // without a registered source, or the system's error of a failed report.
  template <class... Strings>
  DWORD ReportEvent(WORD type, WORD category, DWORD eventId, DWORD rawDataSize, void* rawData,
                    Strings... strings) {
    const char* list[] = {static_cast<const char*>(strings)..., nullptr};
    return ReportEventV(type, category, eventId, rawDataSize, rawData, list, sizeof...(Strings));
  }

  DWORD ReportEventV(WORD type, WORD category, DWORD eventId, DWORD rawDataSize, void* rawData,
                     const char* const* strings, size_t count);

 private:
  // Reports hold it shared while they use the source; registering and
  // deregistering (TerminateFilter, while requests may still report) hold
  // it alone, so that no report reads the handle as it goes.
  mutable std::shared_mutex m_lock;
  HANDLE m_hEventSource = nullptr;
  DWORD m_bRegistered = 0;
};

// The event log that LogEventF, EventLogSink and ReportEventCallback report
// on: the settings object's, set while it exists.
void SetModuleEventLog(CEventLog* eventLog);
CEventLog* GetModuleEventLog();

// A formatted general report (at most 2,048 characters); empty text is not
// reported.
void LogEventF(WORD type, const char* format, ...) HX_PRINTF(2, 3);
// The debug-log sink of log level 10: each line becomes an information event.
void EventLogSink(const char* text);
// The resource library's event hook.
void ReportEventCallback(WORD type, const char* text);
