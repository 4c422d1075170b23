// The filter host's table of callbacks. The module uses two entries, the
// third (index 2) and the ninth (index 8), and treats a null entry as absent;
// the other slots belong to the host.
#pragma once

#include <cstddef>

#include "platform/win_types.h"

struct CDLLContext;
class CBufferInstructionList;
struct CCoreServices;

// Applies the list of page edits to the response; 0 on success, else a host
// error code. The list is only valid during the call.
using PFN_SUBMIT_BUFFER_COMMANDS = DWORD (*)(CDLLContext* pContext, CBufferInstructionList* pList);
// Sends a complete response of *pLength bytes instead of the server's.
using PFN_SEND_RESPONSE = DWORD (*)(CDLLContext* pContext, const char* pResponse, DWORD* pLength,
                                    CCoreServices* pServices);

struct CCoreServices {
  void* m_pHostEntry0 = nullptr;
  void* m_pHostEntry1 = nullptr;
  PFN_SUBMIT_BUFFER_COMMANDS SubmitBufferCommands = nullptr;  // entry 2
  void* m_pHostEntry3 = nullptr;
  void* m_pHostEntry4 = nullptr;
  void* m_pHostEntry5 = nullptr;
  void* m_pHostEntry6 = nullptr;
  void* m_pHostEntry7 = nullptr;
  PFN_SEND_RESPONSE SendResponse = nullptr;  // entry 8
};

static_assert(offsetof(CCoreServices, SubmitBufferCommands) == 2 * sizeof(void*));
static_assert(offsetof(CCoreServices, SendResponse) == 8 * sizeof(void*));

// The host's SubmitBufferCommands entry for this record and list; a table
// without that entry counts as nothing to send (0).
DWORD SubmitBufferCommands(CCoreServices* pServices, CDLLContext* pContext, CBufferInstructionList* pList);
