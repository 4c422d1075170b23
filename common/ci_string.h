// Byte string whose comparison and search ignore ASCII case. Settings values,
// query parameters, directory values, extensions and map keys use it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
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
      if (a[i] == b[i]) continue;  // the usual case, without folding
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
// or npos: the answer of ci_string_view::find. Request headers and cookies
// are searched this way on every request, mostly short texts, so candidates
// for the first character are found eight bytes at a time: a byte equals it
// in either case exactly where (word | fold) ^ pattern has a zero byte (fold
// sets the bit that tells the cases of a letter apart). The zero-byte test
// may also flag a byte above a true hit; every candidate is checked whole.
inline std::size_t FindNoCase(ci_string_view text, ci_string_view what, std::size_t from = 0) noexcept {
  static_assert(std::endian::native == std::endian::little, "the byte order of the word search");
  if (from > text.size() || what.size() > text.size() - from) return ci_string_view::npos;
  if (what.empty()) return from;
  const char* const begin = text.data();
  const std::size_t lastStart = text.size() - what.size();
  const unsigned char first = ci_char_traits::lower(what[0]);
  auto matchesAt = [&](std::size_t at) {
    return ci_char_traits::eq(begin[at], what[0]) &&
           ci_char_traits::compare(begin + at + 1, what.data() + 1, what.size() - 1) == 0;
  };
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  const std::uint64_t fold = (first >= 'a' && first <= 'z') ? 0x20 * kOnes : 0;
  const std::uint64_t pattern = first * kOnes;
  std::size_t at = from;
  for (; at <= lastStart && text.size() - at >= 8; at += 8) {
    std::uint64_t word;
    std::memcpy(&word, begin + at, 8);
    const std::uint64_t x = (word | fold) ^ pattern;
    for (std::uint64_t hits = (x - kOnes) & ~x & kHighs; hits != 0; hits &= hits - 1) {
      const std::size_t candidate = at + (static_cast<std::size_t>(__builtin_ctzll(hits)) >> 3);
      if (candidate > lastStart) return ci_string_view::npos;
      if (matchesAt(candidate)) return candidate;
    }
  }
  for (; at <= lastStart; ++at) {
    if (matchesAt(at)) return at;
  }
  return ci_string_view::npos;
}

inline ci_string ToCI(const std::string& s) { return ci_string(s.data(), s.size()); }
inline ci_string ToCI(std::string_view s) { return ci_string(s.data(), s.size()); }
inline std::string ToStd(const ci_string& s) { return std::string(s.data(), s.size()); }
// The same text, compared and searched without case.
inline ci_string_view AsCIView(std::string_view s) { return ci_string_view(s.data(), s.size()); }
// The same text, compared with case.
inline std::string_view AsStdView(ci_string_view s) { return std::string_view(s.data(), s.size()); }
