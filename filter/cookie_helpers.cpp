#include <string>

#include "common/ci_string.h"
#include "common/cookie_key.h"
#include "common/debug_log.h"
#include "common/secret_text.h"
#include "filter/cookie_view.h"
#include "filter/notifications_helper.h"

BOOL ExtractCookieView(ci_string_view cookie, std::string_view key, std::string_view& value) {
  BOOL bRet = FALSE;
  if (key.empty()) {
    DebugLog("[extractCookie] ERROR Missing Key");
  } else if (key.back() != '=') {
    DebugLog("[extractCookie] ERROR Key <%.*s> requires '=' terminator", LogLength(key.size()), key.data());
  } else {
    const size_t pos = FindCookieKey(cookie, AsCIView(key));
    if (pos == ci_string::npos) {
      DebugLog("[extractCookie] cookie:<%s> key:<%.*s> not found", CookieForLog({cookie.data(), cookie.size()}).c_str(),
               LogLength(key.size()), key.data());
    } else {
      const size_t begin = pos + key.size();
      const size_t end = FindSeparator(cookie, ';', begin);
      value = std::string_view(cookie.data() + begin, (end == ci_string::npos ? cookie.size() : end) - begin);
      bRet = TRUE;
    }
  }
  if (DebugLogEnabled()) {
    const std::string_view found = bRet ? value : std::string_view();
    DebugLog("[extractCookie] cookie:<%s> key:<%.*s> value:<%s> return <%s>", CookieForLog({cookie.data(), cookie.size()}).c_str(),
             LogLength(key.size()), key.data(), SecretForLog(found).c_str(), bRet ? "TRUE" : "FALSE");
  }
  return bRet;
}

BOOL extractCookie(const ci_string& cookie, const std::string& key, std::string& value) {
  std::string_view found;
  const BOOL bRet = ExtractCookieView(cookie, key, found);
  if (bRet) value.assign(found.data(), found.size());
  return bRet;
}

BOOL CNotificationsHelper::GetFBACadataCookieValue(const ci_string& cookie, std::string& value) {
  return extractCookie(cookie, "cadata=", value);
}

BOOL CadataCookieView(ci_string_view cookie, std::string_view& pair) {
  const size_t pos = FindCookieKey(cookie, "cadata=");
  if (pos == ci_string::npos) {
    pair = std::string_view();
    return FALSE;
  }
  const size_t end = FindSeparator(cookie, ';', pos);
  pair = std::string_view(cookie.data() + pos, (end == ci_string::npos ? cookie.size() : end) - pos);
  return TRUE;
}

BOOL CNotificationsHelper::GetCadataCookie(const ci_string& cookie, std::string& pair) {
  std::string_view found;
  const BOOL bRet = CadataCookieView(cookie, found);
  pair.assign(found.data(), found.size());
  return bRet;
}
