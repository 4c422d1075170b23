#include <string>

#include "common/debug_log.h"
#include "common/url_utils.h"
#include "filter/notifications_helper.h"

bool CNotificationsHelper::GetURLParamValue(const std::string& url, const std::string& name,
                                            std::string& value, size_t start, DecodedZero zero,
                                            PlusSign plus) {
  value.clear();
  DebugLog("[CNotificationsHelper::GetURLParamValue] Starts.");
  if (start == std::string::npos) {
    start = url.find('?');
    if (start == std::string::npos) {
      DebugLog("[CNotificationsHelper::GetURLParamValue] '?' was not found in URL <%s>.", url.c_str());
      return false;
    }
  }
  const std::string pair = name + "=";
  size_t valueBegin = std::string::npos;
  // The first parameter follows the "?" directly, with no "&" before it.
  if (start < url.size() && url[start] == '?' && url.compare(start + 1, pair.size(), pair) == 0) {
    valueBegin = start + 1 + pair.size();
  } else {
    const std::string search = "&" + pair;
    const size_t pos = url.find(search, start);
    if (pos == std::string::npos) {
      DebugLog("[CNotificationsHelper::GetURLParamValue] <%s> was not found in <%s>.", search.c_str(),
               start <= url.size() ? url.c_str() + start : "");
      return false;
    }
    valueBegin = pos + search.size();
  }
  const size_t end = url.find('&', valueBegin);
  value = URLDecode(url.substr(valueBegin, end == std::string::npos ? std::string::npos : end - valueBegin), zero, plus);
  DebugLog("[CNotificationsHelper::GetURLParamValue] returned bRet <%s> sValue <%s>.", "TRUE", value.c_str());
  return true;
}
