// Where the forms' edits land in the browser's reading of the page. A form
// finds its places through the module's own parser; before its edits go to
// the host each place is read again as the browser's tokenizer reads the
// page (html/tokenizer_states.h), in the page's character set, so that no
// text the sender wrote (an attribute value, a comment, a script's or a
// textarea's text) ever receives markup, and the page's own bytes after an
// edit are read as before it.
#pragma once

#include "common/page_chars.h"
#include "filter/common_pointers.h"
#include "platform/win_types.h"

class CBufferInstructionList;

// 0 when every edit inside the page (`words` describe it; edits elsewhere,
// in the headers, are not the page's) lies where every reading of the page a
// browser may take (scripting on and off, the rules for <select> of 2025 and
// before) reads alike, between two characters, and:
// - in text, between tokens (not inside a character reference), a
//   deletion ending between tokens too;
// - or inside one start tag, out of its values or inside one value, and
//   the tag or value reads on alike after it (an insert into a value never
//   leaves the value; one into the tag never ends it nor changes its name);
// - never in SVG or MathML content, which an HTML tag would close.
// HX_RC_INVALID_DATA otherwise, with the place and the browser's state there
// in the debug log: the page must then go out unchanged. One pass over the
// page.
DWORD CheckEditPlaces(const CCommonPointers& words, const CPageChars& chars, const CBufferInstructionList& edits);
