// Finding the tag a page was cut in: a look backward from the page's end to
// its last tag opening, and a scan of that tag's rest as the browser reads it.
#include "html/cut_tag.h"

#include <cstring>

#include "html/case_insensitive_search.h"
#include "html/source.h"
#include "html/tag.h"

namespace {

const char kCommentOpen[] = "<!--";
const char kCommentClose[] = "-->";

bool OpensTag(const CSource& source, HXPos nPos) {
  if (nPos + 1 >= source.getEnd()) return true;  // a lone '<' at the very end
  const unsigned char c = source.byteAt(nPos + 1);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '/' || c == '!' || c == '?';
}

// The page's last tag opening before nBefore, or HX_NPOS.
HXPos LastTagOpening(const CSource& source, HXPos nBefore) {
  const char* pBuffer = source.getBuffer();
  HXPos nTo = nBefore;
  while (nTo > source.getBegin()) {
    const void* pHit = memrchr(pBuffer + source.getBegin(), '<', nTo - source.getBegin());
    if (pHit == nullptr) return HX_NPOS;
    const HXPos nHit = static_cast<const char*>(pHit) - pBuffer;
    if (OpensTag(source, nHit)) return nHit;
    nTo = nHit;
  }
  return HX_NPOS;
}

bool CommentClosed(const CSource& source, HXPos nBegin) {
  const char* pBuffer = source.getBuffer();
  const HXPos nFrom = nBegin + 2;  // "<!-->" is a closed, empty comment
  return memmem(pBuffer + nFrom, source.getEnd() - nFrom, kCommentClose, sizeof(kCommentClose) - 1) != nullptr;
}

// Whether a '>' closes the tag opened at nBegin before the page's end. A
// quote opens a value only where a value begins, after '=' and blanks, as
// the browser reads attributes; a '>' inside the value does not close.
bool TagClosed(const CSource& source, HXPos nBegin) {
  if (source.getEnd() - nBegin >= sizeof(kCommentOpen) - 1 &&
      std::memcmp(source.getBuffer() + nBegin, kCommentOpen, sizeof(kCommentOpen) - 1) == 0) {
    return CommentClosed(source, nBegin);
  }
  unsigned char cQuote = 0;
  bool bValueNext = false;
  for (HXPos p = nBegin + 1; p < source.getEnd(); ++p) {
    const unsigned char c = source.byteAt(p);
    if (cQuote != 0) {
      if (c == cQuote) cQuote = 0;
    } else if (c == '>') {
      return true;
    } else if (c == '=') {
      bValueNext = true;
    } else if (!HtmlScan::IsAsciiSpace(c)) {
      if (bValueNext && (c == '"' || c == '\'')) cQuote = c;
      bValueNext = false;
    }
  }
  return false;
}

}  // namespace

HXPos FindCutTagBegin(CSource& source) {
  const HXPos nLast = LastTagOpening(source, source.getEnd());
  if (nLast == HX_NPOS || TagClosed(source, nLast)) return HX_NPOS;
  // Seldom reached: the parser decides whether the opening is markup at all
  // or text inside a comment or a quoted value of a tag it has found.
  if (source.findEnclosingTag(nLast, nullptr) != nullptr) return HX_NPOS;
  return nLast;
}
