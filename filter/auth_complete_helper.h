// Steps of the authentication-complete handler that decide about one request.
#pragma once

#include <string>

#include "common/ci_string.h"
#include "platform/win_types.h"

struct CDLLContext;

class CAuthCompleteHelper {
 public:
  // Forms-based-authentication bits of RequestFlags from the cadata cookie
  // (or the value a front end passed on): 0, 0x80 or 0x180.
  static DWORD GetFBAClientFlags(CDLLContext* pContext, const std::string& cookie);

  // The user's product language code and LCID; both keep the caller's values
  // when nothing better is known.
  static DWORD DetectUserLanguage(CDLLContext* pContext, std::string& language, WORD& lcid);
  // Rewrites the product's pseudo-requests to its viewer page.
  static DWORD RedirectPelloraFakeRequest(CDLLContext* pContext, ci_string& url, ci_string& queryString,
                                          bool cacheMultimedia);
  // Answers the request with the access-denied page.
  static DWORD SendAccessDeniedResponse(CDLLContext* pContext);
  // Applies the direct-access rules to an attachment (type 0) or
  // document-view file (type 1) download.
  static DWORD HandleDirectFileAccessRequest(CDLLContext* pContext, const ci_string& url,
                                             const ci_string& queryString, DWORD fileAccessType,
                                             bool& accessDeniedSent, bool& forceSaveIdRemoved);
};
