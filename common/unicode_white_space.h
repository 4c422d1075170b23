// Unicode's White_Space characters in UTF-8 text. A browser trims any of them
// from a name, and a parser of names trims them from a value ("UncDocument"
// followed by U+00A0 or U+3000) before it compares it: every rule that
// reads a name as such a reader does asks these.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Unicode's White_Space property: U+0009 to U+000D, blank, U+0085, U+00A0,
// U+1680, U+2000 to U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
bool IsUnicodeWhiteSpace(char32_t c);

// The code point of the whole UTF-8 sequence that ends `text`, and its
// length in bytes; 0 bytes when the text does not end in a whole sequence.
size_t LastCodePoint(std::string_view text, char32_t& code);

// `text` without the white space a server's trim removes at either end:
// every White_Space character, and those a trim of an older .NET removes
// as well (U+200B, U+FEFF) or that was White_Space before Unicode 6.3
// (U+180E).
// A byte that is no whole UTF-8 sequence ends the trimming there.
std::string_view TrimUnicodeWhiteSpace(std::string_view text);

// `text` with each letter whose invariant upper or lower case is an ASCII
// one as that letter, as .NET compares names without case: "ı" and "İ" are
// an "i", "ſ" an "s", the Kelvin sign a "k" ("ſharepointDocument", "ıd").
std::string AsciiFolded(std::string_view text);

// Whether a server reads `value` as the ASCII `name`: trimmed as above and
// compared without case as .NET compares (AsciiFolded).
bool ReadsAsName(std::string_view value, std::string_view name);
