// Small ASCII text helpers of the host.
#pragma once

#include <string>
#include <string_view>

char HxLower(char c);
bool HxEqualsNoCase(std::string_view a, std::string_view b);
// Position of needle in hay at or after from, ASCII case ignored; npos if none.
size_t HxFindNoCase(std::string_view hay, std::string_view needle, size_t from = 0);
bool HxStartsWithNoCase(std::string_view s, std::string_view prefix);
bool HxEndsWithNoCase(std::string_view s, std::string_view suffix);
std::string HxTrim(std::string_view s);
// An HTTP token (a header name, a method): one or more of its characters.
bool HxIsToken(std::string_view s);
// The value of a hexadecimal digit, or -1 for any other character.
int HxHexValue(char c);
// Form and query decoding: "+" is a blank, "%XY" a byte; a "%" without two
// hexadecimal digits stays as it is.
std::string HxFormDecode(std::string_view s);
