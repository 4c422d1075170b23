// The declaration index answers as the byte-by-byte scans of document type
// and markup declarations do, from every position of random texts of quotes,
// brackets and closings.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "html/declaration_scan.h"

namespace {

HXPos ScanMarkup(const std::string& s, HXPos nPos) {
  bool bInQuotes = false;
  for (HXPos p = nPos; p < s.size(); ++p) {
    if (s[p] == '"') {
      bInQuotes = !bInQuotes;
    } else if (s[p] == '>' && !bInQuotes) {
      return p + 1;
    }
  }
  return HX_NPOS;
}

HXPos ScanDoctype(const std::string& s, HXPos nPos) {
  bool bInQuotes = false;
  bool bInBrackets = false;
  for (HXPos p = nPos; p < s.size(); ++p) {
    const char c = s[p];
    if (bInQuotes) {
      if (c == '"') bInQuotes = false;
    } else if (c == '"') {
      bInQuotes = true;
    } else if (c == '>') {
      if (!bInBrackets) return p + 1;
    } else if (c == '[') {
      bInBrackets = true;
    } else if (c == ']') {
      bInBrackets = false;
    }
  }
  return HX_NPOS;
}

}  // namespace

TEST(DeclarationScan, AnswersAsTheByteScansFromEveryPosition) {
  std::mt19937 rng(31337);
  const char kBytes[] = "\"[]>x'<";
  for (int round = 0; round < 300; ++round) {
    std::string s(3 + rng() % 60, 'x');
    for (char& c : s) c = kBytes[rng() % 7];
    const HXPos nBegin = rng() % 3;
    CDeclarationScan scan(s.data(), nBegin, s.size());
    for (HXPos p = nBegin; p < s.size(); ++p) {
      ASSERT_EQ(scan.markupEnd(p), ScanMarkup(s, p)) << s << " from " << p;
      ASSERT_EQ(scan.doctypeEnd(p), ScanDoctype(s, p)) << s << " from " << p;
    }
  }
}
