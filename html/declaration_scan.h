// The closing '>' of document type declarations and markup declarations on
// pages where many of them run long. Their scans skip quoted text (and, for
// document types, a bracketed subset), so one that finds no closing runs to
// the page's end, and a page of such openings would be scanned once per
// opening. Instead, one pass over the page collects the positions that matter
// and each scan becomes a few binary searches.
//
// Quotes toggle at every '"', so whether a byte lies inside quotes for a scan
// that starts at p depends only on the parity of the quotes before p and
// before the byte: scans split into two classes by that parity.
#pragma once

#include <cstddef>
#include <vector>

#include "html/parser_types.h"

class CDeclarationScan {
 public:
  // One pass over [nBegin, nEnd) of the buffer.
  CDeclarationScan(const char* pBuffer, HXPos nBegin, HXPos nEnd);

  // The position after the '>' that ends a markup declaration's scan from
  // nPos (a '>' outside quotes), or HX_NPOS.
  HXPos markupEnd(HXPos nPos) const;
  // The same for a document type declaration (a '>' outside quotes and
  // outside square brackets).
  HXPos doctypeEnd(HXPos nPos) const;

 private:
  struct Class {
    std::vector<HXPos> vecClosings;  // '>' outside quotes for this class
    std::vector<HXPos> vecBrackets;  // '[' and ']' outside quotes
    std::vector<bool> vecIsOpening;  // per bracket: '['
    std::vector<size_t> vecNextClosingBracket;  // per bracket: index of the first ']' at or after it
    // Per bracket: where a scan that has just passed it (brackets closed)
    // ends; HX_NPOS when it does not.
    std::vector<HXPos> vecEndAfter;
  };
  int classAt(HXPos nPos) const;
  static HXPos FirstAtOrAfter(const std::vector<HXPos>& v, HXPos nPos);
  // The end of a scan in a class from nPos with the brackets closed.
  HXPos endFrom(const Class& c, HXPos nPos) const;

  std::vector<HXPos> m_vecQuotes;
  Class m_classes[2];
};
