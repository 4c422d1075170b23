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
// every White_Space character and every format character (U+200B, U+FEFF,
// U+180E, U+00AD among them), and the bytes 0x85 and 0xA0 where they are no
// part of a whole UTF-8 sequence, which a server reading Latin-1 takes for
// white space. Any other byte that is no whole UTF-8 sequence ends the
// trimming there.
std::string_view TrimUnicodeWhiteSpace(std::string_view text);

// `text` with each letter whose invariant upper or lower case is an ASCII
// one as that letter, as .NET compares names without case: "ı" and "İ" are
// an "i", "ſ" an "s", the Kelvin sign a "k" ("ſharepointDocument", "ıd");
// and each fullwidth form U+FF01 to U+FF5E as its ASCII character, as a
// conversion to the server's code page reads it.
std::string AsciiFolded(std::string_view text);

// Whether a server reads `value` as the ASCII `name`: trimmed as above and
// compared without case as .NET compares (AsciiFolded), whole or up to its
// first ";" or control byte.
bool ReadsAsName(std::string_view value, std::string_view name);
