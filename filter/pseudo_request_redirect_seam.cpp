// Seam: the product's pseudo-requests are not redirected yet. The request is
// reported as not handled, so the handler leaves it to the server.
#include "common/debug_log.h"
#include "filter/auth_complete_helper.h"

namespace {
constexpr DWORD kNotBuilt = 120;  // ERROR_CALL_NOT_IMPLEMENTED
}

DWORD CAuthCompleteHelper::RedirectPelloraFakeRequest(CDLLContext* pContext, ci_string& url, ci_string& queryString,
                                                      bool cacheMultimedia) {
  DebugLog("[CAuthCompleteHelper::RedirectPelloraFakeRequest] not available in this build. URL <%s>.", url.c_str());
  return kNotBuilt;
}
