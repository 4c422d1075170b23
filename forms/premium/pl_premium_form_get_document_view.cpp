#include "forms/premium/pl_premium_form_get_document_view.h"

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

const char* const kProcessPrefix = "[CPLPremiumFormGETDocumentView::Process] ";
const char* const kVariablesPrefix = "[CPLPremiumFormGETDocumentView::InsertJavaScriptVariables] ";
const char* const kMenuPrefix = "[CPLPremiumFormGETDocumentView::InsertPLItemsToContextMenu] ";

const char* const kDocumentViewScripts[] = {"ql_plHelper.js", "ql_plBase64.js", "ql_plPremiumDocumentView.js"};
const char* const kListViewScripts[] = {"clistview.js", "uview.js"};
// Never destroyed: the process may end under running requests.
const std::vector<int32_t>& kDocumentViewScriptTextIds =
    *new std::vector<int32_t>{189, 171, 192, 214, 183, 181, 199, 202, 193, 188, 187, 104};

}  // namespace

CPLPremiumFormGETDocumentView::CPLPremiumFormGETDocumentView(CHXFormContext* pFormContext, int)
    : CPLForm(pFormContext), CPLPremiumFormDocumentView(pFormContext) {
  DebugLog("[CPLPremiumFormGETDocumentView::CPLPremiumFormGETDocumentView] Starts");
  if (m_bIsInstanceValid) {
    m_bIsInstanceValid =
        HasHtmlBodyAndHead(m_pFormContext, "[CPLPremiumFormGETDocumentView::CPLPremiumFormGETDocumentView] ");
  }
  DebugLog("[CPLPremiumFormGETDocumentView::CPLPremiumFormGETDocumentView] returned m_bIsInstanceValid <%s>.",
           YN(m_bIsInstanceValid));
}

CPLPremiumFormGETDocumentView::~CPLPremiumFormGETDocumentView() = default;

DWORD CPLPremiumFormGETDocumentView::Process() {
  DebugLog("[CPLPremiumFormGETDocumentView::Process] Starts.");
  const DWORD dwRet = RunCatchingDomExceptions(kProcessPrefix, [this] { return ProcessSteps(); });
  LogProcessFinished(kProcessPrefix, m_pFormContext, dwRet);
  return dwRet;
}

DWORD CPLPremiumFormGETDocumentView::ProcessSteps() {
  const CDOMElement& body = m_pFormContext->m_spDom->getBody();
  const CDOMElement header = body.getElementById("tblH");
  const CDOMElement list = body.getElementById("tblIL");
  DWORD dwRet = 0;
  if (!FileListTablesFound(header, list, kProcessPrefix, dwRet)) return dwRet;
  CHXFormScriptPath scriptPath(kProductWord, kProductScriptsVersion);
  for (const char* pScript : kDocumentViewScripts) {
    dwRet = InsertScriptLink(m_pFormContext, pScript, ScriptLinkKind::Script, &scriptPath, true);
    if (dwRet != 0) {
      DebugLog("%sInsertScriptLink failed.", kProcessPrefix);
      return dwRet;
    }
  }
  for (const char* pScript : kListViewScripts) {
    dwRet = PrefixLinkedScripts(m_pFormContext, pScript, true);
    if (dwRet != 0) {
      DebugLog("%sPrefixLinkedScripts failed.", kProcessPrefix);
      return dwRet;
    }
  }
  dwRet = ProcessFileList(header, list);
  if (dwRet != 0) {
    DebugLog("%sProcessFileList() failed.", kProcessPrefix);
    return dwRet;
  }
  dwRet = InsertJavaScriptVariables();
  if (dwRet != 0) {
    DebugLog("%sInsertJavaScriptVariables failed.", kProcessPrefix);
    return dwRet;
  }
  dwRet = InsertPLItemsToContextMenu();
  if (dwRet != 0) DebugLog("%sInsertPLItemsToContextMenu failed.", kProcessPrefix);
  return dwRet;
}

DWORD CPLPremiumFormGETDocumentView::InsertJavaScriptVariables() {
  DebugLog("%sstarted.", kVariablesPrefix);
  std::string sLines;
  sLines.reserve(512);
  DWORD dwRet = AppendVariableLines(sLines);
  if (dwRet == 0) {
    dwRet = m_pFormContext->m_spDom->getHead().getStartTag().insertDataAfter(
        "\r\n" + ProductScriptBlock(sLines) + "\r\n", m_pFormContext->m_pcobBufferInstructionList);
    if (dwRet != 0) {
      DebugLog("%sCDOMStartTag::insertDataAfter failed. dwRet <%d>.", kVariablesPrefix, static_cast<int>(dwRet));
    }
  }
  DebugLog("%sreturned. dwRet <%d>.", kVariablesPrefix, static_cast<int>(dwRet));
  return dwRet;
}

DWORD CPLPremiumFormGETDocumentView::AppendVariableLines(std::string& sLines) {
  if (!Append_InitJSResourceVariables(kDocumentViewScriptTextIds, sLines)) {
    DebugLog("%sAppend_InitJSResourceVariables failed.", kVariablesPrefix);
    return HX_RC_MISSING;
  }
  AppendStringLine(sLines, "var g_Extensions = \"", ToStd(m_csBlockedExtensions), PageChars());
  sLines += "var g_oExtensions = new Array();\r\ng_oExtensions = g_Extensions.split(\";\");\r\n";
  if (!AppendProductPageLines(*this, m_pFormContext, m_bSaveConfirmation, sLines)) {
    DebugLog("%sGetCachedScriptManager() returned NULL.", kVariablesPrefix);
    return HX_RC_MISSING;
  }
  AppendRequestContextLines(m_pFormContext, m_sUserLanguage, sLines);
  AppendFlagLine(sLines, "var g_SSLOpenAdmin = ", m_bSafeSSLOpen);
  AppendFlagLine(sLines, "var g_iQLPLEnableOWAWebReady = ", m_bWebReadyEnabled);
  AppendFlagLine(sLines, "var g_bQLPLSaveConfirmation = ", m_bSaveConfirmation);
  ci_string csBuild, csTheme;
  if (!GetOWABuildAndCurrentOWAThemeFromCSSLinkTags("premium.css", "owafont.css", csBuild, csTheme)) {
    DebugLog("%sGetOWABuildAndCurrentOWAThemeFromCSSLinkTags() failed.", kVariablesPrefix);
    return HX_RC_MISSING;
  }
  AppendStringLine(sLines, "var g_szQLPLOWABuild=\"", ToStd(csBuild), PageChars());
  AppendStringLine(sLines, "var g_szQLPLCurrentOWATheme=\"", ToStd(csTheme), PageChars());
  return 0;
}

DWORD CPLPremiumFormGETDocumentView::InsertPLItemsToContextMenu() {
  DebugLog("%sStarts", kMenuPrefix);
  DWORD dwRet = 0;
  const CDOMElement menu = m_pFormContext->m_spDom->getBody().getElementById("divVwm");
  const CDOMStartTag separator = menu.isUndefined() ? CDOMStartTag() : menu.getStartTagById("divS");
  std::map<int32_t, std::string> texts;
  if (menu.isUndefined()) {
    DebugLog("%sCDOMElement::getElementById() failed when searching for <div id='%s'> element.", kMenuPrefix, "divVwm");
    dwRet = HX_RC_INVALID_DATA;
  } else if (separator.isUndefined()) {
    DebugLog("%sCDOMElement::getStartTagById() failed when searching for <div id='%s'>.", kMenuPrefix, "divS");
    dwRet = HX_RC_INVALID_DATA;
  } else if (!LoadPageTexts(m_pSettings, m_pFormContext, m_wLangID, m_sCharSet, {108, 109, 110}, texts)) {
    DebugLog("%sCPLHXGeneralSettings::GetResources failed.", kMenuPrefix);
    dwRet = HX_RC_MISSING;
  } else {
    std::string sItems;
    sItems.reserve(256);
    sItems += ContextMenuItemHTML("divQLPLSave", "qlplsave", TextOr(texts, 108, "Save"), true);
    sItems += ContextMenuItemHTML("divQLPLText", "qlpltext", TextOr(texts, 109, "Text"), true);
    sItems += ContextMenuItemHTML("divQLPLRich", "qlplrich", TextOr(texts, 110, "Rich"), true);
    dwRet = separator.insertDataBefore(sItems, m_pFormContext->m_pcobBufferInstructionList);
    if (dwRet != 0) DebugLog("%sCDOMStartTag::insertDataBefore() failed.", kMenuPrefix);
  }
  DebugLog("%sreturned dwRet <%d>.", kMenuPrefix, static_cast<int>(dwRet));
  return dwRet;
}
