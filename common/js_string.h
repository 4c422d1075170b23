// Text from a request or a setting written into a JavaScript string literal
// of a page: it must stay one literal, whatever it holds.
#pragma once

#include <string>

// The text escaped for a JavaScript string delimited by `quote`: that quote,
// the backslash, CR, LF, the Unicode line and paragraph separators, "<" (so
// "</script>" and "<!--" cannot end or hide the script block) and every
// other control byte become escape sequences. Other bytes, the other quote
// character included, stay as they are, so a plain value comes out
// unchanged.
std::string EscapeJavaScriptString(const std::string& text, char quote = '\'');
