#include "forms/hx_form_context.h"

#include "filter/buffer_instruction.h"
#include "filter/dll_context.h"
#include "forms/hx_form_exception.h"

CHXFormContext::CHXFormContext(CDLLContext* pContext, CBufferInstructionList* pInstructions)
    : m_pDLLContext(pContext), m_pBufferInstructions(pInstructions) {
  if (m_pDLLContext == nullptr) throw CHXFormException("CHXFormContext: no request record");
  if (!m_pDLLContext->m_spOutboundContext) throw CHXFormException("CHXFormContext: no outbound context");
  if (m_pBufferInstructions == nullptr) throw CHXFormException("CHXFormContext: no buffer instruction list");
  Initialize();
}

CHXFormContext::~CHXFormContext() = default;

// The page's DOM and template name are read here once the parser is wired in.
void CHXFormContext::Initialize() {}
