// Character references in attribute values, read the way the browser reads
// them: the one reader behind every decision on a value of the page and
// behind the escaping of values copied from its markup.
#pragma once

#include <string>
#include <string_view>

#include "common/page_chars.h"

// The reference that begins with the "&" at `amp`, as the browser reads it
// in an attribute value: its length (0 when the browser keeps the "&" as
// text) and its text in UTF-8. Numeric references take decimal or, after
// "x", hexadecimal digits and end at the first other character, ";" taken
// along; zero, a surrogate or a value beyond Unicode reads U+FFFD and
// 0x80-0x9F the windows-1252 character. Named references are the HTML
// standard's; the few legacy names read without ";" are not read so when a
// letter, a digit or "=" follows.
size_t ReadCharacterReference(std::string_view text, size_t amp, std::string& out);

// The value with every reference replaced by its text; the rest as written.
std::string DecodeHtmlCharacterReferences(const std::string& text);

// The same for a value of a page in `page`'s set: a reference is read only
// where the browser reads an ASCII "&", and its text is written as the
// page's set spells it, so that the value is text of one set throughout (a
// character the set has not reads as U+FFFD wherever the value is written,
// and so do bytes that make no character: they are written as a byte that
// begins none, which nothing after it can complete). UTF-8 and single-byte
// pages get UTF-8, as above.
std::string DecodeHtmlCharacterReferences(const std::string& text, const CPageChars& page);
