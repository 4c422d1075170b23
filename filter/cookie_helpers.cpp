#include <string>

#include "common/ci_string.h"
#include "common/debug_log.h"
#include "filter/notifications_helper.h"

BOOL extractCookie(const ci_string& cookie, const std::string& key, std::string& value) {
  BOOL bRet = FALSE;
  std::string found;
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
      const ci_string raw = cookie.substr(begin, end == ci_string::npos ? ci_string::npos : end - begin);
      value.assign(raw.data(), raw.size());
      found = value;
      bRet = TRUE;
    }
  }
  DebugLog("[extractCookie] cookie:<%s> key:<%s> value:<%s> return <%s>", cookie.c_str(), key.c_str(),
           found.c_str(), bRet ? "TRUE" : "FALSE");
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
  const ci_string raw = cookie.substr(pos, end == ci_string::npos ? ci_string::npos : end - pos);
  pair.assign(raw.data(), raw.size());
  return TRUE;
}
