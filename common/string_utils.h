// Number-to-text conversions and the substring, replacement and joining
// helpers on byte strings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common/ci_string.h"

// An ASCII control byte (below 0x20, or DEL): what ends a header line, cuts
// a name short for a reader of C strings, or makes a file name another.
inline bool IsControlByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F;
}

// The text without the blanks (space, tab) around it: how a header value,
// a cookie or a list entry is read.
std::string_view TrimBlanks(std::string_view text);

// Plain decimal: no padding, no grouping, '-' for negative values. Character
// types print as numbers.
template <class T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool>)
std::string ToString(T value) {
  return std::to_string(+value);
}

template <class T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool>)
std::wstring ToWString(T value) {
  return std::to_wstring(+value);
}

// The part of `text` after the first `start` found at or after `pos` and
// before the next `end` (or the end of the text when there is none). Empty
// when `start` is not found or nothing follows it. The ci_string form finds
// the delimiters without regard to case.
std::string GetStringBetween(const std::string& text, const std::string& start,
                             const std::string& end, size_t pos = 0);
ci_string GetStringBetween(const ci_string& text, const ci_string& start, const ci_string& end,
                           size_t pos = 0);

// Replaces every occurrence of `what` found from `start` on; the search
// resumes after each replacement, so inserted text is never searched again.
// False (and nothing changed) for an empty text or an empty `what`.
bool ReplaceAll(std::string& text, const std::string& what, const std::string& with,
                size_t start = 0);

// Every element followed by the separator, then the final character of the
// whole removed. With an empty separator that drops the last character of
// the last element: the identifier hashes are computed over exactly this
// text, so it must stay as it is.
std::string JoinStrings(const std::string& separator, const std::vector<std::string>& items);
ci_string JoinStrings(const ci_string& separator, const std::vector<ci_string>& items);
