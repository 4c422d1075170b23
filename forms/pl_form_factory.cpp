#include "forms/pl_form_factory.h"

#include "common/debug_log.h"
#include "filter/dll_context.h"
#include "forms/hx_form_context.h"
#include "forms/pl_form.h"
#include "forms/pl_form_rows.h"
#include "html/dom_source.h"

namespace {

const char* const kNoDomMessage = "[CPLFormFactory::createForm] pFormContext->m_spDom is null or undefined. aborting";

// The first failing check's log line, or null for a complete context.
const char* IncompleteContextMessage(const CHXFormContext* ctx) {
  if (ctx == nullptr) return "[CPLFormFactory::createForm] pFormContext is null. aborting";
  if (ctx->m_pCommonPointers == nullptr)
    return "[CPLFormFactory::createForm] pFormContext->m_pCommonPointers is null. aborting";
  if (ctx->m_pContext == nullptr) return "[CPLFormFactory::createForm] pFormContext->m_pContext is null. aborting";
  if (ctx->m_pcobBufferInstructionList == nullptr) {
    return "[CPLFormFactory::createForm] pFormContext->m_pcobBufferInstructionList is null. aborting";
  }
  if (!ctx->HasDom()) return kNoDomMessage;
  const CDLLContext& record = *ctx->m_pContext;
  if (!record.m_spRequestInfo) {
    return "[CPLFormFactory::createForm] pFormContext->m_pContext->m_spRequestInfo is null. aborting";
  }
  if (!record.m_spExchangeURL) {
    return "[CPLFormFactory::createForm] pFormContext->m_pContext->m_spExchangeURL is null. aborting";
  }
  if (!record.m_spOutboundContext) {
    return "[CPLFormFactory::createForm] pFormContext->m_pContext->m_spOutboundContext is null. aborting";
  }
  if (record.m_pMyOwnContext == nullptr) {
    return "[CPLFormFactory::createForm] pFormContext->m_pContext->m_pMyOwnContex is null. aborting";
  }
  return nullptr;
}

}  // namespace

CPLForm* CPLFormFactory::createForm(CHXFormContext* pFormContext) {
  if (const char* pMessage = IncompleteContextMessage(pFormContext)) {
    DebugLog("%s", pMessage);
    return nullptr;
  }
  DebugLog("[CPLFormFactory::createForm] Template: <%s>", pFormContext->m_csTemplateName.c_str());
  const PLFormRow* pRow = FindPLFormRow(*pFormContext);
  if (pRow == nullptr) {
    DebugLog("[CPLFormFactory::createForm] Invalid OWA experience <%d>.",
             static_cast<int>(pFormContext->m_dwOWAExperience));
  }
  CPLForm* pForm = nullptr;
  if (pRow != nullptr && pRow->pCreate != nullptr) {
    // Only a form reads the page, so its DOM is built here; a page that no
    // form claims is never parsed.
    if (pFormContext->m_spDom.get() == nullptr || !pFormContext->HasDom()) {
      DebugLog("%s", kNoDomMessage);
      return nullptr;
    }
    pForm = pRow->pCreate(pFormContext);
    if (pForm != nullptr) DebugLog("[CPLFormFactory::createForm] return instance of %s class.", pRow->pClassName);
  }
  if (pForm == nullptr) {
    DebugLog("[CPLFormFactory::createForm] Unknown form, no need for modification. Return NULL.");
    return nullptr;
  }
  if (!pForm->IsInstanceValid()) {
    delete pForm;
    DebugLog("[CPLFormFactory::createForm] Created form instance is invalid! Delete instance and return NULL.");
    return nullptr;
  }
  return pForm;
}
