// Seam: the access-denied page and the direct-access rules are not built yet.
// Both report that nothing was done, so the handler marks the request
// Ignore and says so in its log; nothing is sent to the client.
#include "common/debug_log.h"
#include "filter/auth_complete_helper.h"

namespace {
constexpr DWORD kNotBuilt = 120;  // ERROR_CALL_NOT_IMPLEMENTED
}

DWORD CAuthCompleteHelper::SendAccessDeniedResponse(CDLLContext* pContext) {
  DebugLog("[CAuthCompleteHelper::SendAccessDeniedResponse] not available in this build.");
  return kNotBuilt;
}

DWORD CAuthCompleteHelper::HandleDirectFileAccessRequest(CDLLContext* pContext, const ci_string& url,
                                                         const ci_string& queryString, DWORD fileAccessType,
                                                         bool& accessDeniedSent, bool& forceSaveIdRemoved) {
  accessDeniedSent = false;
  forceSaveIdRemoved = false;
  DebugLog("[CAuthCompleteHelper::HandleDirectFileAccessRequest] not available in this build. URL <%s> type <%u>.",
           url.c_str(), fileAccessType);
  return kNotBuilt;
}
