// HTML character references in attribute values: "&amp;", "&quot;", "&lt;",
// "&gt;", "&apos;", "&nbsp;", "&#38;" and "&#x26;". Numeric references
// become UTF-8; an unknown or unterminated reference stays as written, so a
// raw "&" between query parameters reads as before.
#pragma once

#include <string>

std::string DecodeHtmlCharacterReferences(const std::string& text);
