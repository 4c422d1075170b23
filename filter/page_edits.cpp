#include <cstdint>

#include "common/debug_log.h"
#include "filter/buffer_instruction.h"
#include "filter/result_codes.h"
#include "filter/util.h"

DWORD CUtil::InsertHtmlStringAtPosition(uint64_t address, const char* text, CBufferInstructionList* list) {
  if (address == 0 || text == nullptr || list == nullptr) {
    DebugLog("[InsertHtmlStringAtPosition] invalid data.");
    return HX_RC_INVALID_DATA;
  }
  auto* instruction = new CBufferInstruction();
  instruction->m_dwType = CBufferInstruction::TypeInsert;
  instruction->m_qwAddress = address;
  try {
    instruction->SetText(text);
  } catch (...) {
    delete instruction;
    throw;
  }
  // The list drops what it refuses; that never changes the caller's result.
  list->AddInstruction(instruction);
  return 0;
}

DWORD CUtil::DeleteHtmlStringAtPosition(uint64_t address, DWORD length, CBufferInstructionList* list) {
  if (address == 0 || list == nullptr) {
    DebugLog("[DeleteHtmlStringAtPosition] invalid data. ");
    return HX_RC_INVALID_DATA;
  }
  auto* instruction = new CBufferInstruction();
  instruction->m_dwType = CBufferInstruction::TypeDelete;
  instruction->m_qwAddress = address;
  instruction->m_dwLength = length;
  list->AddInstruction(instruction);
  return 0;
}
