// Finds a cookie key such as "cadata=" in a cookie header: the first place
// where the key stands, ASCII case ignored, as FindNoCase gives it. Every
// request looks up several keys in its cookie, and a key ending with "="
// can only stand before one of the header's few "=": those are found by
// memchr and only the text before each is compared.
#pragma once

#include <cstring>

#include "common/ci_string.h"

inline std::size_t FindCookieKey(ci_string_view cookie, ci_string_view key) noexcept {
  if (key.empty() || key.back() != '=') return FindNoCase(cookie, key);
  const std::size_t stem = key.size() - 1;
  const char* const data = cookie.data();
  const std::size_t n = cookie.size();
  for (std::size_t from = stem; from < n;) {
    const void* hit = std::memchr(data + from, '=', n - from);
    if (hit == nullptr) break;
    const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
    if (ci_char_traits::compare(data + at - stem, key.data(), stem) == 0) return at - stem;
    from = at + 1;
  }
  return ci_string_view::npos;
}

// The first `separator` (";", ",", "=": a character without a case) at or
// after `from`, as find gives it, by a plain byte search.
inline std::size_t FindSeparator(ci_string_view text, char separator, std::size_t from = 0) noexcept {
  if (from >= text.size()) return ci_string_view::npos;
  const void* hit = std::memchr(text.data() + from, separator, text.size() - from);
  return hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : ci_string_view::npos;
}
