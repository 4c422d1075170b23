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
// list's. On a page that ends inside a tag (the response was cut before the
// tag's '>') every edit throws CDOMParserIllegalArgumentException: text
// written after that '<' would be read as part of the tag (inside its open
// attribute value, say), and the form would report as done a rewriting of a
// page whose rest is missing. The form fails and the page goes out as
// received.
DWORD RecordInsertion(CSource& source, HXPos nPos, const std::string& text, CBufferInstructionList* pList);
DWORD RecordDeletion(CSource& source, HXPos nPos, HXPos nLength, CBufferInstructionList* pList);
