// The user's language for the module's per-request context: who the user is
// (the thread's identity, else "AUTH_USER"), the browser's language list and
// the cookie, handed to the settings object, which decides.
#include <string>
#include <string_view>

#include "common/ci_string.h"
#include "common/debug_log.h"
#include "common/security_access.h"
#include "filter/auth_complete_helper.h"
#include "filter/cookie_view.h"
#include "filter/dll_context.h"
#include "filter/notifications.h"
#include "filter/request_info.h"
#include "filter/result_codes.h"
#include "general/pl_hx_general_settings.h"
#include "platform/thread_local_instance.h"

namespace {

constexpr const char* kAcceptLanguageHeader = "HTTP_ACCEPT-LANGUAGE";

struct CSidBuffer {
  std::string text;
};

DWORD DetectUserLanguageSteps(CDLLContext* pContext, std::string_view cookie, std::string& language, WORD& lcid) {
  if (pContext == nullptr || !pContext->m_spRequestInfo) {
    DebugLog("[CAuthCompleteHelper::DetectUserLanguage] invalid pointers.");
    return HX_RC_MISSING;
  }
  std::string user;
  std::string domain;
  // A user SID does not fit a string's own buffer; the thread keeps one
  // buffer for every request's.
  std::string& sid = ThreadLocalInstance<CSidBuffer>().text;
  sid.clear();
  DWORD identity = 0;
  {
    CSecurityAccess access;
    identity = access.GetUserIdentity(user, domain, sid);
  }
  DebugLogError(identity, "GetThreadUser Domain/User/Sid %s/%s/%s", domain.c_str(), user.c_str(), sid.c_str());
  if (identity != 0) {
    sid.clear();
    CBaseNotifications::GetServerVariable(pContext, "AUTH_USER", user);
  }
  if (user.empty()) {
    DebugLog("[CAuthCompleteHelper::DetectUserLanguage] 'AUTH_USER' server variable is empty.");
    return HX_RC_MISSING;
  }

  const CRequestInfo& request = *pContext->m_spRequestInfo;
  // Read where the request holds it.
  std::string_view browserLanguages;
  if (const std::string* header = request.FindHeaderValue(kAcceptLanguageHeader)) {
    browserLanguages = *header;
  } else {
    browserLanguages = "en";
    DebugLog("[CAuthCompleteHelper::DetectUserLanguage] Reading <%s> header value failed. Go with default value (en).",
             kAcceptLanguageHeader);
  }

  // When the settings object cannot decide, its defaults stand.
  if (!CPLHXGeneralSettings::getInstance()->DetectUserLanguage(user, AsCIView(browserLanguages), language, lcid,
                                                               AsCIView(cookie), sid)) {
    DebugLog("[CAuthCompleteHelper::DetectUserLanguage] CPLHXGeneralSettings::DetectUserLanguage() failed. User <%s> "
             "AcceptLanguage <%.*s>. Go with default values.",
             user.c_str(), LogLength(browserLanguages.size()), browserLanguages.data());
  }
  DebugLog("[CAuthCompleteHelper::DetectUserLanguage] User <%s> user lang <%s> user lang id <%d>.", user.c_str(),
           language.c_str(), static_cast<int>(lcid));
  return 0;
}

}  // namespace

DWORD CAuthCompleteHelper::DetectUserLanguage(CDLLContext* pContext, std::string_view requestCookie,
                                              std::string& language, WORD& lcid) {
  DebugLog("[CAuthCompleteHelper::DetectUserLanguage] Starts.");
  const DWORD dwRet = DetectUserLanguageSteps(pContext, requestCookie, language, lcid);
  DebugLog("[CAuthCompleteHelper::DetectUserLanguage] returned dwRet <%d>.", static_cast<int>(dwRet));
  return dwRet;
}
