#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/ci_string.h"
#include "filter/util.h"

namespace {

bool ContainsNoCase(const std::string& text, const char* what) {
  return FindNoCase(ci_string_view(text.data(), text.size()), what) != ci_string_view::npos;
}

// A lower-case word of at most eight bytes, as the number an eight-byte
// load of it gives, with the case bit of its letters and its bytes marked.
struct CWord {
  std::string_view text;
  uint64_t value = 0;
  uint64_t caseBits = 0;
  uint64_t bytes = 0;
};

constexpr CWord MakeWord(std::string_view text) {
  CWord word{text};
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    word.value |= static_cast<uint64_t>(c) << (8 * i);
    if (c >= 'a' && c <= 'z') word.caseBits |= uint64_t{0x20} << (8 * i);
    word.bytes |= uint64_t{0xFF} << (8 * i);
  }
  return word;
}

// Whether the word stands at `at`, ASCII case ignored: setting the case bit
// where the word has a letter leaves a byte equal to the letter exactly when
// it is that letter in either case.
bool WordAt(std::string_view text, size_t at, const CWord& word) {
  const size_t left = text.size() - at;
  if (left >= 8) {
    uint64_t loaded;
    std::memcpy(&loaded, text.data() + at, 8);
    return ((loaded | word.caseBits) & word.bytes) == word.value;
  }
  if (left < word.text.size()) return false;
  for (size_t i = 0; i < word.text.size(); ++i) {
    if (ci_char_traits::lower(text[at + i]) != static_cast<unsigned char>(word.text[i])) return false;
  }
  return true;
}

constexpr CWord kMac = MakeWord("mac");
constexpr CWord kIntosh = MakeWord("intosh");
constexpr CWord kSpaceOs = MakeWord(" os");
constexpr CWord kPowerPC = MakeWord("_powerpc");
constexpr CWord kMsie = MakeWord("msie ");
constexpr CWord kWindows = MakeWord("windows");

// Calls visit(at) at each position, in order, whose byte may be the letter
// a or b in either case, until visit returns true; visit checks the byte.
// Every request classifies its agent, so the text is read sixteen, then
// eight bytes at a time: setting the case bit of every byte makes both cases
// of a letter one byte; in a word, a zero byte of (word ^ letters) marks a
// candidate (the zero-byte test may also flag the byte above a true one).
template <class Visit>
bool VisitLetters(std::string_view text, char a, char b, Visit visit) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHighs = 0x8080808080808080ULL;
  constexpr uint64_t kCaseBits = 0x20 * kOnes;
  const uint64_t patternA = static_cast<unsigned char>(a) * kOnes;
  const uint64_t patternB = static_cast<unsigned char>(b) * kOnes;
  const char* const data = text.data();
  const size_t size = text.size();
  size_t at = 0;
#if defined(__SSE2__)
  const __m128i caseBits = _mm_set1_epi8(0x20);
  const __m128i lettersA = _mm_set1_epi8(a);
  const __m128i lettersB = _mm_set1_epi8(b);
  for (; size - at >= 16; at += 16) {
    const __m128i block = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at)), caseBits);
    auto hits = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, lettersA), _mm_cmpeq_epi8(block, lettersB))));
    for (; hits != 0; hits &= hits - 1) {
      if (visit(at + static_cast<size_t>(__builtin_ctz(hits)))) return true;
    }
  }
#endif
  for (; size - at >= 8; at += 8) {
    uint64_t word;
    std::memcpy(&word, data + at, 8);
    word |= kCaseBits;
    const uint64_t xa = word ^ patternA;
    const uint64_t xb = word ^ patternB;
    for (uint64_t hits = (((xa - kOnes) & ~xa) | ((xb - kOnes) & ~xb)) & kHighs; hits != 0; hits &= hits - 1) {
      if (visit(at + (static_cast<size_t>(__builtin_ctzll(hits)) >> 3))) return true;
    }
  }
  for (; at < size; ++at) {
    const unsigned char c = static_cast<unsigned char>(data[at]) | 0x20;
    if ((c == static_cast<unsigned char>(a) || c == static_cast<unsigned char>(b)) && visit(at)) return true;
  }
  return false;
}

}  // namespace

// "Macintosh", "Mac OS" or "Mac_PowerPC" anywhere.
bool CUtil::IsMacClient(const std::string& userAgent) {
  const std::string_view ua = userAgent;
  return VisitLetters(ua, 'm', 'm', [ua](size_t at) {
    return WordAt(ua, at, kMac) &&
           (WordAt(ua, at + 3, kIntosh) || WordAt(ua, at + 3, kSpaceOs) || WordAt(ua, at + 3, kPowerPC));
  });
}

// The first "MSIE " and any "Windows", found in one pass.
bool CUtil::IsPremiumIEClient(const std::string& userAgent) {
  const std::string_view ua = userAgent;
  size_t msie = std::string_view::npos;
  bool windows = false;
  VisitLetters(ua, 'm', 'w', [&](size_t at) {
    if (msie == std::string_view::npos && WordAt(ua, at, kMsie)) {
      msie = at;
    } else if (!windows && WordAt(ua, at, kWindows)) {
      windows = true;
    }
    return windows && msie != std::string_view::npos;
  });
  if (msie == std::string_view::npos || !windows) return false;
  const size_t version = msie + 5;
  if (version >= ua.size()) return false;
  // Only the first character of the version is looked at: "MSIE 10" is not
  // premium, exactly as the client side decides.
  return static_cast<unsigned char>(ua[version]) > static_cast<unsigned char>('5');
}

bool CUtil::IsOWAAuthWindowsClient(const std::string& userAgent) {
  return ContainsNoCase(userAgent, "owaauth") && ContainsNoCase(userAgent, "Windows");
}
