#include "forms/premium/pl_premium_form_post_document_view_sort.h"

#include "common/debug_log.h"
#include "forms/dom_steps.h"
#include "forms/hx_form_context.h"
#include "forms/premium/premium_page_text.h"
#include "html/dom_source.h"

namespace {
const char* const kProcessPrefix = "[CPLPremiumFormPOSTDocumentViewSort::Process] ";
}  // namespace

CPLPremiumFormPOSTDocumentViewSort::CPLPremiumFormPOSTDocumentViewSort(CHXFormContext* pFormContext, int)
    : CPLForm(pFormContext), CPLPremiumFormDocumentView(pFormContext) {}

CPLPremiumFormPOSTDocumentViewSort::~CPLPremiumFormPOSTDocumentViewSort() = default;

DWORD CPLPremiumFormPOSTDocumentViewSort::Process() {
  DebugLog("[CPLPremiumFormPOSTDocumentViewSort::Process] Starts.");
  const DWORD dwRet = RunCatchingDomExceptions(kProcessPrefix, [this] { return ProcessSteps(); });
  LogPremiumProcessFinished(kProcessPrefix, "<PLPremiumFormPOSTDocumentViewSort>", dwRet);
  return dwRet;
}

DWORD CPLPremiumFormPOSTDocumentViewSort::ProcessSteps() {
  // The answer is a fragment: the tables are looked up in the whole page.
  const CDOMSource& dom = *m_pFormContext->m_spDom;
  const CDOMElement header = dom.getElementById("tblH");
  const CDOMElement list = dom.getElementById("tblIL");
  DWORD dwRet = 0;
  if (!FileListTablesFound(header, list, kProcessPrefix, dwRet)) return dwRet;
  dwRet = ProcessFileList(header, list);
  if (dwRet != 0) DebugLog("%sProcessFileList() failed.", kProcessPrefix);
  return dwRet;
}
