// The Content-Type a rewritten page goes out with.
#pragma once

#include "filter/common_pointers.h"
#include "general/page_char_set_choice.h"
#include "platform/win_types.h"

class CBufferInstructionList;

// Records the edit that makes the response's Content-Type name the set the
// page was walked in (`words` describe the response as the host handed it), by a name every browser reads as that set:
// the value is replaced where it names no set, another set, or a set by a label browsers do not know or may read
// another way ("text/html; charset= Shift_JIS", the type kept). Nothing when the header already names the set plainly. 0, or HX_RC_INVALID_DATA when the header cannot be found in
// the response, its headers may give the browser another Content-Type (a second one, one continued on the next
// line), or it has none or a type the browser does not read as HTML: the page must then go out unchanged.
DWORD StatePageCharSet(const CCommonPointers& words, const PageCharSetChoice& choice, CBufferInstructionList* pList);
