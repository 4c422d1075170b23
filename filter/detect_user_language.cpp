// The user's language for the module's per-request context: who the user is
// (the thread's identity, else "AUTH_USER"), the browser's language list and
// the cookie, handed to the settings object, which decides.
#include <cstring>
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

namespace {

constexpr const char* kAcceptLanguageHeader = "HTTP_ACCEPT-LANGUAGE";

// The language header as the request's own look-up finds it (the exact
// name, else the first key in the map's order that differs from it only in
// "-" against "_", else the ":" forms), without that look-up's walk over
// every header: a key that differs only at the name's two separators lies
// between the name with "-" at both and the name with "_" at both.
const std::string* FindAcceptLanguage(const CRequestInfo& request) {
  static constexpr std::string_view kName = kAcceptLanguageHeader;
  static constexpr std::string_view kLowest = "HTTP-ACCEPT-LANGUAGE";
  static constexpr std::string_view kHighest = "HTTP_ACCEPT_LANGUAGE";
  const auto& headers = request.m_mapHeaders;
  if (const auto exact = headers.find(kName); exact != headers.end()) return &exact->second;
  // The name's only separators are at 4 and 11.
  static_assert(kName.find_first_of("-_") == 4 && kName.find_first_of("-_", 5) == 11 &&
                kName.find_first_of("-_", 12) == std::string_view::npos);
  auto isSeparator = [](char c) { return c == '-' || c == '_'; };
  auto sameSeparatorsAside = [&isSeparator](std::string_view key) {
    return key.size() == kName.size() && isSeparator(key[4]) && isSeparator(key[11]) &&
           std::memcmp(key.data(), kName.data(), 4) == 0 && std::memcmp(key.data() + 5, kName.data() + 5, 6) == 0 &&
           std::memcmp(key.data() + 12, kName.data() + 12, 8) == 0;
  };
  for (auto it = headers.lower_bound(kLowest); it != headers.end() && !CHeaderKeyLess::Less(kHighest, it->first);
       ++it) {
    if (sameSeparatorsAside(it->first)) return &it->second;
  }
  return request.FindHeaderValue(kName);
}

int LogLength(std::string_view text) { return static_cast<int>(text.size() < 0x7fffffff ? text.size() : 0x7fffffff); }

DWORD DetectUserLanguageSteps(CDLLContext* pContext, std::string_view cookie, std::string& language, WORD& lcid) {
  if (pContext == nullptr || !pContext->m_spRequestInfo) {
    DebugLog("[CAuthCompleteHelper::DetectUserLanguage] invalid pointers.");
    return HX_RC_MISSING;
  }
  std::string user;
  std::string domain;
  // A user SID does not fit a string's own buffer; the thread keeps one
  // buffer for every request's.
  thread_local std::string t_sid;
  std::string& sid = t_sid;
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
  if (const std::string* header = FindAcceptLanguage(request)) {
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
             user.c_str(), LogLength(browserLanguages), browserLanguages.data());
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
