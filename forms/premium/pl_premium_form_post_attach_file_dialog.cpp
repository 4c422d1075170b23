#include "forms/premium/pl_premium_form_post_attach_file_dialog.h"

#include "common/debug_log.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "forms/dom_steps.h"
#include "forms/form_text.h"
#include "forms/hx_form_context.h"
#include "forms/premium/premium_page_text.h"
#include "html/dom_source.h"

namespace {

const char* const kCtorPrefix = "[CPLPremiumFormPOSTAttachFileDialog::CPLPremiumFormPOSTAttachFileDialog] ";
const char* const kProcessPrefix = "[CPLPremiumFormPOSTAttachFileDialog::Process] ";
const char* const kHashPrefix = "[CPLPremiumFormPOSTAttachFileDialog::InsertItemIDHashValueJavaScriptVariable] ";
const char* const kItemIDMarker = "o.sId = \"";
const char* const kObjectStatement = "var o = new Object();";
const char* const kResultId = "divResult";

HXPos Length(const char* pText) { return static_cast<HXPos>(std::char_traits<char>::length(pText)); }

}  // namespace

CPLPremiumFormPOSTAttachFileDialog::CPLPremiumFormPOSTAttachFileDialog(CHXFormContext* pFormContext, int)
    : CPLForm(pFormContext), CPLPremiumFormWithAttachments(pFormContext, 0) {
  DebugLog("%sStarts", kCtorPrefix);
  if (m_bIsInstanceValid) m_bIsInstanceValid = InitialiseFromPage();
  DebugLog("%sreturned. m_bIsInstanceValid <%s>.", kCtorPrefix, YN(m_bIsInstanceValid));
}

CPLPremiumFormPOSTAttachFileDialog::~CPLPremiumFormPOSTAttachFileDialog() = default;

// The page's elements are checked before the identifier is read below BODY,
// so a page without BODY makes the form invalid instead of throwing.
bool CPLPremiumFormPOSTAttachFileDialog::InitialiseFromPage() {
  if (!HasHtmlBodyAndHead(m_pFormContext, kCtorPrefix)) return false;
  try {
    if (InitItemIDFromDlgResponseJavaScript_CalculateItemIDHash() == 0) return true;
  } catch (const CDOMParserException& e) {
    DebugLog("%sException <%s> nPos <%d>.", kCtorPrefix, e.m_strMessage.c_str(), static_cast<int>(e.m_nPos));
  }
  DebugLog("%sInitItemIDFromDlgResponseJavaScript_CalculateItemIDHash() failed.", kCtorPrefix);
  return false;
}

DWORD CPLPremiumFormPOSTAttachFileDialog::InitItemIDFromDlgResponseJavaScript_CalculateItemIDHash() {
  m_sItemIDHash.clear();
  DebugLog("[CPLPremiumFormPOSTAttachFileDialog::InitItemIDFromDlgResponseJavaScript_CalculateItemIDHash] Starts.");
  CDOMSource& dom = *m_pFormContext->m_spDom;
  DWORD dwRet = HX_RC_INVALID_DATA;
  const CDOMElement script = dom.getBody().getFirstElementByTagName("SCRIPT");
  const HXPos nMarker = script.isUndefined() ? HX_NPOS : script.scanContentForString(kItemIDMarker);
  if (nMarker != HX_NPOS) {
    const HXPos nBegin = nMarker + Length(kItemIDMarker);
    const HXPos nContentEnd = script.getContentEndPos();
    const HXPos nEnd = nContentEnd > nBegin ? dom.scanForString("\"", nBegin, nContentEnd - nBegin) : HX_NPOS;
    if (nEnd != HX_NPOS && nEnd > nBegin) {
      std::string sItemID;
      dom.substringData(nBegin, nEnd - nBegin, sItemID);
      // Backslashes are the script string's escapes, not the identifier's.
      std::erase(sItemID, '\\');
      m_sItemIDHash = CUtil::HashString(sItemID.c_str());
      dwRet = 0;
    }
  }
  DebugLog(
      "[CPLPremiumFormPOSTAttachFileDialog::InitItemIDFromDlgResponseJavaScript_CalculateItemIDHash] returned "
      "dwRet <%d>.",
      static_cast<int>(dwRet));
  return dwRet;
}

DWORD CPLPremiumFormPOSTAttachFileDialog::Process() {
  DebugLog("[CPLPremiumFormPOSTAttachFileDialog::Process] start");
  const DWORD dwRet = RunCatchingDomExceptions(kProcessPrefix, [this] { return ProcessSteps(); });
  LogPremiumProcessFinished(kProcessPrefix, TemplateForBanner(m_pFormContext) + " (POST)", dwRet);
  return dwRet;
}

DWORD CPLPremiumFormPOSTAttachFileDialog::ProcessSteps() {
  const CDOMElement result = m_pFormContext->m_spDom->getBody().getElementById(kResultId);
  if (result.isUndefined()) {
    DebugLog("%sDIV <%s> not found. There are no attachments in this item.", kProcessPrefix, kResultId);
    return 0;
  }
  bool bIsDirectAttachmentAccessEnabledOnThisForm = false;
  DWORD dwRet = ProcessAttachments(result, bIsDirectAttachmentAccessEnabledOnThisForm);
  if (dwRet != 0) {
    DebugLog("%sProcessAttachments failed.", kProcessPrefix);
    return dwRet;
  }
  if (bIsDirectAttachmentAccessEnabledOnThisForm) {
    dwRet = InsertItemIDHashValueJavaScriptVariable();
    if (dwRet != 0) DebugLog("%sInsertItemIDHashValue() failed.", kProcessPrefix);
  }
  return dwRet;
}

DWORD CPLPremiumFormPOSTAttachFileDialog::InsertItemIDHashValueJavaScriptVariable() {
  const std::string sText = "o.szQLPLItemIDH=\"" + m_sItemIDHash + "\";";
  CDOMSource& dom = *m_pFormContext->m_spDom;
  DWORD dwRet = 0;
  const CDOMElement script = dom.getBody().getFirstElementByTagName("SCRIPT");
  const HXPos nStatement = script.isUndefined() ? HX_NPOS : script.scanContentForString(kObjectStatement);
  if (script.isUndefined()) {
    DebugLog("%s<SCRIPT> element was not found.", kHashPrefix);
    dwRet = HX_RC_INVALID_DATA;
  } else if (nStatement == HX_NPOS) {
    DebugLog("%s<%s> inside <SCRIPT> element was not found.", kHashPrefix, kObjectStatement);
    dwRet = HX_RC_INVALID_DATA;
  } else {
    dwRet = dom.insertData(nStatement + Length(kObjectStatement), sText, m_pFormContext->m_pcobBufferInstructionList);
    if (dwRet != 0) DebugLog("%sCDOMSource::insertData() failed.", kHashPrefix);
  }
  DebugLog("%sreturned dwRet <%d>.", kHashPrefix, static_cast<int>(dwRet));
  return dwRet;
}
