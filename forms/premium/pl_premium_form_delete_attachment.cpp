#include "forms/premium/pl_premium_form_delete_attachment.h"

#include "common/debug_log.h"
#include "forms/dom_steps.h"
#include "forms/hx_form_context.h"
#include "forms/premium/premium_page_text.h"
#include "html/dom_source.h"

namespace {

const char* const kProcessPrefix = "[CPLPremiumFormDeleteAttachment::Process] ";
const char* const kAttachmentsId = "attWD";

}  // namespace

CPLPremiumFormDeleteAttachment::CPLPremiumFormDeleteAttachment(CHXFormContext* pFormContext, int)
    : CPLForm(pFormContext), CPLPremiumFormWithAttachments(pFormContext, 0) {}

CPLPremiumFormDeleteAttachment::~CPLPremiumFormDeleteAttachment() = default;

DWORD CPLPremiumFormDeleteAttachment::Process() {
  DebugLog("[CPLPremiumFormDeleteAttachment::Process] start");
  const DWORD dwRet = RunCatchingDomExceptions(kProcessPrefix, [this] { return ProcessSteps(); });
  LogPremiumProcessFinished(kProcessPrefix, "'Premium Delete Attachment'", dwRet);
  return dwRet;
}

DWORD CPLPremiumFormDeleteAttachment::ProcessSteps() {
  const CDOMElement attachments = m_pFormContext->m_spDom->getElementById(kAttachmentsId);
  if (attachments.isUndefined()) {
    DebugLog("%sDIV <%s> not found. There are no attachments in this item.", kProcessPrefix, kAttachmentsId);
    return 0;
  }
  bool bIsDirectAttachmentAccessEnabledOnThisForm = false;
  const DWORD dwRet = ProcessAttachments(attachments, bIsDirectAttachmentAccessEnabledOnThisForm);
  if (dwRet != 0) DebugLog("%sProcessAttachments failed.", kProcessPrefix);
  return dwRet;
}
