#include <exception>
#include <new>
#include <stdexcept>

#include "common/counted_ptr.h"
#include "common/debug_log.h"
#include "filter/buffer_instruction.h"
#include "filter/content_type_edit.h"
#include "filter/dll_context.h"
#include "filter/notifications.h"
#include "filter/result_codes.h"
#include "filter/send_raw_data.h"
#include "forms/hx_form_context.h"
#include "forms/pl_form.h"
#include "forms/pl_form_factory.h"

DWORD CNotifications::NotifySendRawData(CDLLContext* pContext) {
  return SendRawDataWithForms(pContext, &CPLFormFactory::createForm);
}

DWORD SendRawDataWithForms(CDLLContext* pContext, FormCreator createForm) {
  DWORD dwRet = 0;
  CCountedPtr<CBufferInstructionList> spInstructions;
  try {
    spInstructions = CCountedPtr<CBufferInstructionList>::Make();
  } catch (...) {
    // Reported below as a missing list.
  }
  if (pContext == nullptr) {
    DebugLog("[CNotifications::NotifySendRawData] Context not populated for further activity");
    dwRet = HX_RC_INVALID_DATA;
    LogNotificationFinished("NotifySendRawData", dwRet, pContext);
    return dwRet;
  }
  if (!spInstructions) {
    DebugLog("[CNotifications::NotifySendRawData] null CBufferInstructionList");
    dwRet = HX_RC_INVALID_DATA;
    pContext->m_dwControlMessage = ControlMessageIgnore;
    LogNotificationFinished("NotifySendRawData", dwRet, pContext);
    return dwRet;
  }

  bool formFailed = false;
  try {
    const auto spFormContext = CCountedPtr<CHXFormContext>::Make(pContext, spInstructions.get());
    CCountedPtr<CPLForm> spForm(createForm(spFormContext));
    if (!spForm) {
      DebugLog("[CNotifications::NotifySendRawData] Unknown form, no need for modification");
      dwRet = HX_RC_INVALID_DATA;
    } else {
      dwRet = spForm->Process();
      // The browser must read the rewritten page in the set it was walked in.
      if (dwRet == 0 && !spInstructions->empty()) dwRet = StatePageCharSet(*spFormContext);
    }
  } catch (const std::runtime_error& e) {
    DebugLog("[CNotifications::NotifySendRawData] Runtime exception: %s", e.what());
    formFailed = true;
  } catch (...) {
    DebugLog("[CNotifications::NotifySendRawData] Unexpected exception");
    formFailed = true;
  }
  // A form that threw may have recorded only part of its edits; a half
  // rewritten page must not go out as a success.
  if (formFailed) dwRet = HX_RC_INVALID_DATA;

  if (dwRet != 0) {
    pContext->m_dwControlMessage = ControlMessageIgnore;
  } else if (spInstructions->empty()) {
    DebugLog("[CNotifications::NotifySendRawData] m_pcobBufferInstructions is Empty ");
    if (pContext->m_dwControlMessage != ControlMessageReplace) {
      dwRet = HX_RC_INVALID_DATA;
      pContext->m_dwControlMessage = ControlMessageIgnore;
    }
  } else {
    DebugLog("[CNotifications::NotifySendRawData] Sending instructions to core services, number of instructions is %d ",
             static_cast<int>(spInstructions->size()));
    const DWORD submitted = SubmitBufferCommands(pContext->m_pCoreServices, pContext, spInstructions.get());
    if (submitted != 0) {
      DebugLog("[CNotifications::NotifySendRawData] SubmitBufferCommands returned error %d", submitted);
      dwRet = submitted;
      pContext->m_dwControlMessage = ControlMessageIgnore;
    }
  }
  LogNotificationFinished("NotifySendRawData", dwRet, pContext);
  return dwRet;
}
