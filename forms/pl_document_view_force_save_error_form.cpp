#include "forms/pl_document_view_force_save_error_form.h"

#include <algorithm>
#include <cstring>

#include "common/debug_log.h"
#include "common/string_utils.h"
#include "common/url_utils.h"
#include "filter/dll_context.h"
#include "filter/notifications_helper.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "forms/dom_steps.h"
#include "forms/form_text.h"
#include "forms/html_char_refs.h"
#include "forms/hx_form_context.h"
#include "forms/page_parts.h"
#include "forms/page_values.h"
#include "html/dom_source.h"

namespace {

const char kBodyBeforeTarget[] =
    "<head><title>Document Moved</title></head><body><h1>Object Moved</h1>This document may be found <a HREF=\"";
const char kBodyAfterTarget[] = "\">here</a></body>";
const char kStatusLine[] = "HTTP/1.1 302 Object Moved\r\n";
const char kConnectionLine[] = "Connection: close\r\n";
const char kFixedHeaders[] =
    "X-QLProduct: PL_HX\r\n"
    "Pragma: no-cache\r\n"
    "Cache-control: no-cache\r\n"
    "Cache-control: must-revalidate\r\n"
    "Cache-control: max-age=0\r\n"
    "Cache-control: no-store\r\n"
    "Cache-control: private\r\n"
    "Cache-control: proxy-revalidate\r\n"
    "Cache-control: s-maxage=0\r\n"
    "Content-Type: text/html; charset=utf-8\r\n"
    "\r\n";

// A target with a line end would end the Location header early and let the
// page's link write headers of its own into the response.
bool HoldsControlByte(const std::string& s) { return std::any_of(s.begin(), s.end(), IsControlByte); }

}  // namespace

CPLDocumentViewForceSaveErrorForm::CPLDocumentViewForceSaveErrorForm(CHXFormContext* pFormContext)
    : CPLForm(pFormContext) {
  DebugLog("[CPLDocumentViewForceSaveErrorForm::CPLDocumentViewForceSaveErrorForm] Starts.");
  if (m_bIsInstanceValid &&
      !HasHtmlBodyAndHead(m_pFormContext, "[CPLDocumentViewForceSaveErrorForm::CPLDocumentViewForceSaveErrorForm] ")) {
    m_bIsInstanceValid = false;
  }
  DebugLog("[CPLDocumentViewForceSaveErrorForm::CPLDocumentViewForceSaveErrorForm] returned m_bIsInstanceValid <%s>.",
           YN(m_bIsInstanceValid));
}

DWORD CPLDocumentViewForceSaveErrorForm::Process() {
  DebugLog("[CPLDocumentViewForceSaveErrorForm::Process] Starts.");
  CDLLContext* pRecord = m_pFormContext != nullptr ? m_pFormContext->m_pContext : nullptr;
  if (pRecord != nullptr) {
    pRecord->m_pReplaceBuffer = nullptr;
    pRecord->m_dwReplaceBufferLength = 0;
  }
  const DWORD dwRet =
      RunCatchingDomExceptions("[CPLDocumentViewForceSaveErrorForm::Process] ", [this] { return ReplaceSteps(); });
  const char* pTemplate = m_pFormContext != nullptr ? m_pFormContext->TemplateNameForLog() : "NULL";
  LogProcessBanner("[CPLDocumentViewForceSaveErrorForm::Process] ",
                   std::string("*** Replacing <") + pTemplate + "> form buffer " +
                       (dwRet == 0 ? "SUCCEEDED" : "FAILED") + "! ***");
  DebugLog("[CPLDocumentViewForceSaveErrorForm::Process] returned dwRet <%d>.", static_cast<int>(dwRet));
  return dwRet;
}

DWORD CPLDocumentViewForceSaveErrorForm::ReplaceSteps() {
  CDLLContext& record = *m_pFormContext->m_pContext;
  const CDOMStartTag link = m_pFormContext->m_spDom->getBody().getFirstStartTagByTagName("A");
  if (link.isUndefined()) {
    DebugLog("[CPLDocumentViewForceSaveErrorForm::Process] <A> tag was not found inside <BODY> element!");
    return HX_RC_INVALID_DATA;
  }
  // Decoded as the browser reads it: a link written with "&amp;" between its
  // parameters is the same link, and its hash and the redirect are of that.
  const CDOMAttribute hrefAttribute = link.getAttribute("href");
  const std::string sHref = hrefAttribute.isUndefined() || !hrefAttribute.hasValue()
                                ? std::string()
                                : DecodeHtmlCharacterReferences(hrefAttribute.getValue());
  if (sHref.empty()) {
    std::string sTag;
    link.getHTML(sTag);
    DebugLog("[CPLDocumentViewForceSaveErrorForm::Process] href atribute is missing or empty <%s>.", sTag.c_str());
    return HX_RC_INVALID_DATA;
  }
  std::string sTarget = record.m_spExchangeURL->m_sBasePath;
  if (!sTarget.empty() && sTarget.back() != '/' && sHref.front() != '/') sTarget += '/';
  std::string sHash;
  if (!GetFileIDHashValue(sHref, sHash)) {
    DebugLog("[CPLDocumentViewForceSaveErrorForm::Process] GetFileIDHashValue(0 failed.");
    return HX_RC_INVALID_DATA;
  }
  sTarget.append(sHref).append("&fidh=").append(sHash);
  if (HoldsControlByte(sTarget)) {
    DebugLog("[CPLDocumentViewForceSaveErrorForm::Process] Redirect target holds control characters <%s>.",
             sTarget.c_str());
    return HX_RC_INVALID_DATA;
  }
  if (!CreateReplaceBufferForRedirectResponse(sTarget, record.m_pReplaceBuffer, record.m_dwReplaceBufferLength)) {
    DebugLog("[CPLDocumentViewForceSaveErrorForm::Process] CreateReplaceBufferForRedirectResponse() failed.");
    return HX_RC_MISSING;
  }
  record.m_dwControlMessage = ControlMessageReplace;
  return 0;
}

bool CPLDocumentViewForceSaveErrorForm::GetFileIDHashValue(const std::string& sHref, std::string& sHash) {
  sHash.clear();
  std::string sValue;
  // Read as the download check reads the link's "URL", as the server reads
  // it (QueryValueAsServerReadsIt): a "+" a blank, a "%uXXXX" its character.
  // The hash written here is the one that check computes.
  const std::string percentU = WithPercentUAsUtf8(sHref);
  if (!CNotificationsHelper::GetURLParamValue(percentU.empty() ? sHref : percentU, "URL", sValue, std::string::npos,
                                              DecodedZero::EndsText, PlusSign::Blank)) {
    DebugLog("[CPLDocumentViewForceSaveErrorForm::GetFileIDHashValue] GetURLParamValue() failed. URL <%s> Param <%s>.",
             sHref.c_str(), "URL");
    return false;
  }
  if (sValue.empty()) {
    DebugLog("[CPLDocumentViewForceSaveErrorForm::GetFileIDHashValue] Param <%s> in <%s> URL is empty.", "URL",
             sHref.c_str());
    return false;
  }
  sHash = CUtil::HashString(sValue.c_str());
  return true;
}

bool CPLDocumentViewForceSaveErrorForm::CreateReplaceBufferForRedirectResponse(const std::string& sTarget,
                                                                               BYTE*& pBuffer, DWORD& dwLength) {
  pBuffer = nullptr;
  dwLength = 0;
  const std::string sBody = kBodyBeforeTarget + ValueInAnyAttribute(sTarget, CPageChars::Utf8()) + kBodyAfterTarget;
  const std::string sResponse = std::string(kStatusLine) + "Location:" + sTarget + "\r\n" + "Content-Length:" +
                                ToString(sBody.size()) + "\r\n" + kConnectionLine + kFixedHeaders + sBody;
  dwLength = static_cast<DWORD>(sResponse.size());
  pBuffer = new BYTE[dwLength];
  DebugLog("[CPLDocumentViewForceSaveErrorForm::CreateReplaceBufferForRedirectResponse] Allocated <%d> bytes for "
           "replace buffer at <%p>.",
           static_cast<int>(dwLength), static_cast<void*>(pBuffer));
  std::memcpy(pBuffer, sResponse.data(), dwLength);
  return true;
}
