#include "forms/premium/pl_premium_form_edit_item.h"

#include "common/debug_log.h"
#include "filter/block_levels.h"
#include "filter/dll_context.h"
#include "filter/request_flags.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "forms/form_text.h"
#include "forms/hx_form_context.h"
#include "html/dom_source.h"
#include "settings/setting_ids.h"

namespace {

const char* const kButtonsPrefix = "[CPLPremiumFormEditItem::DisableOrRemoveAttachmentButtonsIfNecessary] ";
const char* const kItemIDMarker = "var a_sId = \"";
const char* const kNewItemMarker = "var a_sId = null;";
const char* const kAttachButtonId = "attachfile";

// Attachment buttons block levels.
constexpr int32_t kButtonsEnabled = 0;
constexpr int32_t kButtonsDisabled = 1;
constexpr int32_t kButtonsRemoved = 2;

}  // namespace

CPLPremiumFormEditItem::CPLPremiumFormEditItem(CHXFormContext* pFormContext, int)
    : CPLForm(pFormContext), CPLPremiumFormItem(pFormContext) {
  DebugLog("[CPLPremiumFormEditItem::CPLPremiumFormEditItem] Starts");
  if (m_bIsInstanceValid) {
    try {
      m_bIsInstanceValid = InitItemIDFromResponseJavaScript_CalculateItemIDHash() == 0;
    } catch (const CDOMParserException& e) {
      // A form constructor reports a page it cannot read through validity.
      DebugLog("[CPLPremiumFormEditItem::CPLPremiumFormEditItem] Exception <%s> nPos <%d>.", e.m_strMessage.c_str(),
               static_cast<int>(e.m_nPos));
      m_bIsInstanceValid = false;
    }
    if (!m_bIsInstanceValid) {
      DebugLog(
          "[CPLPremiumFormEditItem::CPLPremiumFormEditItem] InitItemIDFromResponseJavaScript_CalculateItemIDHash() "
          "failed.");
    }
  }
  DebugLog("[CPLPremiumFormEditItem::CPLPremiumFormEditItem] returned. m_bIsInstanceValid <%s>.",
           YN(m_bIsInstanceValid));
}

CPLPremiumFormEditItem::~CPLPremiumFormEditItem() = default;

DWORD CPLPremiumFormEditItem::InitItemIDFromResponseJavaScript_CalculateItemIDHash() {
  m_sItemIDHash.clear();
  m_bItemIDHashIsAvailable = false;
  DebugLog("[CPLPremiumFormEditItem::InitItemIDFromResponseJavaScript_CalculateItemIDHash] Starts.");
  CDOMSource& dom = *m_pFormContext->m_spDom;
  const CDOMElement html = dom.getHtml();
  DWORD dwRet = HX_RC_INVALID_DATA;
  const HXPos nMarker = html.scanContentForString(kItemIDMarker);
  if (nMarker != HX_NPOS) {
    const HXPos nBegin = nMarker + static_cast<HXPos>(std::string(kItemIDMarker).size());
    const HXPos nEnd = dom.scanForString("\"", nBegin, html.getEndPos() - nBegin);
    if (nEnd != HX_NPOS && nEnd > nBegin) {
      std::string sItemID;
      dom.substringData(nBegin, nEnd - nBegin, sItemID);
      // The page writes the identifier as a script string: its backslashes
      // are escapes, not part of the identifier.
      std::erase(sItemID, '\\');
      m_sItemIDHash = CUtil::HashString(sItemID.c_str());
      m_bItemIDHashIsAvailable = true;
      dwRet = 0;
    }
  } else if (html.scanForString(kNewItemMarker) != HX_NPOS) {
    dwRet = 0;
  }
  DebugLog(
      "[CPLPremiumFormEditItem::InitItemIDFromResponseJavaScript_CalculateItemIDHash] returned. "
      "bItemIDHashIsAvailable <%s> dwRet <%d>.",
      YN(m_bItemIDHashIsAvailable), static_cast<int>(dwRet));
  return dwRet;
}

bool CPLPremiumFormEditItem::CheckIfFormNeedsToBeProcessed() {
  const bool bSMime = (m_pFormContext->m_pContext->m_dwRequestFlags & RequestFlag::SMime) != 0;
  DebugLog(
      "[CPLPremiumFormEditItem::CheckIfFormNeedsToBeProcessed] SMIME request <%s>, form needs to be changed <%s>. "
      "return bRet <%s>.",
      YN(bSMime), YN(!bSMime), bSMime ? "F" : "T");
  return !bSMime;
}

bool CPLPremiumFormEditItem::AppendItemIDHashJavaScriptVariable(bool bIsDirectAttachmentAccessEnabledOnThisForm,
                                                                std::string& sScript) {
  if (!bIsDirectAttachmentAccessEnabledOnThisForm) {
    AppendNullItemIDHashLine(sScript);
    return true;
  }
  if (!m_bItemIDHashIsAvailable) {
    DebugLog(
        "[CPLPremiumFormEditItem::AppendItemIDHashJavaScriptVariable] Direct attachment access is enabled on "
        "this form but item ID hash is not available!");
    return false;
  }
  AppendItemIDHashLine(m_sItemIDHash, sScript);
  return true;
}

DWORD CPLPremiumFormEditItem::DisableOrRemoveAttachmentButtonsIfNecessary() {
  DebugLog("%sstarted.", kButtonsPrefix);
  // The buttons follow the attach-file request's own decision.
  const int32_t nLevel = BlockLevels::ReadAttachmentButtonsLevel(*m_pSettings, static_cast<int32_t>(SettingsID()));
  DebugLog("%sAttachment buttons block level is <%d>.", kButtonsPrefix, static_cast<int>(nLevel));
  const DWORD dwRet = ApplyAttachmentButtonsBlockLevel(nLevel);
  DebugLog("%sreturned <%d>.", kButtonsPrefix, static_cast<int>(dwRet));
  return dwRet;
}

DWORD CPLPremiumFormEditItem::ApplyAttachmentButtonsBlockLevel(int32_t nLevel) {
  if (nLevel == kButtonsEnabled) {
    DebugLog("%sAttachment buttons are enabled. No modifications are necessary.", kButtonsPrefix);
    return 0;
  }
  CDOMElement button = m_pFormContext->m_spDom->getBody().getElementById(kAttachButtonId);
  if (button.isUndefined()) {
    DebugLog("%sFailed to find attachment button! ID: <%s>.", kButtonsPrefix, kAttachButtonId);
    return HX_RC_INVALID_DATA;
  }
  if (nLevel == kButtonsRemoved) return RemoveAttachmentButton(button);
  if (nLevel == kButtonsDisabled) return DisableAttachmentButton(button);
  return 0;
}

DWORD CPLPremiumFormEditItem::RemoveAttachmentButton(CDOMElement& button) {
  CBufferInstructionList* pList = m_pFormContext->m_pcobBufferInstructionList;
  CDOMElement parent = button.parentNode();
  if (parent.isUndefined()) {
    DebugLog("%sCDOMStartTag::parentNode() failed.", kButtonsPrefix);
    return HX_RC_INVALID_DATA;
  }
  DWORD dwRet = parent.remove(pList);
  if (dwRet != 0) {
    DebugLog("%sFailed to remove atachment button's parent elment. CDOMElement::remove() failed.", kButtonsPrefix);
  }
  const CDOMElement divider = parent.nextSibling();
  if (divider.isUndefined()) {
    DebugLog("%sCDOMStartTag::nextSibling() failed.", kButtonsPrefix);
    return dwRet;
  }
  const CDOMAttribute dividerClass = divider.getAttribute("class");
  // The toolbar's divider after the button; its class must match exactly.
  if (!dividerClass.isUndefined() && dividerClass.hasValue() && dividerClass.getValue() == "sep") {
    const DWORD dwDivider = divider.remove(pList);
    if (dwDivider != 0) {
      DebugLog("%sFailed to remove atachment button's parent elment. CDOMElement::remove() failed.", kButtonsPrefix);
    }
    // A removed divider must not hide a button that stayed in the page.
    if (dwRet == 0) dwRet = dwDivider;
  }
  return dwRet;
}

DWORD CPLPremiumFormEditItem::DisableAttachmentButton(const CDOMElement& button) {
  CBufferInstructionList* pList = m_pFormContext->m_pcobBufferInstructionList;
  for (const char* pName : {"href", "id", "name"}) {
    const DWORD dwRet = button.removeAttribute(pName, pList);
    if (dwRet != 0) {
      DebugLog("%sCDOMStartTag::removeAttribute() failed.", kButtonsPrefix);
      return dwRet;
    }
  }
  const CDOMStartTag image = button.getFirstStartTagByTagName("IMG");
  if (image.isUndefined()) {
    DebugLog("%sFailed to find attachment button image!", kButtonsPrefix);
    return HX_RC_INVALID_DATA;
  }
  const DWORD dwRet =
      image.setAttribute("style", "FILTER: progid:DXImageTransform.Microsoft.Alpha(opacity=35);", pList);
  if (dwRet != 0) {
    DebugLog("%sFailed to set attachment button image's style attribute. CDOMStartTag::setAttribute() failed.",
             kButtonsPrefix);
  }
  return dwRet;
}
