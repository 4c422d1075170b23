#include "common/ci_string.h"
#include "common/debug_log.h"
#include "filter/notifications_helper.h"

BOOL CNotificationsHelper::RemoveParamFromQueryString(ci_string& query, const ci_string& name) {
  BOOL bRet = FALSE;
  const ci_string leading = name + "=";
  size_t begin = ci_string::npos;
  size_t afterKey = ci_string::npos;
  if (query.compare(0, leading.size(), leading) == 0) {
    begin = 0;
    afterKey = leading.size();
  } else {
    const ci_string inner = "&" + leading;
    begin = query.find(inner);
    if (begin != ci_string::npos) afterKey = begin + inner.size();
  }
  if (begin == ci_string::npos) {
    DebugLog("[CNotificationsHelper::RemoveParamFromQueryString] <%s> param was not found in <%s> query string.",
             name.c_str(), query.c_str());
  } else {
    const size_t end = query.find('&', afterKey);
    DebugLog("[CNotificationsHelper::RemoveParamFromQueryString] Remove <%s> param from <%s> query string.",
             name.c_str(), query.c_str());
    query.erase(begin, end == ci_string::npos ? ci_string::npos : end - begin);
    if (!query.empty() && query[0] == '&') query.erase(0, 1);
    DebugLog("[CNotificationsHelper::RemoveParamFromQueryString] New query string <%s>.", query.c_str());
    bRet = TRUE;
  }
  DebugLog("[CNotificationsHelper::RemoveParamFromQueryString] returned <%s>.", bRet ? "TRUE" : "FALSE");
  return bRet;
}
