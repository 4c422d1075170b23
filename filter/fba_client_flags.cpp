#include <string>

#include "common/ci_string.h"
#include "common/debug_log.h"
#include "common/secret_text.h"
#include "filter/auth_complete_helper.h"
#include "filter/cookie_view.h"
#include "filter/dll_context.h"
#include "filter/notifications.h"
#include "filter/notifications_helper.h"
#include "filter/request_flags.h"
#include "filter/util.h"

DWORD CAuthCompleteHelper::GetFBAClientFlags(CDLLContext* pContext, std::string_view cookie) {
  // The cookie's own value is only looked at, never kept.
  std::string_view value;
  std::string passedOn;
  bool found = ExtractCookieView(AsCIView(cookie), "cadata=", value) != FALSE;
  if (!found) {
    found = CNotificationsHelper::GetISAFBACadataCookieValue(pContext, passedOn) != FALSE;
    value = passedOn;
  }
  if (!found || value.size() < 2 || value[0] != '"') return 0;
  // The digit after the quote tells how the user logged on.
  switch (value[1]) {
    case '0':
    case '1':
    case '2':
      return RequestFlag::FBAClient | RequestFlag::FBAPublicClient;
    case '4':
    case '5':
    case '6':
      return RequestFlag::FBAClient;
    default:
      return 0;
  }
}

BOOL CNotificationsHelper::GetISAFBACadataCookieValue(CDLLContext* pContext, std::string& value) {
  value.clear();
  if (pContext == nullptr) {
    DebugLog("[CNotificationsHelper::GetISAFBACadataCookieValue] CDLLContext pointer is NULL. Return FALSE.");
    return FALSE;
  }
  CUtil::GetServerVariable(pContext, "HTTP_X_QL_FBA_CVALUE", value);
  DebugLog("[CNotificationsHelper::GetISAFBACadataCookieValue] %s <%s>", "HTTP_X_QL_FBA_CVALUE",
           SecretForLog(value).c_str());
  return TRUE;
}
