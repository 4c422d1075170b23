#include "html/case_insensitive_search.h"

#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using HtmlScan::FoldUpper;

namespace {

// Compares n bytes without regard to ASCII case.
inline bool MatchAt(const unsigned char* pText, const unsigned char* pPattern, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (FoldUpper(pText[i]) != FoldUpper(pPattern[i])) return false;
  }
  return true;
}

// First byte in [p, p + n) equal to c ignoring ASCII case, or null. A letter
// has two spellings; everything else is found with memchr.
inline const unsigned char* ScanChar(const unsigned char* p, size_t n, unsigned char c) {
  const unsigned char upper = FoldUpper(c);
  const unsigned char lower = (upper >= 'A' && upper <= 'Z') ? static_cast<unsigned char>(upper + 32) : upper;
  if (upper == lower) return static_cast<const unsigned char*>(std::memchr(p, c, n));
  const unsigned char* pEnd = p + n;
#if defined(__SSE2__)
  // Sixteen bytes a step: the page-form searches for ids and names scan
  // whole pages for a letter.
  const __m128i vUpper = _mm_set1_epi8(static_cast<char>(upper));
  const __m128i vLower = _mm_set1_epi8(static_cast<char>(lower));
  for (; pEnd - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int nMask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, vUpper), _mm_cmpeq_epi8(v, vLower)));
    if (nMask != 0) return p + __builtin_ctz(static_cast<unsigned>(nMask));
  }
#endif
  for (; p < pEnd; ++p) {
    if (*p == upper || *p == lower) return p;
  }
  return nullptr;
}

}  // namespace

HXPos findCharNoCase(const char* pBuffer, char c, HXPos nStart, HXPos nCount) {
  if (pBuffer == nullptr || nCount == 0) return HX_NPOS;
  const auto* pBase = reinterpret_cast<const unsigned char*>(pBuffer);
  const unsigned char* pHit = ScanChar(pBase + nStart, nCount, static_cast<unsigned char>(c));
  return pHit == nullptr ? HX_NPOS : static_cast<HXPos>(pHit - pBase);
}

HXPos findPreviousCharNoCase(const char* pBuffer, char c, HXPos nPos, HXPos nCount) {
  if (pBuffer == nullptr || nCount == 0) return HX_NPOS;
  const auto* pBase = reinterpret_cast<const unsigned char*>(pBuffer);
  const unsigned char uc = FoldUpper(static_cast<unsigned char>(c));
  const HXPos nLow = (nCount > nPos) ? 0 : nPos - nCount + 1;
  for (HXPos p = nPos + 1; p-- > nLow;) {
    if (FoldUpper(pBase[p]) == uc) return p;
  }
  return HX_NPOS;
}

HXPos findNoCase(const char* pBuffer, const char* pPattern, HXPos nStart, HXPos nCount) {
  if (pBuffer == nullptr || pPattern == nullptr) return HX_NPOS;
  const size_t nLen = std::strlen(pPattern);
  if (nLen == 0) return nStart;
  if (nCount == 0 || nLen > nCount) return HX_NPOS;
  const auto* pBase = reinterpret_cast<const unsigned char*>(pBuffer);
  const auto* pPat = reinterpret_cast<const unsigned char*>(pPattern);
  // Candidates for the first byte lie in [nStart, nLast].
  const HXPos nLast = nStart + (nCount - nLen);
  HXPos p = nStart;
#if defined(__SSE2__)
  if (nLen >= 2) {
    // Sixteen candidates a step, kept only where the first and the last
    // byte both match: searches for ids and names over a whole page would
    // otherwise stop at every occurrence of a common first letter.
    auto both = [](unsigned char c) {
      const unsigned char upper = FoldUpper(c);
      const unsigned char lower = (upper >= 'A' && upper <= 'Z') ? static_cast<unsigned char>(upper + 32) : upper;
      return std::make_pair(_mm_set1_epi8(static_cast<char>(upper)), _mm_set1_epi8(static_cast<char>(lower)));
    };
    const auto [vUpper0, vLower0] = both(pPat[0]);
    const auto [vUpper1, vLower1] = both(pPat[nLen - 1]);
    // A step's candidates p to p + 15 must all lie at or before nLast.
    while (p + 16 <= nLast) {
      const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pBase + p));
      const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pBase + p + nLen - 1));
      const __m128i m0 = _mm_or_si128(_mm_cmpeq_epi8(v0, vUpper0), _mm_cmpeq_epi8(v0, vLower0));
      const __m128i m1 = _mm_or_si128(_mm_cmpeq_epi8(v1, vUpper1), _mm_cmpeq_epi8(v1, vLower1));
      auto nMask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(m0, m1)));
      while (nMask != 0) {
        const HXPos q = p + static_cast<HXPos>(__builtin_ctz(nMask));
        if (MatchAt(pBase + q + 1, pPat + 1, nLen - 2)) return q;
        nMask &= nMask - 1;
      }
      p += 16;
    }
  }
#endif
  while (p <= nLast) {
    const unsigned char* pHit = ScanChar(pBase + p, nLast - p + 1, pPat[0]);
    if (pHit == nullptr) return HX_NPOS;
    if (MatchAt(pHit + 1, pPat + 1, nLen - 1)) return static_cast<HXPos>(pHit - pBase);
    p = static_cast<HXPos>(pHit - pBase) + 1;
  }
  return HX_NPOS;
}

HXPos findLastNoCase(const char* pBuffer, const char* pPattern, HXPos nPos, HXPos nEnd, HXPos nCount) {
  if (pBuffer == nullptr || pPattern == nullptr || nCount == 0) return HX_NPOS;
  const size_t nLen = std::strlen(pPattern);
  if (nLen == 0) return nPos;
  if (nLen > nEnd) return HX_NPOS;
  const auto* pBase = reinterpret_cast<const unsigned char*>(pBuffer);
  const auto* pPat = reinterpret_cast<const unsigned char*>(pPattern);
  const unsigned char lastUpper = FoldUpper(pPat[nLen - 1]);
  HXPos s = nEnd - nLen;
  if (nPos < s) s = nPos;
  // Candidates s, s - 1, ... : at most nCount of them and never below 0.
  const HXPos nLow = (nCount > s) ? 0 : s - nCount + 1;
  for (HXPos p = s + 1; p-- > nLow;) {
    if (FoldUpper(pBase[p + nLen - 1]) != lastUpper) continue;
    if (MatchAt(pBase + p, pPat, nLen - 1)) return p;
  }
  return HX_NPOS;
}

bool startsWithNoCase(const char* pBuffer, HXPos nEnd, HXPos nPos, const char* pPattern) {
  if (pBuffer == nullptr || pPattern == nullptr) return false;
  return startsWithNoCase(pBuffer, nEnd, nPos, pPattern, std::strlen(pPattern));
}

bool startsWithNoCase(const char* pBuffer, HXPos nEnd, HXPos nPos, const char* pPattern, size_t nLen) {
  if (pBuffer == nullptr || pPattern == nullptr) return false;
  if (nPos > nEnd || nLen > nEnd - nPos) return false;
  return MatchAt(reinterpret_cast<const unsigned char*>(pBuffer) + nPos,
                 reinterpret_cast<const unsigned char*>(pPattern), nLen);
}

bool equalsNoCase(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return false;
  const auto* pa = reinterpret_cast<const unsigned char*>(a);
  const auto* pb = reinterpret_cast<const unsigned char*>(b);
  for (;; ++pa, ++pb) {
    if (FoldUpper(*pa) != FoldUpper(*pb)) return false;
    if (*pa == 0) return true;
  }
}
