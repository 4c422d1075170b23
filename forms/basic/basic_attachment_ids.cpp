// The attachment IDs of OWA's Light pages: the last "attid" of an attachment
// URL, the URL inside a WebReady link's opnWin call, and the ID argument of
// an embedded item's onClkEmbItem call.
#include <string>

#include "common/debug_log.h"
#include "common/string_utils.h"
#include "common/url_utils.h"
#include "filter/notifications_helper.h"
#include "filter/result_codes.h"
#include "forms/basic/pl_basic_form_with_attachments.h"

namespace {

const char kAttachmentCountParam[] = "attcnt";
const char kWebReadyCallOpen[] = "opnWin('";
const char kEmbeddedItemCallOpen[] = "return onClkEmbItem(";
const char kArgumentSeparator[] = "','";
const char kCallClose[] = "')";

}  // namespace

DWORD CPLBasicFormWithAttachments::GetLastAttachmentIDFromURL(const std::string& sURL, std::string& sAttachmentID) {
  sAttachmentID.clear();
  const size_t nQuery = sURL.find('?');
  if (nQuery == std::string::npos) {
    DebugLog("[CPLBasicFormWithAttachments::GetLastAttachmentIDFromURL] Invalid HREF attribute <%s>.", sURL.c_str());
    return HX_RC_INVALID_DATA;
  }
  const char* pQS = sURL.c_str() + nQuery;
  std::string sCount;
  if (!CNotificationsHelper::GetURLParamValue(sURL, kAttachmentCountParam, sCount, nQuery)) {
    DebugLog("[CPLBasicFormWithAttachments::GetLastAttachmentIDFromURL] <%s> query string parameter was not found in "
             "QS <%s>.",
             kAttachmentCountParam, pQS);
    return HX_RC_INVALID_DATA;
  }
  if (sCount.empty()) {
    DebugLog("[CPLBasicFormWithAttachments::GetLastAttachmentIDFromURL] attachment count parameter value is empty. QS "
             "<%s>.",
             pQS);
    return HX_RC_INVALID_DATA;
  }
  DWORD dwCount = 0;
  if (!StringToUInt(sCount, dwCount, 10) || dwCount == 0) {
    DebugLog("[CPLBasicFormWithAttachments::GetLastAttachmentIDFromURL] Invalid attachment count parameter value <%s>. "
             "QS <%s>.",
             sCount.c_str(), pQS);
    return HX_RC_INVALID_DATA;
  }
  const std::string sLastIDParam = "attid" + ToString(dwCount - 1);
  std::string sID;
  // The id goes into the page whole; its hash, like the request's, stops at
  // a zero byte.
  if (!CNotificationsHelper::GetURLParamValue(sURL, sLastIDParam, sID, nQuery, DecodedZero::Kept)) {
    DebugLog("[CPLBasicFormWithAttachments::GetLastAttachmentIDFromURL] last attachment ID parameter <%s> was not found "
             "in QS <%s>.",
             sLastIDParam.c_str(), pQS);
    return HX_RC_INVALID_DATA;
  }
  if (sID.empty()) {
    DebugLog("[CPLBasicFormWithAttachments::GetLastAttachmentIDFromURL] last attachment ID parameter <%s> is empty. QS "
             "<%s>.",
             sLastIDParam.c_str(), pQS);
    return HX_RC_INVALID_DATA;
  }
  sAttachmentID = sID;
  return 0;
}

DWORD CPLBasicFormWithAttachments::GetLastAttachmentIDFromWebReadyLinkOnClickAttr(const std::string& sOnClick,
                                                                                  std::string& sAttachmentID) {
  sAttachmentID.clear();
  const size_t nOpen = sOnClick.find(kWebReadyCallOpen);
  const size_t nURL = nOpen == std::string::npos ? nOpen : nOpen + sizeof(kWebReadyCallOpen) - 1;
  const size_t nClose = nURL == std::string::npos ? nURL : sOnClick.find(kCallClose, nURL);
  if (nClose == std::string::npos) {
    DebugLog("[CPLBasicFormWithAttachments::GetLastAttachmentIDFromWebReadyLinkOnClickAttr] Invalid onClick attribute "
             "<%s>. <%s> was not found.",
             sOnClick.c_str(), nURL == std::string::npos ? kWebReadyCallOpen : kCallClose);
    return HX_RC_INVALID_DATA;
  }
  if (nClose == nURL) {
    DebugLog("[CPLBasicFormWithAttachments::GetLastAttachmentIDFromWebReadyLinkOnClickAttr] Invalid onClick attribute "
             "<%s>. URL argument is empty.",
             sOnClick.c_str());
    return HX_RC_INVALID_DATA;
  }
  const DWORD dwRet = GetLastAttachmentIDFromURL(sOnClick.substr(nURL, nClose - nURL), sAttachmentID);
  if (dwRet != 0) {
    DebugLog("[CPLBasicFormWithAttachments::GetLastAttachmentIDFromWebReadyLinkOnClickAttr] "
             "GetLastAttachmentIDFromURL() failed.");
  }
  return dwRet;
}

DWORD CPLBasicFormWithAttachments::GetAttachmentIDFromEmbeddedItemOnClickAttr(const std::string& sOnClick,
                                                                              std::string& sAttachmentID) {
  sAttachmentID.clear();
  const size_t nOpen = sOnClick.find(kEmbeddedItemCallOpen);
  const size_t nSeparator =
      nOpen == std::string::npos ? nOpen : sOnClick.find(kArgumentSeparator, nOpen + sizeof(kEmbeddedItemCallOpen) - 1);
  const size_t nID = nSeparator == std::string::npos ? nSeparator : nSeparator + sizeof(kArgumentSeparator) - 1;
  const size_t nClose = nID == std::string::npos ? nID : sOnClick.find(kCallClose, nID);
  if (nClose == std::string::npos) {
    const char* pMissing = nOpen == std::string::npos        ? kEmbeddedItemCallOpen
                           : nSeparator == std::string::npos ? kArgumentSeparator
                                                             : kCallClose;
    DebugLog("[CPLBasicFormWithAttachments::GetAttachmentIDFromEmbeddedItemOnClickAttr] Invalid onClick attribute <%s>. "
             "<%s> was not found.",
             sOnClick.c_str(), pMissing);
    return HX_RC_INVALID_DATA;
  }
  if (nClose == nID) {
    DebugLog("[CPLBasicFormWithAttachments::GetAttachmentIDFromEmbeddedItemOnClickAttr] Invalid onClick attribute <%s>. "
             "Attachment ID argument is empty.",
             sOnClick.c_str());
    return HX_RC_INVALID_DATA;
  }
  sAttachmentID = URLDecode(sOnClick.substr(nID, nClose - nID), DecodedZero::Kept);
  return 0;
}
