// Recording one insertion or deletion at an address of the response buffer
// into the request's instruction list. These stand in for the filter core's
// CUtil::InsertHtmlStringAtPosition and CUtil::DeleteHtmlStringAtPosition
// (same checks, log lines and results) until those are offered there; the
// DOM calls only these two functions, so switching over is one edit here.
#pragma once

#include "platform/win_types.h"

class CBufferInstructionList;

namespace HtmlBufferEdit {

// 13 after "[InsertHtmlStringAtPosition] invalid data." when the address, the
// text or the list is null; otherwise 0 whatever the list does with it.
DWORD InsertHtmlStringAtPosition(const char* pAddress, const char* pText, CBufferInstructionList* pList);
// 13 after "[DeleteHtmlStringAtPosition] invalid data. " when the address or
// the list is null; otherwise 0 whatever the list does with it.
DWORD DeleteHtmlStringAtPosition(const char* pAddress, DWORD dwLength, CBufferInstructionList* pList);

}  // namespace HtmlBufferEdit
