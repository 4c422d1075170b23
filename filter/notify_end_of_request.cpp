#include "common/debug_log.h"
#include "filter/notifications.h"
#include "filter/pl_hx_context.h"

DWORD CNotifications::NotifyEndOfRequest(CDLLContext* pContext) {
  if (pContext == nullptr) {
    DebugLog("[CNotifications::NotifyEndOfRequest] pointer to CDLLContext is NULL");
    LogNotificationFinished("NotifyEndOfRequest", ERROR_INVALID_DATA, nullptr);
    return ERROR_INVALID_DATA;
  }
  if (pContext->m_pMyOwnContext != nullptr) {
    DebugLog("[CNotifications::NotifyEndOfRequest] delete  CPLHXContext instance: %p",
             static_cast<void*>(pContext->m_pMyOwnContext));
    CPLHXContext::Release(pContext->m_pMyOwnContext);
    pContext->m_pMyOwnContext = nullptr;
  }
  if (pContext->m_pReplaceBuffer != nullptr) {
    DebugLog("[CNotifications::NotifyEndOfRequest] delete  replace buffer: %p",
             static_cast<void*>(pContext->m_pReplaceBuffer));
    delete[] pContext->m_pReplaceBuffer;
    pContext->m_pReplaceBuffer = nullptr;
    pContext->m_dwReplaceBufferLength = 0;
  }
  LogNotificationFinished("NotifyEndOfRequest", ERROR_SUCCESS, pContext);
  return ERROR_SUCCESS;
}
