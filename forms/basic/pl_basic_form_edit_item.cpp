#include "forms/basic/pl_basic_form_edit_item.h"

#include "common/debug_log.h"
#include "filter/dll_context.h"
#include "forms/form_text.h"
#include "forms/hx_form_context.h"
#include "settings/setting_ids.h"

CPLBasicFormEditItem::CPLBasicFormEditItem(CHXFormContext* pFormContext, int bBuildVirtualBases)
    : CPLForm(pFormContext), CPLBasicFormItem(pFormContext, 0), CPLBasicFormWithAttachButtons(pFormContext, 0) {
  if (m_bIsInstanceValid && InitItemIDFromHiddenInputTag_CalculateItemIDHash(true) != 0) {
    m_bIsInstanceValid = false;
    DebugLog("[CPLBasicFormEditItem::CPLBasicFormEditItem] InitItemIDFromHiddenInputTag_CalculateItemIDHash() failed.");
  }
  DebugLog("[CPLBasicFormEditItem::CPLBasicFormEditItem] returned. m_bIsInstanceValid <%s>.", YN(m_bIsInstanceValid));
}

CPLBasicFormEditItem::~CPLBasicFormEditItem() = default;

bool CPLBasicFormEditItem::AppendItemIDAndItemIDHashJavaScriptVariable(bool bDirectAccess, std::string& sScript) {
  const bool bItemID = !m_sItemID.empty();
  DebugLog("[CPLBasicFormEditItem::AppendItemIDAndItemIDHashJavaScriptVariable] Starts. "
           "bIsDirectAttachmentAccessEnabledOnThisForm <%s> bItemIDIsAvailableOnThisForm <%s>.",
           YN(bDirectAccess), YN(bItemID));
  bool bRet = true;
  if (bItemID) {
    AppendStringLine(sScript, "var g_sQLPLItemID=\"", m_sItemID, PageChars());
  } else {
    sScript.append("var g_sQLPLItemID=null;\r\n");
  }
  if (!bDirectAccess) {
    sScript.append("var g_sQLPLItemIDHash=null;\r\n");
  } else if (bItemID) {
    AppendStringLine(sScript, "var g_sQLPLItemIDHash=\"", m_sItemIDHash, PageChars());
  } else {
    DebugLog("[CPLBasicFormEditItem::AppendItemIDAndItemIDHashJavaScriptVariable] Direct attachment access is enabled "
             "on this form, but Item ID hash value is not available.");
    bRet = false;
  }
  DebugLog("[CPLBasicFormEditItem::AppendItemIDAndItemIDHashJavaScriptVariable] returned bRet <%s>.", TrueFalse(bRet));
  return bRet;
}

DWORD CPLBasicFormEditItem::DisableOrRemoveAttachmentButtonsIfNecessary() {
  const int32_t nLevel = ReadAttachButtonsBlockLevel();
  return ApplyAttachButtonsBlockLevel(nLevel, "[CPLBasicFormEditItem::DisableOrRemoveAttachmentButtonsIfNecessary] ",
                                      "Attachments block level setting is invalid.", true);
}
