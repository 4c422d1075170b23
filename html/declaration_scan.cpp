#include "html/declaration_scan.h"

#include <algorithm>

CDeclarationScan::CDeclarationScan(const char* pBuffer, HXPos nBegin, HXPos nEnd) {
  int nParity = 0;
  for (HXPos p = nBegin; p < nEnd; ++p) {
    const char ch = pBuffer[p];
    if (ch == '"') {
      m_vecQuotes.push_back(p);
      nParity ^= 1;
      continue;
    }
    // A byte outside quotes for the scans whose start has the same parity.
    Class& c = m_classes[nParity];
    if (ch == '>') {
      c.vecClosings.push_back(p);
    } else if (ch == '[' || ch == ']') {
      c.vecBrackets.push_back(p);
      c.vecIsOpening.push_back(ch == '[');
    }
  }
  for (Class& c : m_classes) {
    const size_t n = c.vecBrackets.size();
    c.vecNextClosingBracket.assign(n, n);
    c.vecEndAfter.assign(n, HX_NPOS);
    size_t nNextClosing = n;
    for (size_t k = n; k-- > 0;) {
      if (!c.vecIsOpening[k]) nNextClosing = k;
      c.vecNextClosingBracket[k] = nNextClosing;
      // Past bracket k with the brackets closed: the next '>' wins unless a
      // bracket comes first; a ']' changes nothing, a '[' defers the end to
      // past the next ']'.
      const HXPos nFrom = c.vecBrackets[k] + 1;
      const HXPos nClosing = FirstAtOrAfter(c.vecClosings, nFrom);
      if (k + 1 == n || nClosing < c.vecBrackets[k + 1]) {
        c.vecEndAfter[k] = nClosing;
      } else if (!c.vecIsOpening[k + 1]) {
        c.vecEndAfter[k] = c.vecEndAfter[k + 1];
      } else {
        const size_t m = c.vecNextClosingBracket[k + 1];
        c.vecEndAfter[k] = m < n ? c.vecEndAfter[m] : HX_NPOS;
      }
    }
  }
}

HXPos CDeclarationScan::FirstAtOrAfter(const std::vector<HXPos>& v, HXPos nPos) {
  auto it = std::lower_bound(v.begin(), v.end(), nPos);
  return it != v.end() ? *it : HX_NPOS;
}

int CDeclarationScan::classAt(HXPos nPos) const {
  const size_t nBefore = static_cast<size_t>(std::lower_bound(m_vecQuotes.begin(), m_vecQuotes.end(), nPos) -
                                             m_vecQuotes.begin());
  return static_cast<int>(nBefore & 1);
}

HXPos CDeclarationScan::markupEnd(HXPos nPos) const {
  const HXPos nClosing = FirstAtOrAfter(m_classes[classAt(nPos)].vecClosings, nPos);
  return nClosing != HX_NPOS ? nClosing + 1 : HX_NPOS;
}

HXPos CDeclarationScan::endFrom(const Class& c, HXPos nPos) const {
  const HXPos nClosing = FirstAtOrAfter(c.vecClosings, nPos);
  const size_t k = static_cast<size_t>(std::lower_bound(c.vecBrackets.begin(), c.vecBrackets.end(), nPos) -
                                       c.vecBrackets.begin());
  if (k == c.vecBrackets.size() || nClosing < c.vecBrackets[k]) return nClosing;
  if (!c.vecIsOpening[k]) return c.vecEndAfter[k];
  const size_t m = c.vecNextClosingBracket[k];
  return m < c.vecBrackets.size() ? c.vecEndAfter[m] : HX_NPOS;
}

HXPos CDeclarationScan::doctypeEnd(HXPos nPos) const {
  const HXPos nClosing = endFrom(m_classes[classAt(nPos)], nPos);
  return nClosing != HX_NPOS ? nClosing + 1 : HX_NPOS;
}
