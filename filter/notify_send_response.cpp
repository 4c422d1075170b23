#include <exception>

#include "common/debug_log.h"
#include "filter/notifications.h"
#include "filter/notifications_helper.h"

namespace {
constexpr DWORD kStatusContinue = 100;
constexpr DWORD kStatusOK = 200;
}  // namespace

DWORD CNotifications::NotifySendResponse(CDLLContext* pContext) {
  DWORD dwRet = ERROR_SUCCESS;
  try {
    if (pContext == nullptr) {
      DebugLog("[CNotifications::NotifySendResponse] DLLcontext NULL, do nothing.");
      DebugLog("[CNotifications::NotifySendResponse] Invalid pointers");
      dwRet = ERROR_INVALID_DATA;
    } else if (pContext->m_spOutboundContext.IsNull()) {
      DebugLog("[CNotifications::NotifySendResponse] Invalid pointers");
      dwRet = ERROR_INVALID_DATA;
      pContext->m_dwControlMessage = ControlMessageIgnore;
    } else {
      const DWORD status = pContext->m_spOutboundContext->m_dwStatusCode;
      DebugLog("[CNotifications::NotifySendResponse] HTTP Status=%d", static_cast<int>(status));
      if (status == kStatusContinue) {
        DebugLog("[CNotifications::NotifySendResponse] Status is 100. Continue.");
      } else if (status != kStatusOK) {
        DebugLog("[CNotifications::NotifySendResponse] Status is not 200. Ignore request");
        pContext->m_dwControlMessage = ControlMessageIgnore;
      } else {
        DebugLog("Adding no cache headers.");
        // A header the host refuses changes neither the result nor the
        // control message: the page itself is still wanted.
        CNotificationsHelper::AddNoCacheHeaders(pContext);
      }
    }
  } catch (const std::exception& e) {
    DebugLog("[CNotifications::NotifySendResponse] Runtime exception: %s", e.what());
  } catch (...) {
    DebugLog("[CNotifications::NotifySendResponse] Unexpected exception");
  }
  LogNotificationFinished("NotifySendResponse", dwRet, pContext);
  return dwRet;
}
