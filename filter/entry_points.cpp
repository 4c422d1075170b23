// The three entry points the filter host calls, and the library's load and
// unload hook. Only these three are exported (see PL_Hexmoor.map).
#include <cstring>
#include <exception>

#include "common/debug_log.h"
#include "common/event_log.h"
#include "filter/entry_points.h"
#include "filter/notifications.h"
#include "general/pl_hx_general_settings.h"
#include "platform/debug_output.h"

namespace {

constexpr const char kProductName[] = "Quenlith Pellora";
constexpr const char kModuleName[] = "PL_Hexmoor.dll";
constexpr const char kResourceLibraryName[] = "PelrRes64.dll";
constexpr const char kRegistryKey[] = "Software\\Quenlith\\Pellora";

constexpr DWORD kEventInitSucceeded = kStartUpSucceededEventId;
constexpr DWORD kEventInitFailed = kStartUpFailedEventId;
constexpr DWORD kEventErrorWithText = kErrorWithTextEventId;

constexpr DWORD kFilterVersion = 0x60000;
constexpr DWORD kFilterFlags = SF_NOTIFY_AUTH_COMPLETE | SF_NOTIFY_ORDER_LOW | SF_NOTIFY_PREPROC_HEADERS |
                               SF_NOTIFY_AUTHENTICATION | SF_NOTIFY_SEND_RAW_DATA | SF_NOTIFY_END_OF_REQUEST |
                               SF_NOTIFY_SEND_RESPONSE;
static_assert(kFilterFlags == 0x040264C0);

__attribute__((constructor)) void HxLibraryAttach() {}

__attribute__((destructor)) void HxLibraryDetach() { OutputDebugStringA("\nPL_Hexmoor DLL_PROCESS_DETACH\n"); }

}  // namespace

BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
  try {
    CPLHXGeneralSettings* settings = CPLHXGeneralSettings::getInstance();
    if (settings == nullptr) return FALSE;  // the process is exiting
    settings->m_dwSuccessEventID = kEventInitSucceeded;
    settings->m_dwFailureEventID = kEventInitFailed;
    settings->m_dwErrorEventID = kEventErrorWithText;
    if (!settings->Init(kProductName, kModuleName, kResourceLibraryName, kRegistryKey)) return FALSE;
    if (pVer == nullptr) return FALSE;
    pVer->dwFilterVersion = kFilterVersion;
    pVer->dwFlags = kFilterFlags;
    // Bounded copy that always leaves a terminated description.
    const size_t n = std::strlen(kProductName);
    const size_t copied = n < SF_MAX_FILTER_DESC_LEN ? n : SF_MAX_FILTER_DESC_LEN - 1;
    std::memcpy(pVer->lpszFilterDesc, kProductName, copied);
    pVer->lpszFilterDesc[copied] = '\0';
    return TRUE;
  } catch (...) {
    // Nothing may unwind into the host.
    return FALSE;
  }
}

DWORD HttpFilterProc(CDLLContext* pContext) {
  if (pContext == nullptr) return 0;
  try {
    CPLHXGeneralSettings* settings = CPLHXGeneralSettings::getInstance();
    if (settings == nullptr) return 0;  // the process is exiting
    CNotifications notifications;
    // Direct calls: the handler object is ours and never further derived.
    switch (pContext->m_dwNotificationType) {
      case SF_NOTIFY_SEND_RESPONSE:
        return notifications.CNotifications::NotifySendResponse(pContext);
      case SF_NOTIFY_END_OF_REQUEST:
        return notifications.CNotifications::NotifyEndOfRequest(pContext);
      case SF_NOTIFY_SEND_RAW_DATA:
        return notifications.CNotifications::NotifySendRawData(pContext);
      case SF_NOTIFY_PREPROC_HEADERS:
        return notifications.CNotifications::NotifyPreProcHeaders(pContext);
      case SF_NOTIFY_AUTH_COMPLETE:
        settings->RefreshSettingsIfNeeded();
        return notifications.CNotifications::NotifyAuthComplete(pContext);
      default:
        return 0;
    }
  } catch (const std::exception& e) {
    DebugLog("[HttpFilterProc] Runtime exception: %s", e.what());
  } catch (...) {
    DebugLog("[HttpFilterProc] Unexpected exception");
  }
  return ERROR_INVALID_DATA;
}

DWORD TerminateFilter() {
  try {
    CPLHXGeneralSettings* settings = CPLHXGeneralSettings::getInstance();
    // After the process began its exit the settings object is gone: there
    // is nothing left to release.
    return settings != nullptr ? settings->Uninitialize() : 0;
  } catch (...) {
    return ERROR_INVALID_DATA;
  }
}
