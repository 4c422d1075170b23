#include "html/html_buffer_edit.h"

#include <cstdint>
#include <new>

#include "common/debug_log.h"
#include "filter/buffer_instruction.h"

namespace HtmlBufferEdit {

DWORD InsertHtmlStringAtPosition(const char* pAddress, const char* pText, CBufferInstructionList* pList) {
  if (pAddress == nullptr || pText == nullptr || pList == nullptr) {
    DebugLog("[InsertHtmlStringAtPosition] invalid data.");
    return ERROR_INVALID_DATA;
  }
  auto* pInstruction = new CBufferInstruction();
  pInstruction->m_dwType = CBufferInstruction::TypeInsert;
  pInstruction->m_qwAddress = static_cast<ULONGLONG>(reinterpret_cast<uintptr_t>(pAddress));
  try {
    pInstruction->SetText(pText);
  } catch (...) {
    delete pInstruction;
    throw;
  }
  pList->AddInstruction(pInstruction);
  return ERROR_SUCCESS;
}

DWORD DeleteHtmlStringAtPosition(const char* pAddress, DWORD dwLength, CBufferInstructionList* pList) {
  if (pAddress == nullptr || pList == nullptr) {
    DebugLog("[DeleteHtmlStringAtPosition] invalid data. ");
    return ERROR_INVALID_DATA;
  }
  auto* pInstruction = new CBufferInstruction();
  pInstruction->m_dwType = CBufferInstruction::TypeDelete;
  pInstruction->m_qwAddress = static_cast<ULONGLONG>(reinterpret_cast<uintptr_t>(pAddress));
  pInstruction->m_dwLength = dwLength;
  pList->AddInstruction(pInstruction);
  return ERROR_SUCCESS;
}

}  // namespace HtmlBufferEdit
