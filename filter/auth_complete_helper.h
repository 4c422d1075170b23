// Steps of the authentication-complete handler that decide about one request.
#pragma once

#include <string>
#include <string_view>

#include "common/ci_string.h"
#include "platform/win_types.h"

struct CDLLContext;

class CAuthCompleteHelper {
 public:
  // Forms-based-authentication bits of RequestFlags from the cadata cookie
  // (or the value a front end passed on): 0, 0x80 or 0x180.
  static DWORD GetFBAClientFlags(CDLLContext* pContext, std::string_view cookie);

  // The user's product language code and LCID; both keep the caller's values
  // when nothing better is known. `requestCookie` is the request's cookie
  // header as received (empty without one).
  static DWORD DetectUserLanguage(CDLLContext* pContext, std::string_view requestCookie, std::string& language,
                                  WORD& lcid);
  // Rewrites the product's pseudo-requests (subscription types 20 to 25) to
  // its viewer page through the request's "URL" header; control message 2
  // when redirected. `url` and `queryString` are changed in place (a
  // multimedia key empties the query string, a show request loses the "?"
  // part of its URL). 0 also when there is nothing to redirect.
  static DWORD RedirectPelloraFakeRequest(CDLLContext* pContext, ci_string& url, ci_string& queryString,
                                          bool cacheMultimedia);
  // Redirects to the viewer page with `commandPrefix` followed by the query
  // string; a conversion request (type 20) also carries the OWA file access
  // level of its document. 7 when the redirect cannot be set, 13 for a
  // conversion request without a usable file name.
  static DWORD ProcessCmd(CDLLContext* pContext, const ci_string& queryString, const char* commandPrefix);
  // Redirects a show request for `subPath` (the URL after the show marker).
  static DWORD ProcessShowRedirect(CDLLContext* pContext, const ci_string& subPath, bool cacheMultimedia);
  // A request sent straight to the viewer page: rewrites its URL without the
  // "owaal" and "CMC245" the client sent (any spelling a server reads),
  // which only the module may write, and with the module's "owaal" where the
  // request names a document. 0 also when there is nothing to change; 7 when
  // the URL cannot be set. 13 for a request to the viewer page or a
  // pseudo-request (rewritten to it) whose form body or cookie names one of
  // them, where the module cannot take them out, or whose body the module
  // cannot read where the request's set enforces a direct file access block
  // level (any but 1); a named document without a level gives the level
  // look-up's failure. Needs the record's request information.
  static DWORD StripClientViewerLevels(CDLLContext* pContext);

  // Answers the request with the access-denied page in the user's language
  // (English when it has no text), through the host's response sender, or
  // as the replace buffer when the host offers no sender. 0 when the page was
  // handed to the host; 7 without a record or the module's own context.
  static DWORD SendAccessDeniedResponse(CDLLContext* pContext);

  // For a request the module could not decide: the access-denied page, in
  // English where the user's language is not known yet; where even that page
  // cannot be made, the control message Completed, so that the request ends
  // without an answer rather than going on. Needs a record.
  static void RefuseUndecided(CDLLContext* pContext) noexcept;

  // Applies the direct-access rules to an attachment (type 0) or
  // document-view file (type 1) download: sends the access-denied page when
  // the download is refused, also when the decision could not be made (the
  // result then names why, with accessDeniedSent set); where even the page
  // cannot be made, accessDeniedSent is set all the same and the request
  // ends without an answer (Completed). Otherwise rewrites the URL without
  // the product's hash parameters. `queryString` is not changed.
  static DWORD HandleDirectFileAccessRequest(CDLLContext* pContext, const ci_string& url,
                                             const ci_string& queryString, DWORD fileAccessType,
                                             bool& accessDeniedSent, bool& forceSaveIdRemoved);
  // A request to the attachment handler that is no download (the inline
  // images of a message) goes on; `answerMustBeImage` says whether only an
  // inline image may answer it: at block level 0 from outside the ranges,
  // at a level that is not 0, 1 or 2, and when the address test fails (its
  // result is returned).
  static DWORD DecideInlineAttachmentFetch(CDLLContext* pContext, bool& answerMustBeImage);
  // Whether the server's answer, as send response sees its status and
  // headers, is an inline image: status 304 (no body), or an "image/" type
  // other than SVG (which carries script) without a disposition other than
  // "inline".
  static bool IsInlineImageAnswer(CDLLContext* pContext);

  // The block level of the request's settings set decides; `enabled` is
  // false whenever the result is not 0.
  static DWORD CheckIfDirectFileAccessIsEnabled(CDLLContext* pContext, bool& enabled, DWORD fileAccessType);
  // Block level 2: the product's own attachment links ("midh", "aidh") or,
  // for other links, the client's address.
  static DWORD CheckIfPLDirectAttachmentAccessOrAllowedIP(CDLLContext* pContext, bool& enabled);
  // Block level 2: the product's own document-view links ("fidh") or, for
  // other links, the client's address.
  static DWORD CheckIfPLDirectDocumentViewFileAccessOrAllowedIP(CDLLContext* pContext, bool& enabled);
  // Whether Open and Save may be offered for the requested document-view
  // file: the product's blocked list, OWA's level and settings 2 and 3.
  static DWORD GetPLDirectDocumentViewFileAccessMenuFlags(CDLLContext* pContext, bool& openEnabled,
                                                           bool& saveEnabled);
  // Removes the "id" parameter when its value is exactly "unresolved"; true
  // when it did.
  static bool RemoveDocViewForceSaveIDParamIfSetToUnresolved(ci_string& queryString);
};
