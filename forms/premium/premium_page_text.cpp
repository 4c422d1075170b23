#include "forms/premium/premium_page_text.h"

#include <memory>

#include "common/debug_log.h"
#include "common/js_string.h"
#include "filter/dll_context.h"
#include "filter/exchange_url.h"
#include "filter/pl_hx_context.h"
#include "forms/cached_script_decorator.h"
#include "forms/form_text.h"
#include "forms/hx_form.h"
#include "forms/hx_form_context.h"
#include "forms/hx_form_script_path.h"
#include "general/pl_hx_general_settings.h"
#include "html/dom_source.h"

namespace {

// Escape modes of the resource texts.
constexpr DWORD kPremiumTextMode = 1;
constexpr DWORD kOtherTextMode = 2;

}  // namespace

bool LoadPageTexts(CPLHXGeneralSettings* pSettings, const CHXFormContext* pFormContext, LANGID wLangID,
                   const std::string& sCharSet, const std::vector<int32_t>& ids,
                   std::map<int32_t, std::string>& texts) {
  const DWORD dwMode = pFormContext->m_dwOWAExperience == OwaExperience::Premium ? kPremiumTextMode : kOtherTextMode;
  return pSettings->GetResources(ids, texts, dwMode, wLangID, sCharSet);
}

std::string TextOr(const std::map<int32_t, std::string>& texts, int32_t id, const char* pFallback) {
  const auto it = texts.find(id);
  return it != texts.end() ? it->second : std::string(pFallback);
}

std::string ContextMenuItemHTML(const char* pId, const char* pCommand, const std::string& sText, bool bIconSpan) {
  std::string sHTML = std::string("<div _lnk=1 class=\"cmLnk\" id=") + pId + " cmd=\"" + pCommand + "\">";
  if (bIconSpan) sHTML += "<span class=cmPn id=spnImg></span>";
  sHTML += "<span id=spnT>" + sText + "</span></div>";
  return sHTML;
}

bool AppendProductPageLines(CHXForm& form, CHXFormContext* pFormContext, bool bSaveConfirmation, std::string& sLines) {
  const std::unique_ptr<CCachedScriptDecorator> spManager(form.GetCachedScriptManager(pFormContext));
  if (!spManager) return false;
  const CHXFormScriptPath scriptPath(kProductWord, kProductScriptsVersion);
  const char* pSavePage = bSaveConfirmation ? "ql_SaveConf.htm" : "ql_SaveX.htm";
  AppendStringLine(sLines, "var g_szQLPLSavePath=\"",
                   scriptPath.GetScriptPathFromScriptManager(pSavePage, spManager.get()), pFormContext->m_pageChars);
  AppendStringLine(sLines, "var g_szQLPLClosePath=\"",
                   scriptPath.GetScriptPathFromScriptManager("ql_Close.htm", spManager.get()), pFormContext->m_pageChars);
  AppendStringLine(sLines, "var g_szQLPLCancelPath=\"",
                   scriptPath.GetScriptPathFromScriptManager("ql_Cancel.htm", spManager.get()), pFormContext->m_pageChars);
  const CPLHXContext* pOwnContext = pFormContext->m_pContext->m_pMyOwnContext;
  // The cookie comes from the request as the client sent it: it must not be
  // able to end the string or the script block.
  const std::string sCookie = pOwnContext != nullptr ? pOwnContext->m_sCadataCookie : std::string();
  sLines += "var g_szQLPLCookie='" + EscapeJavaScriptString(sCookie, '\'', pFormContext->m_pageChars) + "';\r\n";
  return true;
}

void AppendRequestContextLines(const CHXFormContext* pFormContext, const std::string& sUserLanguage,
                               std::string& sLines) {
  const CExchangeURL& url = *pFormContext->m_pContext->m_spExchangeURL;
  AppendStringLine(sLines, "var g_PelloraDir = \"", ToStd(CPLHXGeneralSettings::getInstance()->GetVirtualFolderName()), pFormContext->m_pageChars);
  AppendStringLine(sLines, "var g_szRootURL = \"", url.m_sRootURL, pFormContext->m_pageChars);
  AppendStringLine(sLines, "var g_szBasePath = \"", url.m_sBasePath, pFormContext->m_pageChars);
  AppendStringLine(sLines, "var g_szQLCheckLang = \"", sUserLanguage, pFormContext->m_pageChars);
}

void LogPremiumProcessFinished(const char* pPrefix, const std::string& sFormText, DWORD dwRet) {
  LogProcessBanner(pPrefix, "*** Modifying " + sFormText + " form " + (dwRet == 0 ? "SUCCEEDED" : "FAILED") + "! ***");
  DebugLog("%smethod returned: %lu", pPrefix, static_cast<unsigned long>(dwRet));
}

std::string TemplateForBanner(const CHXFormContext* pFormContext) {
  return std::string("<") + (pFormContext != nullptr ? pFormContext->TemplateNameForLog() : "NULL") + ">";
}
