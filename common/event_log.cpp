#include "common/event_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/last_error.h"
#include "platform/thread_token.h"

namespace {
std::atomic<CEventLog*> g_pModuleEventLog{nullptr};

// The texts of the module's events that carry no text of their own. On the
// servers an event-message file registered for the source holds them; this
// platform's event log has none, and a bare identifier tells nobody anything.
struct EventMessage {
  DWORD eventId;
  const char* text;
};
constexpr EventMessage kEventMessages[] = {
    {kStartUpSucceededEventId, "Quenlith Pellora started and serves requests."},
    {kStartUpFailedEventId,
     "Quenlith Pellora failed to start and serves no requests; the error reported before this one says why."},
};

const char* EventMessageText(DWORD eventId) {
  for (const EventMessage& m : kEventMessages) {
    if (m.eventId == eventId) return m.text;
  }
  return nullptr;
}
}  // namespace

CEventLog::~CEventLog() {
  std::unique_lock<std::shared_mutex> hold(m_lock);
  if (m_bRegistered != 0 && m_hEventSource != nullptr) {
    m_bRegistered = 0;
    if (DeregisterEventSource(m_hEventSource)) m_hEventSource = nullptr;
  }
}

bool CEventLog::Register(const char* sourceName) {
  std::unique_lock<std::shared_mutex> hold(m_lock);
  if (m_hEventSource != nullptr || m_bRegistered != 0) return false;
  m_hEventSource = RegisterEventSourceA(nullptr, sourceName != nullptr ? sourceName : "Quenlith Pellora");
  if (m_hEventSource == nullptr) return false;
  m_bRegistered = 1;
  return true;
}

bool CEventLog::IsRegistered() const {
  std::shared_lock<std::shared_mutex> hold(m_lock);
  return m_bRegistered != 0;
}

bool CEventLog::Deregister() {
  std::unique_lock<std::shared_mutex> hold(m_lock);
  m_bRegistered = 0;
  if (m_hEventSource == nullptr) return false;
  if (!DeregisterEventSource(m_hEventSource)) return false;
  m_hEventSource = nullptr;
  return true;
}

DWORD CEventLog::ReportEventV(WORD type, WORD category, DWORD eventId, DWORD rawDataSize, void* rawData,
                              const char* const* strings, size_t count) {
  std::shared_lock<std::shared_mutex> hold(m_lock);
  if (m_hEventSource == nullptr) return ERROR_INVALID_PARAMETER;
  LPCSTR taken[6] = {};
  WORD n = 0;
  while (n < 6 && n < count && strings[n] != nullptr) {
    taken[n] = strings[n];
    ++n;
  }
  if (n == 0) {
    taken[0] = EventMessageText(eventId);
    if (taken[0] != nullptr) n = 1;
  }
  // Reports are written as the process, never as the impersonated caller.
  HANDLE token = nullptr;
  bool reverted = false;
  if (OpenThreadToken(GetCurrentThread(), TOKEN_IMPERSONATE, TRUE, &token)) {
    RevertToSelf();
    reverted = true;
  }
  WORD reportType = type == 1 ? EVENTLOG_ERROR_TYPE : type == 2 ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE;
  DWORD result = 0;
  if (!ReportEventA(m_hEventSource, reportType, category, eventId, nullptr, n, rawDataSize, taken, rawData)) {
    result = GetLastError();
  }
  if (reverted) {
    SetThreadToken(nullptr, token);
    CloseToken(token);
  }
  return result;
}

void SetModuleEventLog(CEventLog* eventLog) { g_pModuleEventLog.store(eventLog, std::memory_order_release); }

CEventLog* GetModuleEventLog() { return g_pModuleEventLog.load(std::memory_order_acquire); }

void LogEventF(WORD type, const char* format, ...) {
  if (format == nullptr) return;
  char text[2049] = {};
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n <= 0 || text[0] == '\0') return;
  CEventLog* log = GetModuleEventLog();
  if (log != nullptr) log->ReportEvent(type, 0, kGeneralReportEventId, 0, nullptr, text);
}

void EventLogSink(const char* text) {
  if (text == nullptr) return;
  CEventLog* log = GetModuleEventLog();
  if (log != nullptr) log->ReportEvent(3, 0, kGeneralReportEventId, 0, nullptr, text);
}

void ReportEventCallback(WORD type, const char* text) {
  if (text == nullptr) return;
  CEventLog* log = GetModuleEventLog();
  if (log != nullptr) log->ReportEvent(type, 0, kGeneralReportEventId, 0, nullptr, text);
}
