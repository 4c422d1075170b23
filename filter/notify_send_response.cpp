#include <exception>

#include "common/debug_log.h"
#include "filter/auth_complete_helper.h"
#include "filter/notifications.h"
#include "filter/notifications_helper.h"
#include "filter/page_body.h"
#include "filter/pl_hx_context.h"

namespace {
constexpr DWORD kStatusContinue = 100;
constexpr DWORD kStatusOK = 200;

bool AnswerMustBeInlineImage(const CDLLContext* pContext) {
  return pContext != nullptr && pContext->m_pMyOwnContext != nullptr &&
         pContext->m_pMyOwnContext->m_bAnswerMustBeInlineImage;
}

// An answer that is not an inline image would carry a file out of the
// ranges: the refusal goes in its place, also when the answer cannot be
// checked. True when refused.
bool RefusedUnlessInlineImage(CDLLContext* pContext) noexcept {
  bool image = false;
  try {
    image = CAuthCompleteHelper::IsInlineImageAnswer(pContext);
  } catch (...) {
    DebugLog("[CNotifications::NotifySendResponse] The answer could not be checked.");
  }
  if (image) return false;
  DebugLog("[CNotifications::NotifySendResponse] Only an inline image may answer this request; it is refused.");
  CAuthCompleteHelper::RefuseUndecided(pContext);
  return true;
}

// An answer whose page the module may still edit goes on only when its body
// is that page; any other body goes out as the server sent it.
void IgnoreUnlessPageBody(CDLLContext* pContext) {
  if (!IsEditablePageBody(pContext)) pContext->m_dwControlMessage = ControlMessageIgnore;
}
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
      // An answer that had to be checked cannot be: it is refused.
      if (AnswerMustBeInlineImage(pContext)) {
        CAuthCompleteHelper::RefuseUndecided(pContext);
      } else {
        pContext->m_dwControlMessage = ControlMessageIgnore;
      }
    } else {
      const DWORD status = pContext->m_spOutboundContext->m_dwStatusCode;
      DebugLog("[CNotifications::NotifySendResponse] HTTP Status=%d", static_cast<int>(status));
      if (AnswerMustBeInlineImage(pContext)) {
        // An image goes out as the server sent it. Any status may carry a
        // body, 100 too: each answer is judged alike.
        if (!RefusedUnlessInlineImage(pContext)) pContext->m_dwControlMessage = ControlMessageIgnore;
      } else if (status == kStatusContinue) {
        DebugLog("[CNotifications::NotifySendResponse] Status is 100. Continue.");
        IgnoreUnlessPageBody(pContext);
      } else if (status != kStatusOK) {
        DebugLog("[CNotifications::NotifySendResponse] Status is not 200. Ignore request");
        pContext->m_dwControlMessage = ControlMessageIgnore;
      } else {
        DebugLog("Adding no cache headers.");
        // A header the host refuses changes neither the result nor the
        // control message: the page itself is still wanted.
        CNotificationsHelper::AddNoCacheHeaders(pContext);
        IgnoreUnlessPageBody(pContext);
      }
    }
  } catch (const std::exception& e) {
    DebugLog("[CNotifications::NotifySendResponse] Runtime exception: %s", e.what());
    if (AnswerMustBeInlineImage(pContext)) CAuthCompleteHelper::RefuseUndecided(pContext);
  } catch (...) {
    DebugLog("[CNotifications::NotifySendResponse] Unexpected exception");
    if (AnswerMustBeInlineImage(pContext)) CAuthCompleteHelper::RefuseUndecided(pContext);
  }
  LogNotificationFinished("NotifySendResponse", dwRet, pContext);
  return dwRet;
}
