#include "filter/core_services.h"

DWORD SubmitBufferCommands(CCoreServices* pServices, CDLLContext* pContext, CBufferInstructionList* pList) {
  if (pServices == nullptr || pServices->SubmitBufferCommands == nullptr) return ERROR_SUCCESS;
  return pServices->SubmitBufferCommands(pContext, pList);
}
