// What a page form is given for one response: the host's request record and
// the instruction list its edits go into. The page forms add the page's DOM,
// its template name and the client experience.
#pragma once

#include "platform/win_types.h"

struct CDLLContext;
class CBufferInstructionList;

class CHXFormContext {
 public:
  // Throws CHXFormException when the record, its outbound response or the
  // list is missing.
  CHXFormContext(CDLLContext* pContext, CBufferInstructionList* pInstructions);
  CHXFormContext(const CHXFormContext&) = delete;
  CHXFormContext& operator=(const CHXFormContext&) = delete;
  virtual ~CHXFormContext();

  CDLLContext* GetDLLContext() const { return m_pDLLContext; }
  CBufferInstructionList* GetBufferInstructions() const { return m_pBufferInstructions; }

 private:
  void Initialize();

  CDLLContext* m_pDLLContext;
  CBufferInstructionList* m_pBufferInstructions;
};
