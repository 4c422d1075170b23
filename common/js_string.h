// Text from a request, a setting or a page written into a JavaScript string
// literal of a page: it must stay one literal, whatever it holds.
#pragma once

#include <string>

#include "common/page_chars.h"

// The text escaped for a JavaScript string delimited by `quote` in a page
// whose characters `page` walks: that quote, the backslash, CR, LF, "<" (so
// "</script>" and "<!--" cannot end or hide the script block), every other
// control character and, in UTF-8, the Unicode line and paragraph
// separators become escape sequences; in HZ a "~" that begins no shift too.
// Every other character, a two-byte one whose second byte is 0x5C included,
// stays as written, so a plain value comes out unchanged.
std::string EscapeJavaScriptString(const std::string& text, char quote, const CPageChars& page);
