#include "forms/premium/pl_premium_form_get_attach_file_dialog.h"

#include "common/ci_string.h"
#include "common/debug_log.h"
#include "filter/dll_context.h"
#include "filter/result_codes.h"
#include "forms/dom_steps.h"
#include "forms/form_text.h"
#include "forms/hx_form_context.h"
#include "forms/hx_form_script_path.h"
#include "forms/premium/premium_page_text.h"
#include "general/pl_hx_general_settings.h"
#include "html/dom_source.h"
#include "settings/setting_ids.h"

namespace {

const char* const kProcessPrefix = "[CPLPremiumFormGETAttachFileDialog::Process] ";
const char* const kVariablesPrefix = "[CPLPremiumFormGETAttachFileDialog::InsertJavaScriptVariables] ";

}  // namespace

CPLPremiumFormGETAttachFileDialog::CPLPremiumFormGETAttachFileDialog(CHXFormContext* pFormContext)
    : CPLForm(pFormContext) {
  DebugLog("[CPLPremiumFormGETAttachFileDialog::CPLPremiumFormGETAttachFileDialog] Starts");
  if (m_bIsInstanceValid) {
    m_bIsInstanceValid =
        HasHtmlBodyAndHead(m_pFormContext, "[CPLPremiumFormGETAttachFileDialog::CPLPremiumFormGETAttachFileDialog] ");
  }
  DebugLog("[CPLPremiumFormGETAttachFileDialog::CPLPremiumFormGETAttachFileDialog] returned m_bIsInstanceValid <%s>.",
           YN(m_bIsInstanceValid));
}

DWORD CPLPremiumFormGETAttachFileDialog::Process() {
  DebugLog("[CPLPremiumFormGETAttachFileDialog::Process] start");
  const DWORD dwRet = RunCatchingDomExceptions(kProcessPrefix, [this] { return ProcessSteps(); });
  LogPremiumProcessFinished(kProcessPrefix, TemplateForBanner(m_pFormContext) + " (GET)", dwRet);
  return dwRet;
}

DWORD CPLPremiumFormGETAttachFileDialog::ProcessSteps() {
  DWORD dwRet = InsertJavaScriptVariables();
  if (dwRet != 0) {
    DebugLog("[CPLPremiumFormGETAttachFileDialog::Process] InsertJavaScriptVariables failed.");
    return dwRet;
  }
  dwRet = PrefixLinkedScripts(m_pFormContext, "dattach.js", true);
  if (dwRet != 0) {
    DebugLog("[CPLPremiumFormGETAttachFileDialog::Process] PrefixLinkedScripts failed.");
    return dwRet;
  }
  CHXFormScriptPath scriptPath(kProductWord, kProductScriptsVersion);
  dwRet = InsertScriptLink(m_pFormContext, "ql_plHelper.js", ScriptLinkKind::Script, &scriptPath, true);
  if (dwRet != 0) DebugLog("[CPLPremiumFormGETAttachFileDialog::Process] InsertScriptLink failed.");
  return dwRet;
}

DWORD CPLPremiumFormGETAttachFileDialog::InsertJavaScriptVariables() {
  DebugLog("%sstarted.", kVariablesPrefix);
  std::string sLines;
  sLines.reserve(512);
  if (!Append_InitJSResourceVariables({192}, sLines)) {
    DebugLog("%sAppend_InitJSResourceVariables failed.", kVariablesPrefix);
    DebugLog("%sreturned. dwRet <%d>.", kVariablesPrefix, static_cast<int>(HX_RC_MISSING));
    return HX_RC_MISSING;
  }
  const int32_t nSettingsID = static_cast<int32_t>(m_pFormContext->m_pContext->m_dwSettingsID);
  int32_t nEnableBlockedList = 0;
  if (!m_pSettings->GetSettingFromID(SettingEnableBlockedList, nEnableBlockedList, nSettingsID, 0)) {
    DebugLog("%sFailed to read enable blocked list setting. ID <%d>.", kVariablesPrefix,
             static_cast<int>(SettingEnableBlockedList));
  }
  ci_string csExtensions;
  if (nEnableBlockedList != 0 &&
      !m_pSettings->GetSettingFromID(SettingBlockedExtensions, csExtensions, nSettingsID, 0)) {
    DebugLog("%sFailed to read blocked extensions setting. ID <%d>.", kVariablesPrefix,
             static_cast<int>(SettingBlockedExtensions));
  }
  DebugLog("%sEnable blocked list <%s> Blocked extensions <%s>.", kVariablesPrefix, YN(nEnableBlockedList != 0),
           csExtensions.c_str());
  AppendStringLine(sLines, "var g_Extensions = \"", ToStd(csExtensions), PageChars());
  sLines += "var g_oExtensions = new Array();\r\ng_oExtensions = g_Extensions.split(\";\");\r\n";
  AppendStringLine(sLines, "var g_szQLCheckLang = \"", m_sUserLanguage, PageChars());
  const DWORD dwRet = m_pFormContext->m_spDom->getHead().getStartTag().insertDataAfter(
      "\r\n" + ProductScriptBlock(sLines) + "\r\n", m_pFormContext->m_pcobBufferInstructionList);
  if (dwRet != 0) {
    DebugLog("%sCDOMStartTag::insertDataAfter failed. dwRet <%d>.", kVariablesPrefix, static_cast<int>(dwRet));
  }
  DebugLog("%sreturned. dwRet <%d>.", kVariablesPrefix, static_cast<int>(dwRet));
  return dwRet;
}
