#include "filter/notifications.h"

// Takes no decision yet: the request goes on as the host would send it.
DWORD CNotifications::NotifySendRawData(CDLLContext* pContext) {
  LogNotificationFinished("NotifySendRawData", ERROR_SUCCESS, pContext);
  return ERROR_SUCCESS;
}
