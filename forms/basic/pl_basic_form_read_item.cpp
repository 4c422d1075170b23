#include "forms/basic/pl_basic_form_read_item.h"

#include "common/debug_log.h"
#include "common/js_string.h"
#include "common/string_utils.h"
#include "filter/dll_context.h"
#include "filter/notifications_helper.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "forms/form_text.h"
#include "forms/html_char_refs.h"
#include "forms/hx_form_context.h"
#include "html/dom_source.h"

namespace {
const char kItemIDInputName[] = "hidid";
}  // namespace

CPLBasicFormReadItem::CPLBasicFormReadItem(CHXFormContext* pFormContext, int bBuildVirtualBases)
    : CPLForm(pFormContext), CPLBasicFormItem(pFormContext, 0) {
  if (m_bIsInstanceValid && InitItemIDAndAttIDsFromRequestURL_CalculateItemIDHash() != 0) {
    m_bIsInstanceValid = false;
    DebugLog("[CPLBasicFormReadItem::CPLBasicFormReadItem] InitItemIDAndAttIDsFromRequestURL_CalculateItemIDHash() "
             "failed.");
  }
  DebugLog("[CPLBasicFormReadItem::CPLBasicFormReadItem] returned. m_bIsInstanceValid <%s>.", YN(m_bIsInstanceValid));
}

CPLBasicFormReadItem::~CPLBasicFormReadItem() = default;

DWORD CPLBasicFormReadItem::ItemIDFromHiddenInput(std::string& sID) {
  const CDOMElement input = m_pFormContext->m_spDom->getBody().getFirstElementByName(kItemIDInputName);
  if (input.isUndefined()) {
    DebugLog("[CPLBasicFormReadItem::InitItemIDAndAttIDsFromRequestURL_CalculateItemIDHash] INPUT <%s> not found. "
             "There are no attachments in this item.",
             kItemIDInputName);
    return HX_RC_INVALID_DATA;
  }
  const CDOMAttribute value = input.getAttribute("value");
  if (value.isUndefined() || !value.hasValue() || value.getValue().empty()) return HX_RC_INVALID_DATA;
  sID = value.getValue();
  return 0;
}

// The answer to "Save and Close" names the item only in its attachment
// links ("...&id=<item>&...").
DWORD CPLBasicFormReadItem::ItemIDFromFirstAttachmentLink(std::string& sID) {
  const CDOMElement attachments = m_pFormContext->m_spDom->getBody().getElementById("divAtt");
  if (attachments.isUndefined()) {
    DebugLog("[CPLBasicFormReadItem::InitItemIDAndAttIDsFromRequestURL_CalculateItemIDHash] DIV <%s> not found. There "
             "are no attachments in this item.",
             "divAtt");
    return HX_RC_INVALID_DATA;
  }
  const CDOMStartTag link = attachments.getStartTagById("lnkAtmt");
  const CDOMAttribute href = link.isUndefined() ? CDOMAttribute() : link.getAttribute("href");
  if (href.isUndefined() || !href.hasValue()) return HX_RC_INVALID_DATA;
  const std::string sHref = DecodeHtmlCharacterReferences(href.getValue());
  if (sHref.empty()) {
    DebugLog("[CPLBasicFormReadItem::InitItemIDAndAttIDsFromRequestURL_CalculateItemIDHash]  <a=SaveClose> no Email ID "
             "inside Href.");
    return HX_RC_INVALID_DATA;
  }
  sID = ToStd(GetStringBetween(ToCI(sHref), "&id=", "&", 0));
  if (sID.empty()) {
    DebugLog("[CPLBasicFormReadItem::InitItemIDAndAttIDsFromRequestURL_CalculateItemIDHash]  <a=SaveClose> no Email ID "
             "inside Body.");
    return HX_RC_INVALID_DATA;
  }
  return 0;
}

DWORD CPLBasicFormReadItem::InitItemIDAndAttIDsFromRequestURL_CalculateItemIDHash() {
  m_sItemID.clear();
  m_sItemIDInPage.clear();
  m_vecAttachmentIDs.clear();
  m_sItemIDHash.clear();
  const CRequestInfo* pRequest = m_pFormContext->m_pContext->m_spRequestInfo.get();
  ci_string csValue;
  std::string sCandidate;
  DWORD dwRet = 0;
  bool bFromPage = false;
  if (pRequest->GetParamValue("ae", csValue) && csValue == "PreFormAction") {
    dwRet = ItemIDFromHiddenInput(sCandidate);
    bFromPage = true;
  } else if (pRequest->GetParamValue("id", csValue)) {
    sCandidate = ToStd(csValue);
  } else if (pRequest->GetParamValue("a", csValue) && csValue == "SaveClose") {
    dwRet = ItemIDFromFirstAttachmentLink(sCandidate);
  } else {
    DebugLog("[CPLBasicFormReadItem::InitItemIDAndAttIDsFromRequestURL_CalculateItemIDHash] "
             "CRequestInfo::GetParamValue() failed. <a=SaveClose>.");
    dwRet = HX_RC_INVALID_DATA;
  }
  if (dwRet == 0 && !sCandidate.empty()) {
    m_sItemID = sCandidate;
    m_sItemIDInPage = bFromPage ? sCandidate : UrlValueInPage(sCandidate);
    dwRet = CNotificationsHelper::GetRequestParamAttIDs(pRequest, m_vecAttachmentIDs);
    if (dwRet != 0) {
      DebugLog("[CPLBasicFormReadItem::InitItemIDAndAttIDsFromRequestURL_CalculateItemIDHash] "
               "CNotificationsHelper::GetRequestParamAttIDs() failed.");
    } else {
      // The same text the request checks hash: the joined IDs lose their last
      // character.
      m_sItemIDHash = CUtil::HashString((m_sItemID + JoinStrings("", m_vecAttachmentIDs)).c_str());
    }
  }
  DebugLog("[CPLBasicFormReadItem::InitItemIDAndAttIDsFromRequestURL_CalculateItemIDHash] returned dwRet <%d>.",
           static_cast<int>(dwRet));
  return dwRet;
}

// The IDs come from the request: escaped, each stays one script string (a
// plain ID is written unchanged).
bool CPLBasicFormReadItem::AppendItemIDAndItemIDHashJavaScriptVariable(bool bDirectAccess, std::string& sScript) {
  if (m_vecAttachmentIDs.empty()) {
    AppendStringLine(sScript, "var g_sQLPLItemID=\"", m_sItemIDInPage, PageChars());
  } else {
    sScript.append("var g_oQLPLItemIDAttIDs=new Array(\"")
        .append(EscapeJavaScriptString(m_sItemIDInPage, '"', PageChars()));
    for (const std::string& sID : m_vecAttachmentIDs)
      sScript.append("\",\"").append(EscapeJavaScriptString(UrlValueInPage(sID), '"', PageChars()));
    sScript.append("\");\r\n");
  }
  if (bDirectAccess) {
    AppendStringLine(sScript, "var g_sQLPLItemIDHash=\"", m_sItemIDHash, PageChars());
  } else {
    sScript.append("var g_sQLPLItemIDHash=null;\r\n");
  }
  DebugLog("[CPLBasicFormReadItem::AppendItemIDAndItemIDHashJavaScriptVariable] returned bRet <%s>.", TrueFalse(true));
  return true;
}
