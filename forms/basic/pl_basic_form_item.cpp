#include "forms/basic/pl_basic_form_item.h"

#include "common/debug_log.h"
#include "forms/dom_steps.h"
#include "forms/form_text.h"
#include "forms/hx_form_context.h"
#include "html/dom_source.h"

namespace {
const char kLabel[] = "[CPLBasicFormItem::Process] ";
const char kAttachmentsDivId[] = "divAtt";
}  // namespace

DWORD CPLBasicFormItem::Process() {
  const DWORD dwRet = RunCatchingDomExceptions(kLabel, [this] { return ProcessSteps(); });
  LogProcessFinished(kLabel, m_pFormContext, dwRet);
  return dwRet;
}

DWORD CPLBasicFormItem::ProcessSteps() {
  DebugLog("[CPLBasicFormItem::Process] Starts.");
  DWORD dwRet = DisableOrRemoveAttachmentButtonsIfNecessary();
  if (dwRet != 0) {
    DebugLog("[CPLBasicFormItem::Process] DisableOrRemoveAttachmentButtonsIfNecessary() failed.");
    return dwRet;
  }
  // A page without attachments keeps the button edits only.
  const CDOMElement attachments = m_pFormContext->m_spDom->getBody().getElementById(kAttachmentsDivId);
  if (attachments.isUndefined()) {
    DebugLog("[CPLBasicFormItem::Process] DIV <%s> not found. There are no attachments in this item.",
             kAttachmentsDivId);
    return 0;
  }
  dwRet = InsertContextMenu();
  if (dwRet != 0) {
    DebugLog("[CPLBasicFormItem::Process] InsertContextMenu failed.");
    return dwRet;
  }
  for (const char* pScript : {"ql_plHelper.js", "ql_plBase64.js", BasicScriptFileName()}) {
    dwRet = InsertProductScriptLink(pScript);
    if (dwRet != 0) {
      DebugLog("[CPLBasicFormItem::Process] InsertScriptLink failed.");
      return dwRet;
    }
  }
  bool bDirectAccess = false;
  dwRet = ProcessAttachments(attachments, bDirectAccess);
  if (dwRet != 0) {
    DebugLog("[CPLBasicFormItem::Process] ProcessAttachments failed.");
    return dwRet;
  }
  dwRet = InsertContextMenuJavaScriptVariables(bDirectAccess);
  if (dwRet != 0) DebugLog("[CPLBasicFormItem::Process] InsertContextMenuJavaScriptVariables failed.");
  return dwRet;
}
