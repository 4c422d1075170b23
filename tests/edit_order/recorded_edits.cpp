// The two edit recorders of the module, as filter/page_edits.cpp has them,
// each also keeping a copy of the edit for the test.
#include "edit_order/recorded_edits.h"

#include "filter/buffer_instruction.h"
#include "filter/result_codes.h"
#include "filter/util.h"

std::vector<RecordedEdit>& RecordedEdits() {
  static std::vector<RecordedEdit> edits;
  return edits;
}

DWORD CUtil::InsertHtmlStringAtPosition(uint64_t address, const char* text, CBufferInstructionList* list) {
  if (address == 0 || text == nullptr || list == nullptr) return HX_RC_INVALID_DATA;
  RecordedEdits().push_back({CBufferInstruction::TypeInsert, address, text, 0});
  auto* instruction = new CBufferInstruction();
  instruction->m_dwType = CBufferInstruction::TypeInsert;
  instruction->m_qwAddress = address;
  instruction->SetText(text);
  list->AddInstruction(instruction);
  return 0;
}

DWORD CUtil::DeleteHtmlStringAtPosition(uint64_t address, DWORD length, CBufferInstructionList* list) {
  if (address == 0 || list == nullptr) return HX_RC_INVALID_DATA;
  if (length != 0) RecordedEdits().push_back({CBufferInstruction::TypeDelete, address, "", length});
  auto* instruction = new CBufferInstruction();
  instruction->m_dwType = CBufferInstruction::TypeDelete;
  instruction->m_qwAddress = address;
  instruction->m_dwLength = length;
  list->AddInstruction(instruction);
  return 0;
}
