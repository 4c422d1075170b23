#include "filter/notifications.h"

// Takes no decision yet: the request goes on as the host would send it.
DWORD CNotifications::NotifyPreProcHeaders(CDLLContext* pContext) {
  LogNotificationFinished("NotifyPreProcHeaders", ERROR_SUCCESS, pContext);
  return ERROR_SUCCESS;
}
