// Byte scanners over the response buffer that fold only the ASCII letters a-z.
// Every other byte, including bytes above 127, matches only itself. They read
// the buffer in place, allocate nothing and never consult the locale.
#pragma once

#include <cstddef>
#include <cstdint>

#include "html/parser_types.h"

namespace HtmlScan {

// Upper-case fold of one byte: a-z become A-Z, everything else is kept.
inline constexpr unsigned char FoldUpper(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}
inline constexpr bool EqualNoCase(char a, char b) {
  return FoldUpper(static_cast<unsigned char>(a)) == FoldUpper(static_cast<unsigned char>(b));
}
inline constexpr bool IsAsciiLetter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline constexpr bool IsAsciiDigit(unsigned char c) { return c >= '0' && c <= '9'; }
// Blank, tab, line feed, vertical tab, form feed, carriage return.
inline constexpr bool IsAsciiSpace(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
// A byte that may begin a name: letter, '_' or ':'.
inline constexpr bool IsNameStart(unsigned char c) { return IsAsciiLetter(c) || c == '_' || c == ':'; }
// A byte that may continue a name: letter, digit, '.', '-', '_' or ':'.
inline constexpr bool IsNameChar(unsigned char c) {
  return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '.' || c == '-' || c == '_' || c == ':';
}

}  // namespace HtmlScan

// The lowest position p >= nStart where the whole pattern lies inside
// [nStart, nStart + nCount) and matches; nStart for an empty pattern.
HXPos findNoCase(const char* pBuffer, const char* pPattern, HXPos nStart, HXPos nCount);
// The lowest position in [nStart, nStart + nCount) whose byte matches c.
HXPos findCharNoCase(const char* pBuffer, char c, HXPos nStart, HXPos nCount);
// The highest position in [max(0, nPos - nCount + 1), nPos] whose byte matches c.
HXPos findPreviousCharNoCase(const char* pBuffer, char c, HXPos nPos, HXPos nCount);
// The highest position p <= nPos with p + pattern length <= nEnd where the
// pattern matches, looking at no more than nCount candidates.
HXPos findLastNoCase(const char* pBuffer, const char* pPattern, HXPos nPos, HXPos nEnd, HXPos nCount);
// Whether the pattern fits before nEnd from nPos and matches there.
bool startsWithNoCase(const char* pBuffer, HXPos nEnd, HXPos nPos, const char* pPattern);
// The same for a pattern of known length.
bool startsWithNoCase(const char* pBuffer, HXPos nEnd, HXPos nPos, const char* pPattern, size_t nLength);
// Whether two NUL-terminated texts are equal ignoring ASCII case.
bool equalsNoCase(const char* a, const char* b);
