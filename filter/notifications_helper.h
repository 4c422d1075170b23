// Request helpers of the notification handlers, shared with the access
// checks, the redirects and the page forms.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/ci_string.h"
#include "common/url_utils.h"
#include "filter/dll_context.h"
#include "platform/win_types.h"

// The value of `key` (which must end in "=") in a cookie header, up to the
// next ";" or the end; the key is found anywhere, ASCII case ignored.
BOOL extractCookie(const ci_string& cookie, const std::string& key, std::string& value);

// AddWorkerHeader for texts the caller vouches for: terminated, free of CR,
// LF and NUL, and in memory the host may write into. The same notification
// check and log lines, without the checks and copies of each text.
BOOL AddSafeWorkerHeader(CDLLContext* pContext, char* name, char* value);

class CNotificationsHelper {
 public:
  // Adds the response-header table in order, stopping at the first header
  // the host refuses; TRUE when all went in.
  static BOOL AddNoCacheHeaders(CDLLContext* pContext);

  // The value of the "cadata=" cookie of forms-based authentication.
  static BOOL GetFBACadataCookieValue(const ci_string& cookie, std::string& value);
  // The cadata value a forms-based-authentication front end passed on.
  static BOOL GetISAFBACadataCookieValue(CDLLContext* pContext, std::string& value);
  // The whole "cadata=..." pair as it stands in the cookie header.
  static BOOL GetCadataCookie(const ci_string& cookie, std::string& pair);

  // Value of a query parameter of a URL, URL-decoded. `start` is the position
  // of the "?" (found when npos).
  static bool GetURLParamValue(const std::string& url, const std::string& name,
                               std::string& value, size_t start = std::string::npos,
                               DecodedZero zero = DecodedZero::EndsText, PlusSign plus = PlusSign::Kept);

  // The attachment identifiers "attid0".."attid<attcnt-1>" of the request.
  static DWORD GetRequestParamAttIDs(const CRequestInfo* pRequestInfo, std::vector<std::string>& ids);
  static DWORD ConcatRequestParamAttIDs(const CRequestInfo* pRequestInfo, std::string& joined);
  static DWORD ConcatRequestParamAttIDs(const CRequestInfo* pRequestInfo, std::string& allButLast,
                                        std::string& last);

  static BOOL RemoveParamFromQueryString(ci_string& query, const ci_string& name);

  // The request's path as the client sent it (HTTP_URL before its "?"), or
  // `routed` when the host gave none. A URL the module hands back to the
  // server is routed again, so it must not carry the decoded path.
  static std::string PathAsSent(const CRequestInfo& info, std::string_view routed);

  static DWORD CheckClientIPAgainstDirectAccessIPRange(CDLLContext* pContext, bool& allowed);
};
