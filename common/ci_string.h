// Byte string whose comparison and search ignore ASCII case. Settings values,
// query parameters, directory values, extensions and map keys use it.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

struct ci_char_traits : public std::char_traits<char> {
  static constexpr unsigned char upper(char c) noexcept {
    auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 32) : u;
  }
  static constexpr unsigned char lower(char c) noexcept {
    auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + 32) : u;
  }
  static constexpr bool eq(char a, char b) noexcept { return upper(a) == upper(b); }
  static constexpr bool lt(char a, char b) noexcept { return lower(a) < lower(b); }
  static constexpr int compare(const char* a, const char* b, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
      unsigned char la = lower(a[i]);
      unsigned char lb = lower(b[i]);
      if (la != lb) return la < lb ? -1 : 1;
    }
    return 0;
  }
  static constexpr const char* find(const char* s, std::size_t n, char c) noexcept {
    const unsigned char uc = upper(c);
    for (std::size_t i = 0; i < n; ++i) {
      if (upper(s[i]) == uc) return s + i;
    }
    return nullptr;
  }
};

using ci_string = std::basic_string<char, ci_char_traits>;
using ci_string_view = std::basic_string_view<char, ci_char_traits>;

// The position of `what` in `text` at or after `from`, ASCII case ignored,
// or npos: the answer of ci_string_view::find, found by a byte search for
// the first character in both its cases (request headers and cookies are
// searched this way on every request). Each case's next occurrence is
// searched again only once the scan has passed it, so a case that is rare or
// absent costs one search, not one per candidate.
inline std::size_t FindNoCase(ci_string_view text, ci_string_view what, std::size_t from = 0) noexcept {
  if (from > text.size() || what.size() > text.size() - from) return ci_string_view::npos;
  if (what.empty()) return from;
  const unsigned char lower = ci_char_traits::lower(what[0]);
  const unsigned char upper = ci_char_traits::upper(what[0]);
  const char* const begin = text.data();
  const char* const end = begin + (text.size() - what.size()) + 1;  // one past the last possible start
  auto next = [end](const char* p, unsigned char c) {
    const void* hit = std::memchr(p, c, static_cast<std::size_t>(end - p));
    return hit != nullptr ? static_cast<const char*>(hit) : end;
  };
  const char* l = next(begin + from, lower);
  const char* u = upper == lower ? end : next(begin + from, upper);
  while (l != end || u != end) {
    const char* hit = l < u ? l : u;
    if (ci_char_traits::compare(hit + 1, what.data() + 1, what.size() - 1) == 0) {
      return static_cast<std::size_t>(hit - begin);
    }
    if (hit == l) l = next(hit + 1, lower);
    if (hit == u) u = next(hit + 1, upper);
  }
  return ci_string_view::npos;
}

inline ci_string ToCI(const std::string& s) { return ci_string(s.data(), s.size()); }
inline ci_string ToCI(std::string_view s) { return ci_string(s.data(), s.size()); }
inline std::string ToStd(const ci_string& s) { return std::string(s.data(), s.size()); }
