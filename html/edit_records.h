// The one place where the DOM's edits turn page positions into addresses of
// the host's response buffer and record them, so that what no edit may do is
// refused for all of them alike.
#pragma once

#include <string>

#include "html/parser_types.h"
#include "platform/win_types.h"

class CBufferInstructionList;
class CSource;

// Record the insertion of text before the byte at nPos (the page's end
// included), or the deletion of nLength bytes from nPos; the result is the
// list's. An edit that would land inside the tag the page was cut in (the
// response ends before its '>') throws CDOMParserIllegalArgumentException:
// the browser would read the text as part of that tag, so the form fails
// and the page goes out as received.
DWORD RecordInsertion(CSource& source, HXPos nPos, const std::string& text, CBufferInstructionList* pList);
DWORD RecordDeletion(CSource& source, HXPos nPos, HXPos nLength, CBufferInstructionList* pList);
