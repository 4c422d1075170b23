#include "forms/basic/pl_basic_form_attachment_manager.h"

#include "common/debug_log.h"
#include "filter/result_codes.h"
#include "forms/dom_steps.h"
#include "forms/form_text.h"
#include "forms/hx_form_context.h"
#include "html/dom_source.h"

namespace {
const char kLabel[] = "[CPLBasicFormAttachmentManager::Process] ";
const char kAttachmentsFormName[] = "delFrm";
constexpr int32_t kExtBlockedTextID = 192;
}  // namespace

CPLBasicFormAttachmentManager::CPLBasicFormAttachmentManager(CHXFormContext* pFormContext, int bBuildVirtualBases)
    : CPLForm(pFormContext), CPLBasicFormWithAttachments(pFormContext, 0) {
  if (m_bIsInstanceValid && InitItemIDFromHiddenInputTag_CalculateItemIDHash(false) != 0) {
    m_bIsInstanceValid = false;
    DebugLog("[CPLBasicFormAttachmentManager::CPLBasicFormAttachmentManager] "
             "InitItemIDFromHiddenInputTag_CalculateItemIDHash() failed.");
  }
  DebugLog("[CPLBasicFormAttachmentManager::CPLBasicFormAttachmentManager] returned. m_bIsInstanceValid <%s>.",
           YN(m_bIsInstanceValid));
}

CPLBasicFormAttachmentManager::~CPLBasicFormAttachmentManager() = default;

DWORD CPLBasicFormAttachmentManager::Process() {
  const DWORD dwRet = RunCatchingDomExceptions(kLabel, [this] { return ProcessSteps(); });
  LogProcessBanner(kLabel, ModifyingBannerText(m_pFormContext, dwRet));
  DebugLog("[CPLBasicFormAttachmentManager::Process] returned dwRet <%d>.", static_cast<int>(dwRet));
  return dwRet;
}

DWORD CPLBasicFormAttachmentManager::ProcessSteps() {
  DebugLog("[CPLBasicFormAttachmentManager::Process] Starts.");
  DWORD dwRet = InsertAttachFileJavaScriptVariables();
  if (dwRet != 0) {
    DebugLog("[CPLBasicFormAttachmentManager::Process] InsertAttachFileJavaScriptVariables() failed.");
    return dwRet;
  }
  // The page's own attach script is served from the mail client's cache.
  dwRet = PrefixLinkedScripts(m_pFormContext, "attchmgr.js", true);
  if (dwRet != 0) {
    DebugLog("[CPLBasicFormAttachmentManager::Process] PrefixLinkedScripts failed.");
    return dwRet;
  }
  dwRet = InsertProductScriptLink("ql_plHelper.js");
  if (dwRet != 0) {
    DebugLog("[CPLBasicFormAttachmentManager::Process] InsertScriptLink failed.");
    return dwRet;
  }
  const CDOMElement attachments = m_pFormContext->m_spDom->getBody().getFirstElementByName(kAttachmentsFormName);
  if (attachments.isUndefined()) {
    DebugLog("[CPLBasicFormAttachmentManager::Process] FORM <%s> not found.", kAttachmentsFormName);
    return HX_RC_INVALID_DATA;
  }
  dwRet = InsertContextMenu();
  if (dwRet != 0) {
    DebugLog("[CPLBasicFormAttachmentManager::Process] InsertContextMenu failed.");
    return dwRet;
  }
  for (const char* pScript : {"ql_plBase64.js", BasicScriptFileName()}) {
    dwRet = InsertProductScriptLink(pScript);
    if (dwRet != 0) {
      DebugLog("[CPLBasicFormAttachmentManager::Process] InsertScriptLink failed.");
      return dwRet;
    }
  }
  bool bDirectAccess = false;
  dwRet = ProcessAttachments(attachments, bDirectAccess);
  if (dwRet != 0) {
    DebugLog("[CPLBasicFormAttachmentManager::Process] ProcessAttachments failed.");
    return dwRet;
  }
  dwRet = InsertContextMenuJavaScriptVariables(bDirectAccess);
  if (dwRet != 0) DebugLog("[CPLBasicFormAttachmentManager::Process] InsertContextMenuJavaScriptVariables() failed.");
  return dwRet;
}

DWORD CPLBasicFormAttachmentManager::InsertAttachFileJavaScriptVariables() {
  DebugLog("[CPLBasicFormAttachmentManager::InsertAttachFileJavaScriptVariables] started.");
  std::string sLines;
  sLines.reserve(512);
  DWORD dwRet = 0;
  if (!Append_InitJSResourceVariables({kExtBlockedTextID}, sLines)) {
    DebugLog("[CPLBasicFormAttachmentManager::InsertAttachFileJavaScriptVariables] Append_InitJSResourceVariables "
             "failed.");
    dwRet = HX_RC_MISSING;
  } else {
    AppendStringLine(sLines, "var g_Extensions = \"", ToStd(m_csBlockedExtensions), PageChars());
    sLines.append("var g_oExtensions = new Array();\r\ng_oExtensions = g_Extensions.split(\";\");\r\n");
    dwRet = m_pFormContext->m_spDom->getHead().getStartTag().insertDataAfter(
        "\r\n" + ProductScriptBlock(sLines) + "\r\n", Instructions());
    if (dwRet != 0) {
      DebugLog("[CPLBasicFormAttachmentManager::InsertAttachFileJavaScriptVariables] CDOMStartTag::insertDataAfter "
               "failed. dwRet <%d>.",
               static_cast<int>(dwRet));
    }
  }
  DebugLog("[CPLBasicFormAttachmentManager::InsertAttachFileJavaScriptVariables] returned. dwRet <%d>.",
           static_cast<int>(dwRet));
  return dwRet;
}

bool CPLBasicFormAttachmentManager::AppendItemIDAndItemIDHashJavaScriptVariable(bool bDirectAccess,
                                                                                std::string& sScript) {
  AppendStringLine(sScript, "var g_sQLPLItemID=\"", m_sItemID, PageChars());
  if (bDirectAccess) {
    AppendStringLine(sScript, "var g_sQLPLItemIDHash=\"", m_sItemIDHash, PageChars());
  } else {
    sScript.append("var g_sQLPLItemIDHash=null;\r\n");
  }
  DebugLog("[CPLBasicFormAttachmentManager::AppendItemIDAndItemIDHashJavaScriptVariable] returned bRet <%s>.",
           TrueFalse(true));
  return true;
}
