#include "forms/premium/pl_premium_form_post_document_view_refresh.h"

#include "common/debug_log.h"
#include "filter/result_codes.h"
#include "forms/dom_steps.h"
#include "forms/get_attribute.h"
#include "forms/hx_form_context.h"
#include "forms/premium/premium_page_text.h"
#include "html/dom_source.h"

namespace {
const char* const kProcessPrefix = "[CPLPremiumFormPOSTDocumentViewRefresh::Process] ";
const char* const kListPrefix = "[CPLPremiumFormPOSTDocumentViewRefresh::ProcessFileList] ";
}  // namespace

CPLPremiumFormPOSTDocumentViewRefresh::CPLPremiumFormPOSTDocumentViewRefresh(CHXFormContext* pFormContext, int)
    : CPLForm(pFormContext), CPLPremiumFormDocumentView(pFormContext) {}

CPLPremiumFormPOSTDocumentViewRefresh::~CPLPremiumFormPOSTDocumentViewRefresh() = default;

DWORD CPLPremiumFormPOSTDocumentViewRefresh::Process() {
  DebugLog("[CPLPremiumFormPOSTDocumentViewRefresh::Process] Starts.");
  const DWORD dwRet = RunCatchingDomExceptions(kProcessPrefix, [this] { return ProcessSteps(); });
  LogPremiumProcessFinished(kProcessPrefix, "<PLPremiumFormPOSTDocumentViewRefresh>", dwRet);
  return dwRet;
}

DWORD CPLPremiumFormPOSTDocumentViewRefresh::ProcessSteps() {
  const CDOMSource& dom = *m_pFormContext->m_spDom;
  const CDOMElement data = dom.getElementById("data");
  const CDOMElement list = dom.getElementById("tblIL");
  if (list.isUndefined()) {
    DebugLog("%s<TABLE id='%s'> element was not found. The list of files is empty.", kProcessPrefix, "tblIL");
    return 0;
  }
  if (data.isUndefined()) {
    DebugLog("%sFile list header <div id='%s'> element was not found.", kProcessPrefix, "data");
    return HX_RC_INVALID_DATA;
  }
  const DWORD dwRet = ProcessFileList(list);
  if (dwRet != 0) DebugLog("%sProcessFileList() failed.", kProcessPrefix);
  return dwRet;
}

DWORD CPLPremiumFormPOSTDocumentViewRefresh::ProcessFileList(const CDOMElement& list) {
  DebugLog("%sStarts.", kListPrefix);
  // The answer has no header table, so only the column goes in; a failed
  // insertion of it leaves the rows to do.
  list.getStartTag().insertDataAfter("<col style=\"width:24\" class=\"d\">",
                                     m_pFormContext->m_pcobBufferInstructionList);
  DWORD dwRet = 0;
  const CDOMElementVector rows = list.getElementsByTagName("TR");
  for (size_t i = 0; i < rows.length() && dwRet == 0; ++i) {
    const CDOMElement row = rows.item(i);
    ci_string csId;
    if (!GetAttribute(row, "id", csId) || csId != "us") continue;
    dwRet = ProcessFileRowElement(row);
    if (dwRet != 0) DebugLog("%sProcessFileRowElement() failed.", kListPrefix);
  }
  DebugLog("%sreturned dwRet <%d>.", kListPrefix, static_cast<int>(dwRet));
  return dwRet;
}
