// A response cut in the middle of a tag: the page ends before the tag's
// closing '>'. The browser reads whatever follows the tag's '<' as part of
// that tag, and the page's rest is missing, so the DOM records no edit of
// such a page (html/edit_records.h).
#pragma once

#include "html/parser_types.h"

class CSource;

// The position of the '<' of the tag the page was cut in, or HX_NPOS when the
// page ends outside any tag. That tag is the page's last '<' followed by a
// letter, '/', '!' or '?', when no '>' outside its quoted attribute values
// (for a comment, no "-->") closes it and no tag the parser found holds it
// (a comment, a quoted value). Looks at the page's tail only, so it is cheap
// for every page; a page that ends in a quoted value of a cut tag after a
// complete tag look-alike (title="x<b>y) is not seen as cut.
HXPos FindCutTagBegin(CSource& source);
