// One edit of the outgoing page (insert a text before, or delete bytes at, an
// address of the host's response buffer) and the ordered list of them that is
// handed to the host. The host reads both records in place, so their layouts
// are fixed; the list is a hand-made circular doubly linked list with a
// sentinel node for the same reason.
#pragma once

#include "common/counted_ptr.h"
#include "platform/layout_check.h"
#include "platform/win_types.h"

class CBufferInstruction {
 public:
  static constexpr DWORD TypeInsert = 0;
  static constexpr DWORD TypeDelete = 1;
  static constexpr DWORD TypeUnset = 0xFFFFFFFFu;

  CBufferInstruction() = default;
  CBufferInstruction(const CBufferInstruction&) = delete;
  CBufferInstruction& operator=(const CBufferInstruction&) = delete;
  virtual ~CBufferInstruction();

  // Copies text into a buffer of its own; null drops the text it owns.
  // Throws the HRESULT E_OUTOFMEMORY when the copy cannot be allocated.
  void SetText(const char* text);

  DWORD m_dwType = TypeUnset;  // 8
  DWORD m_dwReserved = 0;      // 12
  ULONGLONG m_qwAddress = 0;   // 16
  char* m_pszText = nullptr;   // 24
  DWORD m_bOwnsText = 0;       // 32
  DWORD m_dwLength = 0;        // 36
};

struct CBufferInstructionNode {
  CBufferInstructionNode* m_pNext = nullptr;            // 0
  CBufferInstructionNode* m_pPrev = nullptr;            // 8
  CCountedPtr<CBufferInstruction> m_spInstruction;  // 16
};

class CBufferInstructionList {
 public:
  CBufferInstructionList();
  CBufferInstructionList(const CBufferInstructionList&) = delete;
  CBufferInstructionList& operator=(const CBufferInstructionList&) = delete;
  virtual ~CBufferInstructionList();

  // Takes the instruction over in every case; 0 when added in order, 13 when
  // refused (unknown type, insert without text, empty delete). The order:
  // ascending addresses; at one address inserts before deletes, and of one
  // type the newest first. Cheap for edits added in page order.
  DWORD AddInstruction(CBufferInstruction* pInstruction);

  ULONGLONG size() const { return m_qwCount; }
  bool empty() const { return m_qwCount == 0; }
  // Walk: from First() while the node is not End().
  const CBufferInstructionNode* First() const { return m_pSentinel->m_pNext; }
  const CBufferInstructionNode* End() const { return m_pSentinel; }

  void* m_pAllocatorSlot = nullptr;          // 8
  CBufferInstructionNode* m_pSentinel;       // 16
  ULONGLONG m_qwCount = 0;                   // 24

 private:
  // The node the added instruction goes right before (the sentinel: at the
  // end), by that order.
  CBufferInstructionNode* PlaceFor(const CBufferInstruction& added) const;
};

HX_CHECK_OFFSET(CBufferInstruction, m_dwType, 8)
HX_CHECK_OFFSET(CBufferInstruction, m_qwAddress, 16)
HX_CHECK_OFFSET(CBufferInstruction, m_pszText, 24)
HX_CHECK_OFFSET(CBufferInstruction, m_bOwnsText, 32)
HX_CHECK_OFFSET(CBufferInstruction, m_dwLength, 36)
static_assert(sizeof(CBufferInstruction) == 40);
HX_CHECK_OFFSET(CBufferInstructionList, m_pAllocatorSlot, 8)
HX_CHECK_OFFSET(CBufferInstructionList, m_pSentinel, 16)
HX_CHECK_OFFSET(CBufferInstructionList, m_qwCount, 24)
static_assert(sizeof(CBufferInstructionList) == 32);
static_assert(offsetof(CBufferInstructionNode, m_pPrev) == 8);
static_assert(offsetof(CBufferInstructionNode, m_spInstruction) == 16);
static_assert(sizeof(CBufferInstructionNode) == 40);
