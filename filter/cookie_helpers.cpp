#include <string>

#include "common/ci_string.h"
#include "common/debug_log.h"
#include "filter/notifications_helper.h"

BOOL extractCookie(const ci_string& cookie, const std::string& key, std::string& value) {
  BOOL bRet = FALSE;
  if (key.empty()) {
    DebugLog("[extractCookie] ERROR Missing Key");
  } else if (key.back() != '=') {
    DebugLog("[extractCookie] ERROR Key <%s> requires '=' terminator", key.c_str());
  } else {
    const size_t pos = FindNoCase(cookie, ci_string_view(key.data(), key.size()));
    if (pos == ci_string::npos) {
      DebugLog("[extractCookie] cookie:<%s> key:<%s> not found", cookie.c_str(), key.c_str());
    } else {
      const size_t begin = pos + key.size();
      const size_t end = cookie.find(';', begin);
      value.assign(cookie.data() + begin, (end == ci_string::npos ? cookie.size() : end) - begin);
      bRet = TRUE;
    }
  }
  DebugLog("[extractCookie] cookie:<%s> key:<%s> value:<%s> return <%s>", cookie.c_str(), key.c_str(),
           bRet ? value.c_str() : "", bRet ? "TRUE" : "FALSE");
  return bRet;
}

BOOL CNotificationsHelper::GetFBACadataCookieValue(const ci_string& cookie, std::string& value) {
  return extractCookie(cookie, "cadata=", value);
}

BOOL CNotificationsHelper::GetCadataCookie(const ci_string& cookie, std::string& pair) {
  const size_t pos = FindNoCase(cookie, "cadata=");
  if (pos == ci_string::npos) {
    pair.clear();
    return FALSE;
  }
  const size_t end = cookie.find(';', pos);
  pair.assign(cookie.data() + pos, (end == ci_string::npos ? cookie.size() : end) - pos);
  return TRUE;
}
