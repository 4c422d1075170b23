#include "filter/notifications_helper.h"

#include "common/debug_log.h"
#include "filter/notifications.h"
#include "filter/response_headers.h"

BOOL CNotificationsHelper::AddNoCacheHeaders(CDLLContext* pContext) {
  BOOL allAdded = TRUE;
  for (const CResponseHeader& header : g_ResponseHeaders) {
    if (!CBaseNotifications::AddWorkerHeader(pContext, header.m_pszName, header.m_pszValue)) {
      allAdded = FALSE;
      break;
    }
  }
  DebugLog("[CNotificationsHelper::AddNoCacheHeaders] returns <%s>", allAdded ? "TRUE" : "FALSE");
  return allAdded;
}
