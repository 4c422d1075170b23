// The case-insensitive scanners against naive reference implementations on
// random buffers, and the edge cases the parser relies on.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "html/case_insensitive_search.h"

namespace {

// Reference folding: only a-z and A-Z are treated alike.
bool RefEq(char a, char b) {
  auto up = [](unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; };
  return up(static_cast<unsigned char>(a)) == up(static_cast<unsigned char>(b));
}

bool RefMatchAt(const std::string& text, size_t p, const std::string& pat) {
  for (size_t i = 0; i < pat.size(); ++i) {
    if (!RefEq(text[p + i], pat[i])) return false;
  }
  return true;
}

HXPos RefFind(const std::string& text, const std::string& pat, HXPos nStart, HXPos nCount) {
  if (pat.empty()) return nStart;
  if (nCount == 0) return HX_NPOS;
  for (HXPos p = nStart; p + pat.size() <= nStart + nCount; ++p) {
    if (RefMatchAt(text, p, pat)) return p;
  }
  return HX_NPOS;
}

HXPos RefFindLast(const std::string& text, const std::string& pat, HXPos nPos, HXPos nEnd, HXPos nCount) {
  if (nCount == 0) return HX_NPOS;
  if (pat.empty()) return nPos;
  if (pat.size() > nEnd) return HX_NPOS;
  const HXPos s = std::min<HXPos>(nPos, nEnd - pat.size());
  for (HXPos i = 0; i < nCount && i <= s; ++i) {
    if (RefMatchAt(text, s - i, pat)) return s - i;
  }
  return HX_NPOS;
}

HXPos RefFindPrevChar(const std::string& text, char c, HXPos nPos, HXPos nCount) {
  if (nCount == 0) return HX_NPOS;
  for (HXPos i = 0; i < nCount && i <= nPos; ++i) {
    if (RefEq(text[nPos - i], c)) return nPos - i;
  }
  return HX_NPOS;
}

// Random bytes from a small alphabet so that matches are frequent: both cases
// of a few letters, their neighbours in the ASCII table, bytes above 127
// (whose case variants in Latin-1 must not match) and markup characters.
const char kAlphabet[] = {'a', 'A', 'b', 'B', '<', '/', '>', '@', '`', '[', '{', '\xe4', '\xc4', '\xff', ' '};

std::string RandomText(std::mt19937& rng, size_t nMax) {
  std::uniform_int_distribution<size_t> len(0, nMax);
  std::uniform_int_distribution<size_t> pick(0, sizeof(kAlphabet) - 1);
  std::string s(len(rng), ' ');
  for (char& c : s) c = kAlphabet[pick(rng)];
  return s;
}

}  // namespace

TEST(CaseInsensitiveSearch, ScannersAgreeWithNaiveReferenceOnRandomInput) {
  std::mt19937 rng(20261207);
  for (int round = 0; round < 20000; ++round) {
    const std::string text = RandomText(rng, 60);
    const std::string pat = RandomText(rng, round % 3 == 0 ? 9 : 4);
    const HXPos n = text.size();
    std::uniform_int_distribution<HXPos> posDist(0, n);
    const HXPos nStart = posDist(rng);
    const HXPos nCount = std::uniform_int_distribution<HXPos>(0, n - nStart)(rng);
    ASSERT_EQ(findNoCase(text.c_str(), pat.c_str(), nStart, nCount), RefFind(text, pat, nStart, nCount))
        << "text [" << text << "] pat [" << pat << "] start " << nStart << " count " << nCount;

    if (!pat.empty()) {
      const HXPos nChar = findCharNoCase(text.c_str(), pat[0], nStart, nCount);
      ASSERT_EQ(nChar, RefFind(text, pat.substr(0, 1), nStart, nCount));
    }
    if (n > 0) {
      const HXPos nPos = std::uniform_int_distribution<HXPos>(0, n - 1)(rng);
      const HXPos nBack = std::uniform_int_distribution<HXPos>(0, n + 2)(rng);
      const char c = pat.empty() ? 'a' : pat[0];
      ASSERT_EQ(findPreviousCharNoCase(text.c_str(), c, nPos, nBack), RefFindPrevChar(text, c, nPos, nBack));
      const HXPos nEnd = std::uniform_int_distribution<HXPos>(0, n)(rng);
      ASSERT_EQ(findLastNoCase(text.c_str(), pat.c_str(), nPos, nEnd, nBack), RefFindLast(text, pat, nPos, nEnd, nBack))
          << "text [" << text << "] pat [" << pat << "] pos " << nPos << " end " << nEnd << " count " << nBack;
    }
    const HXPos nAt = posDist(rng);
    const bool bRef = nAt + pat.size() <= n && RefMatchAt(text, nAt, pat);
    ASSERT_EQ(startsWithNoCase(text.c_str(), n, nAt, pat.c_str()), bRef);
    const std::string other = pat.empty() ? pat : pat.substr(0, pat.size() - round % 2);
    const bool bEq = other.size() == pat.size() && RefMatchAt(other, 0, pat);
    ASSERT_EQ(equalsNoCase(pat.c_str(), other.c_str()), bEq);
  }
}

TEST(CaseInsensitiveSearch, EdgeCases) {
  const char* text = "xx<td><Td><tD>";
  EXPECT_EQ(findNoCase(text, "<TD", 0, 14), 2u);
  EXPECT_EQ(findNoCase(text, "<TD", 3, 11), 6u);
  // Latin-1 a-umlaut in both cases: only the identical byte matches.
  EXPECT_EQ(findNoCase("\xc4\xe4", "\xe4", 0, 2), 1u);
  EXPECT_EQ(findCharNoCase("\xc4", '\xe4', 0, 1), HX_NPOS);
  // A match may not run past nStart + nCount even though the buffer goes on.
  EXPECT_EQ(findNoCase("abcdef", "cde", 0, 4), HX_NPOS);
  EXPECT_EQ(findNoCase("abcdef", "cde", 0, 5), 2u);
  // A partial match must not make the search jump over a real one.
  EXPECT_EQ(findNoCase("aaab", "aab", 0, 4), 1u);
  EXPECT_EQ(findNoCase("abababaX", "ababaX", 0, 8), 2u);
  EXPECT_EQ(findNoCase("x", "", 1, 0), 1u);
  EXPECT_EQ(findNoCase(nullptr, "a", 0, 1), HX_NPOS);
  EXPECT_EQ(findNoCase("a", "a", 0, 0), HX_NPOS);
  // findLastNoCase starts at nEnd - length when nPos lies closer to nEnd.
  EXPECT_EQ(findLastNoCase("abcabc", "abc", 5, 6, 100), 3u);
  EXPECT_EQ(findLastNoCase("abcabc", "ABC", 2, 6, 100), 0u);
  EXPECT_EQ(findLastNoCase("abcabc", "abc", 5, 6, 1), 3u);
  EXPECT_EQ(findLastNoCase("abcabc", "abc", 2, 6, 2), HX_NPOS);
  EXPECT_EQ(findLastNoCase("abcabc", "abc", 2, 6, 3), 0u);
  EXPECT_EQ(findLastNoCase("ab", "abc", 1, 2, 5), HX_NPOS);
  // A count beyond nPos + 1 searches down to position 0.
  EXPECT_EQ(findPreviousCharNoCase("<abc", '<', 3, 100), 0u);
  EXPECT_EQ(findPreviousCharNoCase("<abc", '<', 3, 3), HX_NPOS);
  EXPECT_TRUE(equalsNoCase("ID", "id"));
  EXPECT_FALSE(equalsNoCase("id", "ids"));
  EXPECT_FALSE(equalsNoCase(nullptr, "id"));
  EXPECT_TRUE(startsWithNoCase("x-->", 4, 1, "-->"));
  EXPECT_FALSE(startsWithNoCase("x-->", 3, 1, "-->"));
  EXPECT_FALSE(startsWithNoCase("x", 1, 5, ""));
}
