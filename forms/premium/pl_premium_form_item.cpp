#include "forms/premium/pl_premium_form_item.h"

#include <map>
#include <vector>

#include "common/debug_log.h"
#include "filter/result_codes.h"
#include "forms/dom_steps.h"
#include "forms/form_text.h"
#include "forms/hx_form_context.h"
#include "forms/hx_form_script_path.h"
#include "forms/premium/premium_page_text.h"
#include "html/dom_source.h"

namespace {

const char* const kProcessPrefix = "[CPLPremiumFormItem::Process] ";
const char* const kAttachmentWellId = "divAtch";

// The product scripts of item pages, linked in this order.
const char* const kItemScripts[] = {"ql_plHelper.js", "ql_plBase64.js", "ql_plPremium.js"};

// The localised texts of the item pages' script block, in this order.
// Never destroyed: the process may end under running requests.
const std::vector<int32_t>& kItemScriptTextIds =
    *new std::vector<int32_t>{189, 171, 192, 214, 183, 181, 199, 202, 193, 188, 187, 104};

}  // namespace

CPLPremiumFormItem::CPLPremiumFormItem(CHXFormContext* pFormContext)
    : CPLForm(pFormContext), CPLPremiumFormWithAttachments(pFormContext, 0) {
  DebugLog("[CPLPremiumFormItem::CPLPremiumFormItem] Starts");
  if (m_bIsInstanceValid) {
    m_bIsInstanceValid = HasHtmlBodyAndHead(m_pFormContext, "[CPLPremiumFormItem::CPLPremiumFormItem] ");
  }
  DebugLog("[CPLPremiumFormItem::CPLPremiumFormItem] returned m_bIsInstanceValid <%s>.", YN(m_bIsInstanceValid));
}

CPLPremiumFormItem::~CPLPremiumFormItem() = default;

DWORD CPLPremiumFormItem::Process() {
  DebugLog("[CPLPremiumFormItem::Process] start");
  if (!CheckIfFormNeedsToBeProcessed()) {
    DebugLog(
        "[CPLPremiumFormItem::Process] CheckIfFormNeedsToBeProcessed() returned false. No need to make changes "
        "on this form, return.");
    DebugLog("[CPLPremiumFormItem::Process] method returned: %lu", 0UL);
    return 0;
  }
  const DWORD dwRet = RunCatchingDomExceptions(kProcessPrefix, [this] { return ProcessSteps(); });
  LogProcessFinished(kProcessPrefix, m_pFormContext, dwRet);
  return dwRet;
}

DWORD CPLPremiumFormItem::ProcessSteps() {
  DWORD dwRet = DisableOrRemoveAttachmentButtonsIfNecessary();
  if (dwRet != 0) {
    DebugLog("[CPLPremiumFormItem::Process] DisableOrRemoveAttachmentButtonsIfNecessary() failed.");
    return dwRet;
  }
  const CDOMElement attachments = m_pFormContext->m_spDom->getBody().getElementById(kAttachmentWellId);
  if (attachments.isUndefined()) {
    DebugLog("[CPLPremiumFormItem::Process] DIV <%s> not found. There are no attachments in this item.",
             kAttachmentWellId);
    return 0;
  }
  dwRet = InsertContextMenu();
  if (dwRet != 0) {
    DebugLog("[CPLPremiumFormItem::Process] InsertContextMenu failed.");
    return dwRet;
  }
  dwRet = PrefixLinkedScripts(m_pFormContext, "uglobal.js", true);
  if (dwRet != 0) {
    DebugLog("[CPLPremiumFormItem::Process] PrefixLinkedScripts failed.");
    return dwRet;
  }
  CHXFormScriptPath scriptPath(kProductWord, kProductScriptsVersion);
  for (const char* pScript : kItemScripts) {
    dwRet = InsertScriptLink(m_pFormContext, pScript, ScriptLinkKind::Script, &scriptPath, true);
    if (dwRet != 0) {
      DebugLog("[CPLPremiumFormItem::Process] InsertScriptLink failed.");
      return dwRet;
    }
  }
  bool bIsDirectAttachmentAccessEnabledOnThisForm = false;
  dwRet = ProcessAttachments(attachments, bIsDirectAttachmentAccessEnabledOnThisForm);
  if (dwRet != 0) {
    DebugLog("[CPLPremiumFormItem::Process] ProcessAttachments failed.");
    return dwRet;
  }
  dwRet = InsertJavaScriptVariables(bIsDirectAttachmentAccessEnabledOnThisForm);
  if (dwRet != 0) DebugLog("[CPLPremiumFormItem::Process] InsertJavaScriptVariables failed.");
  return dwRet;
}

DWORD CPLPremiumFormItem::InsertContextMenu() {
  DebugLog("[CPLPremiumFormItem::InsertContextMenu] started.");
  std::map<int32_t, std::string> texts;
  if (!LoadPageTexts(m_pSettings, m_pFormContext, m_wLangID, m_sCharSet, {107, 108, 109, 110}, texts)) {
    DebugLog("[CPLPremiumFormItem::InsertContextMenu] CPLHXGeneralSettings::GetResources failed.");
    return HX_RC_MISSING;
  }
  std::string sMenu;
  sMenu.reserve(256);
  sMenu += "<div id=divQLPLCM class=\"ctxMnu\" style=display:none>";
  sMenu += ContextMenuItemHTML("divQLPLOpen", "qlplopen", TextOr(texts, 107, "Open"), false);
  sMenu += ContextMenuItemHTML("divQLPLSave", "qlplsave", TextOr(texts, 108, "Save"), false);
  sMenu += "<div id=divQLPLS1><span id=spnCmDv>&nbsp;</span></div>";
  sMenu += ContextMenuItemHTML("divQLPLText", "qlpltext", TextOr(texts, 109, "Text"), false);
  sMenu += ContextMenuItemHTML("divQLPLRich", "qlplrich", TextOr(texts, 110, "Rich"), false);
  sMenu += "</div>";
  const DWORD dwRet =
      m_pFormContext->m_spDom->getBody().appendContentData(sMenu, m_pFormContext->m_pcobBufferInstructionList);
  if (dwRet != 0) DebugLog("[CPLPremiumFormItem::InsertContextMenu] CDOMElement::appendContentData() failed.");
  DebugLog("[CPLPremiumFormItem::InsertContextMenu] returned. dwRet <%d>.", static_cast<int>(dwRet));
  return dwRet;
}

DWORD CPLPremiumFormItem::InsertJavaScriptVariables(bool bIsDirectAttachmentAccessEnabledOnThisForm) {
  static const char* const kPrefix = "[CPLPremiumFormItem::InsertJavaScriptVariables] ";
  std::string sLines;
  sLines.reserve(512);
  DWORD dwRet = 0;
  ci_string csBuild, csTheme;
  if (!Append_InitJSResourceVariables(kItemScriptTextIds, sLines)) {
    DebugLog("%sAppend_InitJSResourceVariables failed.", kPrefix);
    dwRet = HX_RC_MISSING;
  } else if (!AppendPagePathAndContextLines(sLines)) {
    dwRet = HX_RC_MISSING;
  } else if (!AppendItemIDHashJavaScriptVariable(bIsDirectAttachmentAccessEnabledOnThisForm, sLines)) {
    DebugLog("%sAppendItemIDHashJavaScriptVariable() failed.", kPrefix);
    dwRet = HX_RC_MISSING;
  } else if (!GetOWABuildAndCurrentOWAThemeFromCSSLinkTags("premium.css", "owafont.css", csBuild, csTheme)) {
    DebugLog("%sGetOWABuildAndCurrentOWAThemeFromCSSLinkTags() failed.", kPrefix);
    dwRet = HX_RC_MISSING;
  } else {
    AppendStringLine(sLines, "var g_szQLPLOWABuild=\"", ToStd(csBuild), PageChars());
    AppendStringLine(sLines, "var g_szQLPLCurrentOWATheme=\"", ToStd(csTheme), PageChars());
    const std::string sBlock = "\r\n" + ProductScriptBlock(sLines) + "\r\n";
    dwRet = m_pFormContext->m_spDom->getHead().getStartTag().insertDataAfter(
        sBlock, m_pFormContext->m_pcobBufferInstructionList);
    if (dwRet != 0) DebugLog("%sCDOMStartTag::insertDataAfter failed. dwRet <%d>.", kPrefix, static_cast<int>(dwRet));
  }
  DebugLog("%sreturned. dwRet <%d>.", kPrefix, static_cast<int>(dwRet));
  return dwRet;
}

// The save, close and cancel pages, the cookie, the product's folder, the
// mail server's URL, the language and the safe-open and save-confirmation
// switches.
bool CPLPremiumFormItem::AppendPagePathAndContextLines(std::string& sLines) {
  if (!AppendProductPageLines(*this, m_pFormContext, m_bSaveConfirmation, sLines)) {
    DebugLog("[CPLPremiumFormItem::InsertJavaScriptVariables] GetCachedScriptManager() returned NULL.");
    return false;
  }
  AppendRequestContextLines(m_pFormContext, m_sUserLanguage, sLines);
  AppendFlagLine(sLines, "var g_SSLOpenAdmin = ", m_bSafeSSLOpen);
  AppendFlagLine(sLines, "var g_bQLPLSaveConfirmation = ", m_bSaveConfirmation);
  return true;
}

void CPLPremiumFormItem::AppendItemIDHashLine(const std::string& sItemIDHash, std::string& sScript) {
  // A decimal number: the same bytes in every character set.
  AppendStringLine(sScript, "var g_szQLPLItemIDH=\"", sItemIDHash, CPageChars::Utf8());
}

void CPLPremiumFormItem::AppendNullItemIDHashLine(std::string& sScript) { sScript += "var g_szQLPLItemIDH=null;\r\n"; }
