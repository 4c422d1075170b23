#include "host/hx_buffer_apply.h"

#include <cstdint>
#include <cstring>

DWORD HxApplyBufferInstructions(const char* base, size_t size, const CBufferInstructionList& list, std::string& out) {
  const uintptr_t begin = reinterpret_cast<uintptr_t>(base);
  std::string result;
  result.reserve(size);
  size_t copied = 0;      // buffer bytes consumed so far
  size_t lastOffset = 0;  // the list is in ascending address order
  ULONGLONG seen = 0;
  for (const CBufferInstructionNode* node = list.First(); node != list.End(); node = node->m_pNext) {
    // A list that claims fewer entries than it links is corrupt.
    if (node == nullptr || ++seen > list.size()) return kHxApplyBadInstruction;
    const CBufferInstruction* ins = node->m_spInstruction.get();
    if (ins == nullptr) return kHxApplyBadInstruction;
    const ULONGLONG address = ins->m_qwAddress;
    // An insert may stand right after the last byte; a delete must end there.
    if (address < begin || address - begin > size) return kHxApplyAddressOutside;
    const size_t offset = static_cast<size_t>(address - begin);
    if (offset < lastOffset) return kHxApplyBadInstruction;
    lastOffset = offset;
    if (ins->m_dwType == CBufferInstruction::TypeInsert) {
      if (ins->m_pszText == nullptr) return kHxApplyBadInstruction;
      // Text placed inside bytes already deleted has no place left.
      if (offset < copied) return kHxApplyBadInstruction;
      result.append(base + copied, offset - copied);
      result.append(ins->m_pszText, std::strlen(ins->m_pszText));
      copied = offset;
    } else if (ins->m_dwType == CBufferInstruction::TypeDelete) {
      if (ins->m_dwLength > size - offset) return kHxApplyAddressOutside;
      // Overlapping deletes remove the union of their bytes.
      if (offset > copied) {
        result.append(base + copied, offset - copied);
        copied = offset;
      }
      if (offset + ins->m_dwLength > copied) copied = offset + ins->m_dwLength;
    } else {
      return kHxApplyBadInstruction;
    }
  }
  if (seen != list.size()) return kHxApplyBadInstruction;
  result.append(base + copied, size - copied);
  out = std::move(result);
  return ERROR_SUCCESS;
}
