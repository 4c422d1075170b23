#include "filter/notifications.h"

// Takes no decision yet: the request goes on as the host would send it.
DWORD CNotifications::NotifyAuthComplete(CDLLContext* pContext) {
  LogNotificationFinished("NotifyAuthComplete", ERROR_SUCCESS, pContext);
  return ERROR_SUCCESS;
}
