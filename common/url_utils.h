// URL decoding and radix-based number parsing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/win_types.h"

// The value of one hexadecimal digit of either case, -1 for any other byte.
int HexDigitValue(char c);

// What a decoded zero byte does: ends a value that is handed on as a C
// string, or is kept in one that goes on whole (an id written into a page).
enum class DecodedZero { EndsText, Kept };

// What a '+' is: itself in a path, a blank in a query's value as the server
// reads it.
enum class PlusSign { Kept, Blank };

// Decodes "%XY" escapes; a '+' stays a '+' unless `plus` makes it a blank.
// A '%' not followed by two hexadecimal digits is kept as it is.
std::string URLDecode(const std::string& text, DecodedZero zero = DecodedZero::EndsText,
                      PlusSign plus = PlusSign::Kept);

// `text` with each "%uXXXX" as the "%XY" escapes of its code point's UTF-8,
// which a server that reads those as IIS does decodes as it decodes "%XY";
// empty when the text holds none. A surrogate stays as it is.
std::string WithPercentUAsUtf8(std::string_view text);

// A query's value decoded once as the server decodes it: "+" a blank, "%XY"
// a byte, "%uXXXX" the character IIS reads; a reader that hands the value
// on as a C string sees it up to a decoded zero byte.
std::string QueryValueAsServerReadsIt(std::string_view raw);

// `text` as one value of a query string: every byte but letters, digits and
// "-._~/!$'()*,:;=@" is written "%XY", so that no "&", "#", "+" or "%" of the
// value can start a parameter of its own or be decoded a second time.
std::string URLEncodeQueryValue(std::string_view text);

// Parses `length` characters of `text` from `pos` (or the rest of it) as an
// unsigned number in `radix` (2 to 36; letters of either case are digits
// from 10 up), with a leading '-' when `signAllowed` (the value is then the
// 32-bit pattern of the negative number). `value` starts at 0 and keeps
// what was accumulated when a character is not a digit. False for a radix
// outside 2 to 36, a range outside the text, a non-digit, or a number that
// does not fit in 32 bits. An empty range gives true and 0.
bool StringToUInt(const std::string& text, DWORD& value, int radix, size_t pos = 0,
                  size_t length = std::string::npos, bool signAllowed = false);

// The same on any byte range (used by the ci_string form).
bool StringToUIntRange(const char* data, size_t size, DWORD& value, int radix, size_t pos,
                       size_t length, bool signAllowed);
