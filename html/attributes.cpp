#include "html/attributes.h"

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

CAttribute::CAttribute(CSource* pSource, const ci_string& csName, CSegment* pNameSegment, CSegment* pValueSegment,
                       CSegment* pValueSegmentIncludingQuotes)
    : CSegment(pSource, pNameSegment->getBegin(),
               pValueSegmentIncludingQuotes != nullptr ? pValueSegmentIncludingQuotes->getEnd()
                                                       : pNameSegment->getEnd()),
      m_csName(csName),
      m_pNameSegment(pNameSegment),
      m_pValueSegment(pValueSegment),
      m_pValueSegmentIncludingQuotes(pValueSegmentIncludingQuotes) {}

CAttribute::~CAttribute() = default;

std::string CAttribute::getValue() const {
  if (m_pValueSegment == nullptr || m_pValueSegment->isEmpty()) return std::string();
  return m_pValueSegment->toString();
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
  return new (pSource, std::nothrow) CAttributes(pSource, nBegin, nEnd, pAttributeList);
}

CAttributes::CAttributes(CSource* pSource, HXPos nBegin, HXPos nEnd, std::vector<CAttribute*>* pAttributeList)
    : CSegment(pSource, nBegin, nEnd), m_vecAttributes(std::move(*pAttributeList)) {}

CAttributes::~CAttributes() = default;

CAttribute* CAttributes::getAttribute(const ci_string& csName) const {
  for (CAttribute* pAttribute : m_vecAttributes) {
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
      : m_pSource(pSource), m_csType(csType), m_nBegin(nBegin), m_csName(csName) {}

  bool init() { return true; }

  void reject(const char* pReason, HXPos nPos) {
    DebugLog("[CAttributes::construct] Type <%s> Tag name <%s> Begin pos <%d> Rejected because %s at <%d>.", m_csType,
             m_csName.c_str(), LogPos(m_nBegin), pReason, LogPos(nPos));
  }

  // Appends an attribute; false when it cannot be made.
  bool addAttribute(CSegment* pNameSegment, CSegment* pValue, CSegment* pValueIncludingQuotes, HXPos nPos) {
    ci_string csAttrName(m_pSource->getBuffer() + pNameSegment->getBegin(), pNameSegment->length());
    CAttribute* pAttribute =
        CAttribute::CREATE_NEW_INST(m_pSource, csAttrName, pNameSegment, pValue, pValueIncludingQuotes);
    if (pAttribute == nullptr) {
      reject("CAttribute::CREATE_NEW_INST() failed", nPos);
      return false;
    }
    try {
      if (m_vecList.empty()) m_vecList.reserve(8);
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
  std::vector<CAttribute*> m_vecList;
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
  CSegment* pNameSegment = nullptr;
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
              // stays in the name
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
          pNameSegment = CSegment::CREATE_NEW_INST(pSource, nNameBegin, p);
          if (pNameSegment == nullptr) {
            scan.reject("CSegment::CREATE_NEW_INST() failed", p);
            return nullptr;
          }
          if (!bFinished) {
            nCurrentState = (c == '=') ? 4 : 3;
          } else {
            if (!scan.addAttribute(pNameSegment, nullptr, nullptr, p)) return nullptr;
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
          if (!scan.addAttribute(pNameSegment, nullptr, nullptr, p)) return nullptr;
          nAttributesEnd = pNameSegment->getEnd();
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
            CSegment* pValue = CSegment::CREATE_NEW_INST(pSource, p, p);
            if (pValue == nullptr) {
              scan.reject("CSegment::CREATE_NEW_INST() failed", p);
              return nullptr;
            }
            if (!scan.addAttribute(pNameSegment, pValue, pValue, p)) return nullptr;
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
              }
            } else if (c == cQuote) {
              nValueEnd = p;
              nInclBegin = nValueBegin - 1;
              nInclEnd = p + 1;
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
          CSegment* pValue = CSegment::CREATE_NEW_INST(pSource, nValueBegin, nValueEnd);
          CSegment* pIncl = pValue;
          if (pValue != nullptr && nInclBegin != nValueBegin) {
            pIncl = CSegment::CREATE_NEW_INST(pSource, nInclBegin, nInclEnd);
          }
          if (pValue == nullptr || pIncl == nullptr) {
            scan.reject("CSegment::CREATE_NEW_INST() failed", p);
            return nullptr;
          }
          if (!scan.addAttribute(pNameSegment, pValue, pIncl, p)) return nullptr;
          nAttributesEnd = pIncl->getEnd();
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
