#include "forms/premium/pl_premium_form_read_item.h"

#include "common/debug_log.h"
#include "filter/dll_context.h"
#include "filter/notifications_helper.h"
#include "filter/request_info.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "forms/form_text.h"
#include "forms/hx_form_context.h"

CPLPremiumFormReadItem::CPLPremiumFormReadItem(CHXFormContext* pFormContext, int)
    : CPLForm(pFormContext), CPLPremiumFormItem(pFormContext) {
  DebugLog("[CPLPremiumFormReadItem::CPLPremiumFormReadItem] Starts");
  if (m_bIsInstanceValid) {
    m_bIsInstanceValid = InitItemIDAttIDsFromRequestURL_CalculateItemIDHash() == 0;
    if (!m_bIsInstanceValid) {
      DebugLog(
          "[CPLPremiumFormReadItem::CPLPremiumFormReadItem] InitItemIDAttIDsFromRequestURL_CalculateItemIDHash() "
          "failed.");
    }
  }
  DebugLog("[CPLPremiumFormReadItem::CPLPremiumFormReadItem] returned. m_bIsInstanceValid <%s>.",
           YN(m_bIsInstanceValid));
}

CPLPremiumFormReadItem::~CPLPremiumFormReadItem() = default;

DWORD CPLPremiumFormReadItem::InitItemIDAttIDsFromRequestURL_CalculateItemIDHash() {
  static const char* const kPrefix = "[CPLPremiumFormReadItem::InitItemIDAttIDsFromRequestURL_CalculateItemIDHash] ";
  m_sItemIDHash.clear();
  DebugLog("%sStarts.", kPrefix);
  const CRequestInfo* pRequestInfo = m_pFormContext->m_pContext->m_spRequestInfo.get();
  ci_string csItemID;
  if (!pRequestInfo->GetParamValue("id", csItemID)) {
    DebugLog("%sCRequestInfo::GetParamValue() failed. <id>.", kPrefix);
    return HX_RC_INVALID_DATA;
  }
  std::string sAttachmentIDs;
  const DWORD dwRet = CNotificationsHelper::ConcatRequestParamAttIDs(pRequestInfo, sAttachmentIDs);
  if (dwRet != 0) DebugLog("%sCNotificationsHelper::ConcatRequestParamAttIDs() failed.", kPrefix);
  m_sItemIDHash = CUtil::HashString((ToStd(csItemID) + sAttachmentIDs).c_str());
  DebugLog("%sreturned dwRet <%d>.", kPrefix, static_cast<int>(dwRet));
  return dwRet;
}

bool CPLPremiumFormReadItem::AppendItemIDHashJavaScriptVariable(bool bIsDirectAttachmentAccessEnabledOnThisForm,
                                                                std::string& sScript) {
  if (bIsDirectAttachmentAccessEnabledOnThisForm) {
    AppendItemIDHashLine(m_sItemIDHash, sScript);
  } else {
    AppendNullItemIDHashLine(sScript);
  }
  return true;
}
