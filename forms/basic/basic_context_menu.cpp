// The product's context menu on Basic pages: the hidden menu element, its
// start-up call, and the script variables its scripts read (localised texts,
// the product's page paths, cookie, folders, flags, item ID and OWA theme).
#include <memory>
#include <string>
#include <vector>

#include "common/debug_log.h"
#include "common/js_string.h"
#include "filter/dll_context.h"
#include "filter/exchange_url.h"
#include "filter/pl_hx_context.h"
#include "filter/request_flags.h"
#include "filter/result_codes.h"
#include "forms/basic/pl_basic_form_with_attachments.h"
#include "forms/cached_script_decorator.h"
#include "forms/form_text.h"
#include "forms/hx_form_context.h"
#include "forms/hx_form_script_path.h"
#include "general/pl_hx_general_settings.h"
#include "html/dom_source.h"

namespace {

const char kMenuBeforeHandlers[] = "<div id=\"idqlplRMENU\" name=\"idqlplRMENU\" ";
const char kMenuContextAttr[] = "oncontextmenu=\"return false\" ";
const char kMenuClickAttr[] = "onClick=\"f_QLPLAttAction(event);\" ";
const char kMenuAfterHandlers[] =
    "onmousedown=\"f_QLPLAttAction(event);\" onkeypress=\"f_QLPLAttAction(event);\" "
    "onkeydown=\"f_QLPLAttAction(event);\" onMouseout=\"f_QLPLcheckOut(event)\" onMouseover=\"f_QLPLcheckIn(event)\" "
    "style=\"background-color: #d3d3d3; border-bottom: black 1px solid; border-left: black 1px solid; "
    "border-right: black 1px solid; border-top: black 1px solid; FONT: 12px Arial; CURSOR:default; color:menutext;  "
    "POSITION: absolute; VISIBILITY: hidden; WIDTH: 110px\"></div>";

// g_szPelrLoading, g_szCancel, g_szExtBlocked, g_szEmbExtBlocked, g_szSaving,
// g_szSaveNotSupp, g_szEnableActiveX, g_szLaunchJavaApplet, g_szJavaNotSupp,
// g_szDownCancelled, g_szDownCompleted, g_szClose, g_szHelpText,
// g_szOpenText, g_szSaveText, g_szTextText, g_szRichText.
// Never destroyed: the process may end under running requests.
const std::vector<int32_t>& kMenuTextIDs =
    *new std::vector<int32_t>{189, 171, 192, 214, 183, 181, 199, 202, 193, 188, 187, 104, 197, 107, 108, 109, 110};

}  // namespace

DWORD CPLBasicFormWithAttachments::InsertContextMenu() {
  CDOMSource& dom = *m_pFormContext->m_spDom;
  std::string sMenu = kMenuBeforeHandlers;
  sMenu.append(IsMacClient() ? kMenuClickAttr : kMenuContextAttr);
  sMenu.append(IsMacClient() ? kMenuContextAttr : kMenuClickAttr);
  sMenu.append(kMenuAfterHandlers);
  DWORD dwRet = dom.getBody().appendContentData(sMenu, Instructions());
  if (dwRet != 0) {
    DebugLog("[CPLBasicFormWithAttachments::InsertContextMenu] CDOMElement::appendContantData() failed.");
  } else {
    dwRet = dom.getHtml().appendContentData(ProductScriptBlock("f_QLPLOnLoad()"), Instructions());
    if (dwRet != 0) {
      DebugLog("[CPLBasicFormWithAttachments::InsertContextMenu] CDOMElement::appendContentData() failed when "
               "inserting context menu initialization.");
    }
  }
  DebugLog("[CPLBasicFormWithAttachments::InsertContextMenu] returned dwRet <%d>.", static_cast<int>(dwRet));
  return dwRet;
}

DWORD CPLBasicFormWithAttachments::AppendPagePathVariables(std::string& sScript) {
  const std::unique_ptr<CCachedScriptDecorator> spManager(GetCachedScriptManager(m_pFormContext));
  if (!spManager) {
    DebugLog("[CPLBasicFormWithAttachments::InsertContextMenuJavaScriptVariables] GetCachedScriptManager() returned "
             "NULL.");
    return HX_RC_MISSING;
  }
  const CHXFormScriptPath path(kProductWord, kProductScriptsVersion);
  const bool bPremiumClient = (m_pFormContext->m_pContext->m_dwRequestFlags & RequestFlag::PremiumClient) != 0;
  const char* pSavePage = m_bSaveConfirmation ? "ql_SaveConf.htm" : bPremiumClient ? "ql_SaveX.htm" : "ql_Save.htm";
  AppendStringLine(sScript, "var g_szQLPLSavePath=\"", path.GetScriptPathFromScriptManager(pSavePage, spManager.get()), PageChars());
  AppendStringLine(sScript, "var g_szQLPLClosePath=\"",
                   path.GetScriptPathFromScriptManager("ql_Close.htm", spManager.get()), PageChars());
  AppendStringLine(sScript, "var g_szQLPLCancelPath=\"",
                   path.GetScriptPathFromScriptManager("ql_Cancel.htm", spManager.get()), PageChars());
  AppendStringLine(sScript, "var g_szQLPLMacJavaHelpFilename=\"",
                   path.GetScriptPathFromScriptManager("ql_PLMacJavaHelp.htm", spManager.get()), PageChars());
  return 0;
}

// The cookie comes from the request: escaped, it stays one script string.
void CPLBasicFormWithAttachments::AppendRequestVariables(std::string& sScript) {
  const CDLLContext& record = *m_pFormContext->m_pContext;
  sScript.append("var g_szQLPLCookie='")
      .append(EscapeJavaScriptString(record.m_pMyOwnContext->m_sCadataCookie, '\'', PageChars()))
      .append("';\r\n");
  AppendStringLine(sScript, "var g_PelloraDir = \"", ToStd(m_pSettings->GetVirtualFolderName()), PageChars());
  AppendStringLine(sScript, "var g_szRootURL = \"", record.m_spExchangeURL->m_sRootURL, PageChars());
  AppendStringLine(sScript, "var g_szBasePath = \"", record.m_spExchangeURL->m_sBasePath, PageChars());
  AppendStringLine(sScript, "var g_szQLCheckLang = \"", m_sUserLanguage, PageChars());
  AppendFlagLine(sScript, "var g_SSLOpenAdmin = ", m_bSafeSSLOpen);
  AppendFlagLine(sScript, "var g_bQLPLSaveConfirmation = ", m_bSaveConfirmation);
}

DWORD CPLBasicFormWithAttachments::InsertContextMenuJavaScriptVariables(bool bDirectAccess) {
  DebugLog("[CPLBasicFormWithAttachments::InsertContextMenuJavaScriptVariables] started.");
  std::string sLines;
  sLines.reserve(512);
  DWORD dwRet = 0;
  ci_string csBuild;
  ci_string csTheme;
  if (!Append_InitJSResourceVariables(kMenuTextIDs, sLines)) {
    DebugLog("[CPLBasicFormWithAttachments::InsertContextMenuJavaScriptVariables] Append_InitJSResourceVariables "
             "failed.");
    dwRet = HX_RC_MISSING;
  } else {
    dwRet = AppendPagePathVariables(sLines);
  }
  if (dwRet == 0) {
    AppendRequestVariables(sLines);
    if (!AppendItemIDAndItemIDHashJavaScriptVariable(bDirectAccess, sLines)) {
      DebugLog("[CPLBasicFormWithAttachments::InsertContextMenuJavaScriptVariables] "
               "AppendItemIDAndItemIDHashJavaScriptVariable() failed.");
      dwRet = HX_RC_MISSING;
    } else if (!GetOWABuildAndCurrentOWAThemeFromCSSLinkTags("basic.css", "basic_owafont.css", csBuild, csTheme)) {
      DebugLog("[CPLBasicFormWithAttachments::InsertContextMenuJavaScriptVariables] "
               "GetOWABuildAndCurrentOWAThemeFromCSSLinkTags() failed.");
      dwRet = HX_RC_MISSING;
    }
  }
  if (dwRet == 0) {
    AppendStringLine(sLines, "var g_szQLPLOWABuild=\"", ToStd(csBuild), PageChars());
    AppendStringLine(sLines, "var g_szQLPLCurrentOWATheme=\"", ToStd(csTheme), PageChars());
    dwRet = m_pFormContext->m_spDom->getHead().getStartTag().insertDataAfter("\r\n" + ProductScriptBlock(sLines) + "\r\n",
                                                                             Instructions());
    if (dwRet != 0) {
      DebugLog("[CPLBasicFormWithAttachments::InsertContextMenuJavaScriptVariables] CDOMStartTag::insertDataAfter "
               "failed. dwRet <%d>.",
               static_cast<int>(dwRet));
    }
  }
  DebugLog("[CPLBasicFormWithAttachments::InsertContextMenuJavaScriptVariables] returned. dwRet <%d>.",
           static_cast<int>(dwRet));
  return dwRet;
}
