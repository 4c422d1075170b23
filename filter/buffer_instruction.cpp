#include "filter/buffer_instruction.h"

#include <cstdlib>
#include <cstring>

CBufferInstruction::~CBufferInstruction() {
  if (m_bOwnsText != 0) std::free(m_pszText);
}

void CBufferInstruction::SetText(const char* text) {
  if (text == nullptr) {
    if (m_bOwnsText != 0) std::free(m_pszText);
    m_bOwnsText = 0;
    m_pszText = nullptr;
    return;
  }
  const size_t n = std::strlen(text);
  // Allocate before freeing: text may be the very buffer owned here.
  char* copy = static_cast<char*>(std::calloc((n == 0 ? 1 : n) + 1, 1));
  if (copy == nullptr) throw static_cast<HRESULT>(E_OUTOFMEMORY);
  std::memcpy(copy, text, n);
  if (m_bOwnsText != 0) std::free(m_pszText);
  m_pszText = copy;
  m_bOwnsText = 1;
}

CBufferInstructionList::CBufferInstructionList() : m_pSentinel(new CBufferInstructionNode) {
  m_pSentinel->m_pNext = m_pSentinel;
  m_pSentinel->m_pPrev = m_pSentinel;
}

CBufferInstructionList::~CBufferInstructionList() {
  CBufferInstructionNode* node = m_pSentinel->m_pNext;
  while (node != m_pSentinel) {
    CBufferInstructionNode* next = node->m_pNext;
    delete node;
    node = next;
  }
  delete m_pSentinel;
}

namespace {

// Ascending addresses; at one address inserts before deletes, and the newest
// of one type first. So a new instruction goes right before the first one at
// its place or behind it: the list falls into those that stay ahead of it
// and those that follow it, and only the boundary is sought.
bool StaysAhead(const CBufferInstruction& other, const CBufferInstruction& added) {
  return other.m_qwAddress < added.m_qwAddress ||
         (other.m_qwAddress == added.m_qwAddress && other.m_dwType < added.m_dwType);
}

}  // namespace

// The boundary is sought from both ends at once, a step from each in turn:
// forms record their edits mostly in page order, so nearly every edit goes
// at the tail (and the page head's edits at the front), and a page of many
// edits costs a few steps per edit rather than a walk of all before it.
CBufferInstructionNode* CBufferInstructionList::PlaceFor(const CBufferInstruction& added) const {
  CBufferInstructionNode* front = m_pSentinel->m_pNext;
  CBufferInstructionNode* back = m_pSentinel->m_pPrev;
  for (;;) {
    if (front == m_pSentinel || !StaysAhead(*front->m_spInstruction, added)) return front;
    if (StaysAhead(*back->m_spInstruction, added)) return back->m_pNext;
    front = front->m_pNext;
    back = back->m_pPrev;
  }
}

DWORD CBufferInstructionList::AddInstruction(CBufferInstruction* pInstruction) {
  CCountedPtr<CBufferInstruction> spInstruction(pInstruction);
  if (pInstruction == nullptr) return ERROR_INVALID_DATA;
  const DWORD type = pInstruction->m_dwType;
  if (type != CBufferInstruction::TypeInsert && type != CBufferInstruction::TypeDelete) return ERROR_INVALID_DATA;
  if (type == CBufferInstruction::TypeInsert && pInstruction->m_pszText == nullptr) return ERROR_INVALID_DATA;
  if (type == CBufferInstruction::TypeDelete && pInstruction->m_dwLength == 0) return ERROR_INVALID_DATA;

  CBufferInstructionNode* before = PlaceFor(*pInstruction);
  auto* node = new CBufferInstructionNode;
  node->m_spInstruction = spInstruction;
  node->m_pNext = before;
  node->m_pPrev = before->m_pPrev;
  before->m_pPrev->m_pNext = node;
  before->m_pPrev = node;
  ++m_qwCount;
  return ERROR_SUCCESS;
}
