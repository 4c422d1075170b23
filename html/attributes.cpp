#include "html/attributes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <utility>

#include "common/debug_log.h"
#include "html/case_insensitive_search.h"
#include "html/html_elements.h"
#include "html/source.h"
#include "html/tag_types.h"

using HtmlScan::IsAsciiSpace;
using HtmlScan::IsNameChar;
using HtmlScan::IsNameStart;

namespace {

// Byte classes of the attribute scan's fast passes.
constexpr auto kNameByte = [] {
  std::array<bool, 256> a{};
  for (int c = 0; c < 256; ++c) a[c] = IsNameChar(static_cast<unsigned char>(c));
  return a;
}();
constexpr auto kPlainValueByte = [] {
  std::array<bool, 256> a{};
  for (int c = 0; c < 256; ++c) {
    const auto u = static_cast<unsigned char>(c);
    a[c] = !IsAsciiSpace(u) && u != '<' && u != '>' && u != '/';
  }
  return a;
}();

}  // namespace

// ---------------------------------------------------------------------------
// CAttribute

bool CAttribute::checkConstructorArgs(CSource* pSource, const ci_string&, CSegment* pNameSegment,
                                      CSegment* pValueSegment, CSegment* pValueSegmentIncludingQuotes) {
  if (pNameSegment == nullptr) {
    DebugLog("[CAttribute::checkConstructorArgs] pNameSegment is 0");
    return false;
  }
  const HXPos nBegin = pNameSegment->getBegin();
  const HXPos nEnd =
      pValueSegmentIncludingQuotes != nullptr ? pValueSegmentIncludingQuotes->getEnd() : pNameSegment->getEnd();
  if (!CSegment::checkConstructorArgs(pSource, nBegin, nEnd)) {
    DebugLog("[CAttribute::checkConstructorArgs] CSegment::checkConstructorArgs failed. nBegin <%d> nEnd <%d> .",
             LogPos(nBegin), LogPos(nEnd));
    return false;
  }
  if (pNameSegment->getSource() != pSource) {
    DebugLog("[CAttribute::checkConstructorArgs] Source of pNameSegment differs from pSource. nBegin <%d> nEnd <%d> .",
             LogPos(nBegin), LogPos(nEnd));
    return false;
  }
  if (pValueSegment != nullptr && pValueSegment->getSource() != pSource) {
    DebugLog("[CAttribute::checkConstructorArgs] Source of pValueSegment differs from pSource. nBegin <%d> nEnd <%d> .",
             LogPos(nBegin), LogPos(nEnd));
    return false;
  }
  if (pValueSegmentIncludingQuotes != nullptr && pValueSegmentIncludingQuotes->getSource() != pSource) {
    DebugLog("[CAttribute::checkConstructorArgs] Source of pValueSegmentIncludingQuotes differs from pSource. "
             "nBegin <%d> nEnd <%d> .",
             LogPos(nBegin), LogPos(nEnd));
    return false;
  }
  return true;
}

CAttribute* CAttribute::CREATE_NEW_INST(CSource* pSource, const ci_string& csName, CSegment* pNameSegment,
                                        CSegment* pValueSegment, CSegment* pValueSegmentIncludingQuotes) {
  if (!checkConstructorArgs(pSource, csName, pNameSegment, pValueSegment, pValueSegmentIncludingQuotes)) {
    DebugLog("[CAttribute::CREATE_NEW_INST] checkConstructorArgs() failed.");
    return nullptr;
  }
  return new (pSource, std::nothrow) CAttribute(pSource, csName, pNameSegment, pValueSegment, pValueSegmentIncludingQuotes);
}

CAttribute* CAttribute::CREATE_NEW_INST(CSource* pSource, const ci_string& csName, HXPos nBegin, HXPos nNameEnd,
                                        HXPos nValueBegin, HXPos nValueEnd, HXPos nInclBegin, HXPos nEnd) {
  if (!CSegment::checkConstructorArgs(pSource, nBegin, nEnd) || nEnd - nBegin >= kNone) {
    DebugLog("[CAttribute::CREATE_NEW_INST] checkConstructorArgs() failed.");
    return nullptr;
  }
  return new (pSource, std::nothrow)
      CAttribute(pSource, csName, nBegin, nNameEnd, nValueBegin, nValueEnd, nInclBegin, nEnd);
}

CAttribute::CAttribute(CSource* pSource, const ci_string& csName, CSegment* pNameSegment, CSegment* pValueSegment,
                       CSegment* pValueSegmentIncludingQuotes)
    : CAttribute(pSource, csName, pNameSegment->getBegin(), pNameSegment->getEnd(),
                 pValueSegment != nullptr ? pValueSegment->getBegin() : HX_NPOS,
                 pValueSegment != nullptr ? pValueSegment->getEnd() : HX_NPOS,
                 pValueSegmentIncludingQuotes != nullptr ? pValueSegmentIncludingQuotes->getBegin() : HX_NPOS,
                 pValueSegmentIncludingQuotes != nullptr ? pValueSegmentIncludingQuotes->getEnd()
                                                         : pNameSegment->getEnd()) {
  if (CSegments* pSegments = segments()) {
    pSegments->pName = pNameSegment;
    pSegments->pValue = pValueSegment;
    pSegments->pValueIncludingQuotes = pValueSegmentIncludingQuotes;
  }
}

CAttribute::CAttribute(CSource* pSource, const ci_string& csName, HXPos nBegin, HXPos nNameEnd, HXPos nValueBegin,
                       HXPos nValueEnd, HXPos nInclBegin, HXPos nEnd)
    : CSegment(pSource, nBegin, nEnd, CListedBySubclass{}),
      m_csName(csName),
      m_nNameLength(static_cast<uint32_t>(nNameEnd - nBegin)) {
  // Only a long name leaves the destructor something to free.
  if (pSource != nullptr && NameOnHeap(m_csName)) pSource->addSegment(this);
  if (nValueBegin != HX_NPOS) {
    m_nValueOffset = static_cast<uint32_t>(nValueBegin - nBegin);
    m_nValueLength = static_cast<uint32_t>(nValueEnd - nValueBegin);
    m_nInclOffset = static_cast<uint32_t>(nInclBegin - nBegin);
  }
}

CAttribute::~CAttribute() = default;

CAttribute::CSegments* CAttribute::segments() const {
  if (m_pSegments == nullptr && m_pSource != nullptr) {
    void* p = m_pSource->allocate(sizeof(CSegments));
    if (p != nullptr) m_pSegments = new (p) CSegments();
  }
  return m_pSegments;
}

CSegment* CAttribute::getNameSegment() const {
  CSegments* pSegments = segments();
  if (pSegments == nullptr) return nullptr;
  if (pSegments->pName == nullptr) {
    pSegments->pName = CSegment::CREATE_NEW_INST(m_pSource, m_nBegin, m_nBegin + m_nNameLength);
  }
  return pSegments->pName;
}

CSegment* CAttribute::getValueSegment() const {
  if (!hasValue()) return nullptr;
  CSegments* pSegments = segments();
  if (pSegments == nullptr) return nullptr;
  if (pSegments->pValue == nullptr) {
    const HXPos nValueBegin = m_nBegin + m_nValueOffset;
    pSegments->pValue = CSegment::CREATE_NEW_INST(m_pSource, nValueBegin, nValueBegin + m_nValueLength);
  }
  return pSegments->pValue;
}

CSegment* CAttribute::getValueSegmentIncludingQuotes() const {
  if (!hasValue()) return nullptr;
  CSegments* pSegments = segments();
  if (pSegments == nullptr) return nullptr;
  if (pSegments->pValueIncludingQuotes == nullptr) {
    // An unquoted value is its own segment, quotes included.
    const HXPos nInclBegin = m_nBegin + m_nInclOffset;
    if (m_nInclOffset == m_nValueOffset && m_nEnd == nInclBegin + m_nValueLength) {
      pSegments->pValueIncludingQuotes = getValueSegment();
    } else {
      pSegments->pValueIncludingQuotes = CSegment::CREATE_NEW_INST(m_pSource, nInclBegin, m_nEnd);
    }
  }
  return pSegments->pValueIncludingQuotes;
}

std::string CAttribute::getValue() const {
  if (!hasValue() || m_nValueLength == 0) return std::string();
  return m_pSource->substring(m_nBegin + m_nValueOffset, m_nValueLength);
}

// ---------------------------------------------------------------------------
// CAttributes

CAttributes* CAttributes::CREATE_NEW_INST(CSource* pSource, HXPos nBegin, HXPos nEnd,
                                          std::vector<CAttribute*>* pAttributeList) {
  if (pAttributeList == nullptr || !CSegment::checkConstructorArgs(pSource, nBegin, nEnd)) {
    DebugLog("[CAttributes::CREATE_NEW_INST] checkConstructorArgs() failed. nBegin <%d> nEnd <%d>.", LogPos(nBegin),
             LogPos(nEnd));
    return nullptr;
  }
  const size_t nCount = pAttributeList->size();
  CAttribute** ppAttributes = nullptr;
  if (nCount > 0) {
    ppAttributes = static_cast<CAttribute**>(pSource->allocate(nCount * sizeof(CAttribute*)));
    if (ppAttributes == nullptr) return nullptr;
    std::copy(pAttributeList->begin(), pAttributeList->end(), ppAttributes);
  }
  pAttributeList->clear();
  return new (pSource, std::nothrow) CAttributes(pSource, nBegin, nEnd, ppAttributes, nCount);
}

CAttributes::CAttributes(CSource* pSource, HXPos nBegin, HXPos nEnd, CAttribute** ppAttributes, size_t nCount)
    : CSegment(pSource, nBegin, nEnd, CListedBySubclass{}), m_ppAttributes(ppAttributes), m_nCount(nCount) {}

CAttributes::~CAttributes() = default;

CAttribute* CAttributes::getAttribute(const ci_string& csName) const {
  for (CAttribute* pAttribute : getList()) {
    const ci_string& csAttrName = pAttribute->getName();
    if (csAttrName.size() == csName.size() &&
        ci_char_traits::compare(csAttrName.data(), csName.data(), csName.size()) == 0) {
      return pAttribute;
    }
  }
  return nullptr;
}

bool CAttributes::reachedMaxErrorCount(int nErrorCount, CSource*, const char* csType, const ci_string& csName,
                                       HXPos nBegin, int nMaxErrorCount) {
  if (nErrorCount <= nMaxErrorCount) return false;
  DebugLog("[CAttributes::reachedMaxErrorCount] Type <%s> Tag name <%s> Begin pos <%d> Rejected because it contains "
           "too many errors.",
           csType, csName.c_str(), LogPos(nBegin));
  return true;
}

bool CAttributes::isInvalidEmptyElementTag(CStartTagType* pStartTagType, CSource* pSource, HXPos nPos,
                                           const char* csType, const ci_string& csName, HXPos nBegin) {
  if (pStartTagType != CStartTagTypeSingletonData::getInstance()->m_pNormal) return false;
  if (!pStartTagType->atEndOfAttributes(pSource, nPos, false)) return false;
  DebugLog("[CAttributes::isInvalidEmptyElementTag] Type <%s> Tag name <%s> Begin pos <%d> Contains a '/' character "
           "before the closing '>', which is ignored because tags of this name cannot be empty-element tags.",
           csType, csName.c_str(), LogPos(nBegin));
  return true;
}

namespace {

// The attribute state machine's working state for one call of construct.
class CAttributeScanner {
 public:
  CAttributeScanner(CSource* pSource, const char* csType, HXPos nBegin, const ci_string& csName)
      : m_pSource(pSource),
        m_csType(csType),
        m_nBegin(nBegin),
        m_csName(csName),
        m_vecList(pSource->attributeScratch()) {
    m_vecList.clear();
  }
  ~CAttributeScanner() {
    // A hostile tag of very many attributes leaves no large list behind.
    if (m_vecList.capacity() > 1024) std::vector<CAttribute*>().swap(m_vecList);
    m_vecList.clear();
  }

  bool init() { return true; }

  void reject(const char* pReason, HXPos nPos) {
    DebugLog("[CAttributes::construct] Type <%s> Tag name <%s> Begin pos <%d> Rejected because %s at <%d>.", m_csType,
             m_csName.c_str(), LogPos(m_nBegin), pReason, LogPos(nPos));
  }

  // Appends an attribute named by [nNameBegin, nNameEnd); without a value
  // nValueBegin is HX_NPOS and the attribute ends with its name. False when
  // it cannot be made.
  bool addAttribute(HXPos nNameBegin, HXPos nNameEnd, HXPos nValueBegin, HXPos nValueEnd, HXPos nInclBegin,
                    HXPos nInclEnd, HXPos nPos) {
    ci_string csAttrName(m_pSource->getBuffer() + nNameBegin, nNameEnd - nNameBegin);
    const HXPos nEnd = nValueBegin != HX_NPOS ? nInclEnd : nNameEnd;
    CAttribute* pAttribute = CAttribute::CREATE_NEW_INST(m_pSource, csAttrName, nNameBegin, nNameEnd, nValueBegin,
                                                         nValueEnd, nInclBegin, nEnd);
    if (pAttribute == nullptr) {
      reject("CAttribute::CREATE_NEW_INST() failed", nPos);
      return false;
    }
    try {
      m_vecList.push_back(pAttribute);
    } catch (...) {
      reject("CAttribute::CREATE_NEW_INST() failed", nPos);
      return false;
    }
    return true;
  }

  CSource* m_pSource;
  const char* m_csType;
  HXPos m_nBegin;
  const ci_string& m_csName;
  // The attributes found so far; copied into the source's arena at the end.
  // The source's one list, reused by every tag: the scan never nests.
  std::vector<CAttribute*>& m_vecList;
};

}  // namespace

CAttributes* CAttributes::construct(CSource* pSource, const char* csType, int nState, HXPos nBegin,
                                    HXPos nAttributesBegin, HXPos nMaxEnd, CStartTagType* pStartTagType,
                                    const ci_string& csName, int64_t nElementIndex, int nMaxErrorCount) {
  if (pSource == nullptr || pStartTagType == nullptr) {
    DebugLog("[CAttributes::construct] Type <%s> Tag name <%s> Begin pos <%d> pSource or pStartTagType is 0.", csType,
             csName.c_str(), LogPos(nBegin));
    return nullptr;
  }
  const bool bNormal = pStartTagType == CStartTagTypeSingletonData::getInstance()->m_pNormal;
  const bool bClosingSlashIgnored =
      bNormal && CHTMLElementsSingletonData::getInstance()->m_HasEndTagElements.contains(nElementIndex);

  HXPos nStart;
  if (csName.empty()) {
    nStart = nBegin;
  } else {
    nStart = nAttributesBegin != HX_NPOS ? nAttributesBegin : nBegin + csName.length() + 1;
  }

  CAttributeScanner scan(pSource, csType, nBegin, csName);
  if (!scan.init()) {
    DebugLog("[CAttributes::construct] Type <%s> Tag name <%s> Begin pos <%d> Rejected because CAttributes::"
             "CREATE_NEW_INST failed.",
             csType, csName.c_str(), LogPos(nBegin));
    return nullptr;
  }

  const char* pBuffer = pSource->getBuffer();
  const HXPos nSourceBegin = pSource->getBegin();
  const HXPos nSourceEnd = pSource->getEnd();
  unsigned char cQuote = ' ';
  int nErrorCount = 0;
  HXPos nAttributesEnd = nStart;
  HXPos nNameBegin = nStart;
  HXPos nValueBegin = nStart;
  HXPos nNameEnd = nStart;
  int nCurrentState = nState;

  for (HXPos p = nStart;; ++p) {
    if (p < nSourceBegin || p >= nSourceEnd) {
      DebugLog("[CAttributes::construct] Type <%s> Tag name <%s> Begin pos <%d> Rejected because it has no closing "
               "'>' character.",
               csType, csName.c_str(), LogPos(nBegin));
      return nullptr;
    }
    bool bFinished = (p == nMaxEnd);
    if (!bFinished) {
      // The normal type's test is one or two byte comparisons; spare the
      // virtual call on every byte of a tag.
      if (bNormal) {
        const auto c0 = static_cast<unsigned char>(pBuffer[p]);
        bFinished = c0 == '>' || (!bClosingSlashIgnored && c0 == '/' && p + 2 <= nSourceEnd && pBuffer[p + 1] == '>');
      } else {
        bFinished = pStartTagType->atEndOfAttributes(pSource, p, bClosingSlashIgnored);
      }
    }
    const auto c = static_cast<unsigned char>(pBuffer[p]);
    bool bRepeat;
    do {
      bRepeat = false;
      switch (nCurrentState) {
        case 0:  // after the tag name
          if (bFinished) break;
          if (IsAsciiSpace(c)) {
            nCurrentState = 1;
          } else if (isInvalidEmptyElementTag(pStartTagType, pSource, p, csType, csName, nBegin)) {
            // passed over
          } else {
            scan.reject("name contains invalid character", p);
            return nullptr;
          }
          break;

        case 1:  // between attributes
          if (bFinished) break;
          if (IsAsciiSpace(c)) {
            cQuote = ' ';
            break;
          }
          if (cQuote != ' ') {
            DebugLog("[CAttributes::construct] Type <%s> Tag name <%s> Begin pos <%d> Has missing whitespace after "
                     "quoted attribute value at <%d>.",
                     csType, csName.c_str(), LogPos(nBegin), LogPos(p));
          }
          if (IsNameStart(c)) {
            nNameBegin = p;
            nCurrentState = 2;
          } else if (c == '<') {
            scan.reject("of '<' character", p);
            return nullptr;
          } else if (isInvalidEmptyElementTag(pStartTagType, pSource, p, csType, csName, nBegin)) {
            // passed over
          } else {
            DebugLog("[CAttributes::construct] Type <%s> Tag name <%s> Begin pos <%d> Contains attribute name with "
                     "invalid first character at <%d>.",
                     csType, csName.c_str(), LogPos(nBegin), LogPos(p));
            if (reachedMaxErrorCount(++nErrorCount, pSource, csType, csName, nBegin, nMaxErrorCount)) return nullptr;
            nNameBegin = p;
            nCurrentState = 2;
          }
          break;

        case 2:  // in a name
          if (!bFinished && c != '=' && !IsAsciiSpace(c)) {
            if (IsNameChar(c)) {
              // Stays in the name, and so do the name bytes that follow: none
              // of them can end the tag, so they are passed at once.
              const HXPos nStop = (nMaxEnd > p && nMaxEnd < nSourceEnd) ? nMaxEnd : nSourceEnd;
              while (p + 1 < nStop && kNameByte[static_cast<unsigned char>(pBuffer[p + 1])]) ++p;
            } else if (c == '<') {
              scan.reject("of '<' character in attribute name", p);
              return nullptr;
            } else if (isInvalidEmptyElementTag(pStartTagType, pSource, p, csType, csName, nBegin)) {
              // passed over; the '/' stays inside the name
            } else {
              DebugLog("[CAttributes::construct] Type <%s> Tag name <%s> Begin pos <%d> Contains attribute name "
                       "with invalid character at <%d>",
                       csType, csName.c_str(), LogPos(nBegin), LogPos(p));
              if (reachedMaxErrorCount(++nErrorCount, pSource, csType, csName, nBegin, nMaxErrorCount)) {
                return nullptr;
              }
            }
            break;
          }
          nNameEnd = p;
          if (!bFinished) {
            nCurrentState = (c == '=') ? 4 : 3;
          } else {
            if (!scan.addAttribute(nNameBegin, nNameEnd, HX_NPOS, HX_NPOS, HX_NPOS, HX_NPOS, p)) return nullptr;
            nAttributesEnd = p;
          }
          break;

        case 3:  // after a name and white space
          if (!bFinished) {
            if (c == '=') {
              nCurrentState = 4;
              break;
            }
            if (IsAsciiSpace(c)) break;
          }
          if (!scan.addAttribute(nNameBegin, nNameEnd, HX_NPOS, HX_NPOS, HX_NPOS, HX_NPOS, p)) return nullptr;
          nAttributesEnd = nNameEnd;
          if (!bFinished) {
            nCurrentState = 1;
            bRepeat = true;
          }
          break;

        case 4:  // after '='
          nValueBegin = p;
          if (!bFinished) {
            if (IsAsciiSpace(c)) break;
            if (c == '<') {
              scan.reject("of '<' character at start of attribute value", p);
              return nullptr;
            }
            if (c == '"' || c == '\'') {
              cQuote = c;
              nValueBegin = p + 1;
            } else {
              cQuote = ' ';
            }
            nCurrentState = 5;
            break;
          }
          {
            DebugLog("[CAttributes::construct] Type <%s> Tag name <%s> Begin pos <%d> Has missing attribute value "
                     "after '=' sign at <%d>.",
                     csType, csName.c_str(), LogPos(nBegin), LogPos(p));
            if (!scan.addAttribute(nNameBegin, nNameEnd, p, p, p, p, p)) return nullptr;
            nAttributesEnd = p;
            nCurrentState = 1;
          }
          break;

        case 5: {  // in a value
          HXPos nValueEnd = HX_NPOS;
          HXPos nInclBegin = nValueBegin;
          HXPos nInclEnd = HX_NPOS;
          if (!bFinished) {
            if (cQuote == ' ') {
              if (IsAsciiSpace(c)) {
                nValueEnd = p;
                nInclEnd = p;
              } else if (c == '<') {
                scan.reject("of '<' character in unquoted attribute value", p);
                return nullptr;
              } else if (bNormal) {
                // The value goes on up to a blank, '<', '>' or '/' (which
                // may end the tag); the bytes before it are passed at once.
                const HXPos nStop = (nMaxEnd > p && nMaxEnd < nSourceEnd) ? nMaxEnd : nSourceEnd;
                while (p + 1 < nStop && kPlainValueByte[static_cast<unsigned char>(pBuffer[p + 1])]) ++p;
              }
            } else if (c == cQuote) {
              nValueEnd = p;
              nInclBegin = nValueBegin - 1;
              nInclEnd = p + 1;
            } else if (p != nMaxEnd) {
              // Inside quotes only the closing quote, the latest end the
              // caller gave and the page's end matter: jump to the first of
              // them instead of testing every byte of a long value.
              const HXPos nStop = (nMaxEnd > p && nMaxEnd < nSourceEnd) ? nMaxEnd : nSourceEnd;
              const void* pQuote = std::memchr(pBuffer + p + 1, cQuote, nStop - p - 1);
              p = (pQuote != nullptr ? static_cast<HXPos>(static_cast<const char*>(pQuote) - pBuffer) : nStop) - 1;
            }
          } else if (cQuote != ' ') {
            // A closing delimiter inside quotes does not end the tag, except
            // at the latest end the caller gave.
            if (p != nMaxEnd) {
              bFinished = false;
              break;
            }
            DebugLog("[CAttributes::construct] Type <%s> Tag name <%s> Begin pos <%d>. Tag terminated in the middle "
                     "of a quoted attribute value at <%d>. ",
                     csType, csName.c_str(), LogPos(nBegin), LogPos(p));
            if (reachedMaxErrorCount(++nErrorCount, pSource, csType, csName, nBegin, nMaxErrorCount)) return nullptr;
            nValueEnd = p;
            nInclBegin = nValueBegin - 1;
            nInclEnd = p;
          } else {
            nValueEnd = p;
            nInclEnd = p;
          }
          if (nValueEnd == HX_NPOS) break;
          if (!scan.addAttribute(nNameBegin, nNameEnd, nValueBegin, nValueEnd, nInclBegin, nInclEnd, p)) {
            return nullptr;
          }
          nAttributesEnd = nInclEnd;
          nCurrentState = 1;
          break;
        }
        default:
          scan.reject("of an unknown parser state", p);
          return nullptr;
      }
    } while (bRepeat);
    if (bFinished) break;
  }

  CAttributes* pAttributes = CAttributes::CREATE_NEW_INST(pSource, nStart, nAttributesEnd, &scan.m_vecList);
  if (pAttributes == nullptr) {
    DebugLog("[CAttributes::construct] Type <%s> Tag name <%s> Begin pos <%d> Rejected because CAttributes::"
             "CREATE_NEW_INST failed.",
             csType, csName.c_str(), LogPos(nBegin));
    return nullptr;
  }
  return pAttributes;
}
