#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#include "common/char_set_labels.h"
#include "common/counted_ptr.h"
#include "common/debug_log.h"
#include "filter/buffer_instruction.h"
#include "filter/content_type_edit.h"
#include "filter/decoded_page.h"
#include "filter/dll_context.h"
#include "filter/edit_places.h"
#include "filter/notifications.h"
#include "filter/outbound_context.h"
#include "filter/result_codes.h"
#include "filter/send_raw_data.h"
#include "filter/util.h"
#include "forms/hx_form_context.h"
#include "forms/pl_form.h"
#include "forms/pl_form_factory.h"

namespace {

// The form of the page, its edits recorded in the list and their places
// read again as the browser reads the page, and the
// Content-Type that makes the browser read the page in the set it was
// walked in. A set already decided over the host's words is handed to the
// form, which would otherwise decide it again.
DWORD RunForm(CDLLContext* pContext, FormCreator createForm, CBufferInstructionList* pList,
              const std::string& urlValueSet = std::string(), const PageCharSetChoice* pChoice = nullptr) {
  const auto spFormContext = CCountedPtr<CHXFormContext>::Make(pContext, pList);
  spFormContext->m_sUrlValueSet = urlValueSet;
  if (pChoice != nullptr) {
    spFormContext->m_charSet = *pChoice;
    spFormContext->m_bCharSetChosen = true;
  }
  CCountedPtr<CPLForm> spForm(createForm(spFormContext));
  if (!spForm) {
    DebugLog("[CNotifications::NotifySendRawData] Unknown form, no need for modification");
    return HX_RC_INVALID_DATA;
  }
  DWORD dwRet = spForm->Process();
  if (dwRet == 0 && !pList->empty()) {
    dwRet = CheckEditPlaces(*spFormContext->m_pCommonPointers, CPageChars::ForCharSet(spFormContext->m_charSet.set),
                            *pList);
  }
  if (dwRet == 0 && !pList->empty()) {
    dwRet = StatePageCharSet(*spFormContext->m_pCommonPointers, spFormContext->m_charSet, pList);
  }
  return dwRet;
}

// The host's words stand for the decoded page while its form runs.
class CDecodedWords {
 public:
  CDecodedWords(COutboundContext& outbound, CCommonPointers& decoded)
      : m_outbound(outbound), m_pSaved(outbound.m_pCommonPointers) {
    m_outbound.m_pCommonPointers = &decoded;
  }
  ~CDecodedWords() { m_outbound.m_pCommonPointers = m_pSaved; }
  CDecodedWords(const CDecodedWords&) = delete;
  CDecodedWords& operator=(const CDecodedWords&) = delete;

 private:
  COutboundContext& m_outbound;
  CCommonPointers* m_pSaved;
};

// A page in a stateful set: the form runs over its characters, and the
// page, encoded back, replaces the one the server sent. Where it cannot be
// read so, it goes out unchanged.
DWORD RunFormDecoded(CDLLContext* pContext, FormCreator createForm, const PageCharSetChoice& choice,
                     CBufferInstructionList* pList) {
  const CCommonPointers& words = *pContext->m_spOutboundContext->m_pCommonPointers;
  CDecodedPage decoded;
  if (!decoded.Decode(words, choice.set)) {
    DebugLog("[CNotifications::NotifySendRawData] The page is in <%s>, which cannot be read in its characters "
             "here; it goes out unchanged.", choice.set.c_str());
    return HX_RC_INVALID_DATA;
  }
  CBufferInstructionList edits;
  DWORD dwRet = 0;
  {
    CDecodedWords decodedWords(*pContext->m_spOutboundContext, decoded.Words());
    dwRet = RunForm(pContext, createForm, &edits, choice.set);
  }
  if (dwRet != 0 || edits.empty()) return dwRet;
  std::string encoded;
  if (!decoded.EncodeEdited(edits, encoded)) {
    DebugLog("[CNotifications::NotifySendRawData] The rewritten page cannot be written in <%s>; it goes out "
             "unchanged.", choice.set.c_str());
    return HX_RC_INVALID_DATA;
  }
  const ULONGLONG qwFirst = words[CCommonPointers::FirstByte];
  const ULONGLONG qwHtml = words[CCommonPointers::HtmlBegin] != 0 ? words[CCommonPointers::HtmlBegin] : qwFirst;
  const ULONGLONG qwLength = words[CCommonPointers::LastByte] - qwHtml + 1;
  DebugLog("[CNotifications::NotifySendRawData] The page in <%s> was rewritten in its characters.", choice.set.c_str());
  dwRet = CUtil::DeleteHtmlStringAtPosition(qwHtml, static_cast<DWORD>(qwLength), pList);
  if (dwRet == 0) dwRet = CUtil::InsertHtmlStringAtPosition(qwHtml, encoded.c_str(), pList);
  if (dwRet == 0) dwRet = StatePageCharSet(words, choice, pList);
  return dwRet;
}

DWORD RewritePage(CDLLContext* pContext, FormCreator createForm, CBufferInstructionList* pList) {
  const COutboundContext* pOutbound = pContext->m_spOutboundContext.get();
  if (pOutbound != nullptr && pOutbound->m_pCommonPointers != nullptr) {
    const PageCharSetChoice choice = ChooseResponseCharSet(*pOutbound->m_pCommonPointers);
    if (IsStatefulCharSet(choice.set)) return RunFormDecoded(pContext, createForm, choice, pList);
    return RunForm(pContext, createForm, pList, std::string(), &choice);
  }
  return RunForm(pContext, createForm, pList);
}

}  // namespace

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
    dwRet = RewritePage(pContext, createForm, spInstructions.get());
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
