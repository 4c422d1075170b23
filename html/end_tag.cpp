// CEndTag: construction, the element an end tag closes, end tag searches.
#include <new>

#include "common/debug_log.h"
#include "html/element.h"
#include "html/source.h"
#include "html/tag.h"
#include "html/tag_types.h"

CEndTag* CEndTag::CREATE_NEW_INST(CSource* pSource, HXPos nBegin, HXPos nEnd, CEndTagType* pEndTagType,
                                  const ci_string& csName, int64_t nElementIndex) {
  bool bValid = true;
  if (!CSegment::checkConstructorArgs(pSource, nBegin, nEnd)) {
    DebugLog("[CTag::checkConstructorArgs] CSegment::checkConstructorArgs() failed. nBegin <%d> nEnd <%d> .",
             LogPos(nBegin), LogPos(nEnd));
    DebugLog("[CEndTag::checkConstructorArgs] CTag::checkConstructorArgs() failed. nBegin <%d> nEnd <%d> csName <%s> .",
             LogPos(nBegin), LogPos(nEnd), csName.c_str());
    bValid = false;
  } else if (pEndTagType == nullptr) {
    DebugLog("[CEndTag::checkConstructorArgs] pEndTagType is 0. nBegin <%d> nEnd <%d> csName <%s> .", LogPos(nBegin),
             LogPos(nEnd), csName.c_str());
    bValid = false;
  }
  if (!bValid) {
    DebugLog("[CTag::CREATE_NEW_INST] checkConstructorArgs() failed. nBegin <%d> nEnd <%d> csName <%s>",
             LogPos(nBegin), LogPos(nEnd), csName.c_str());
    return nullptr;
  }
  return new (pSource, std::nothrow) CEndTag(pSource, nBegin, nEnd, pEndTagType, csName, nElementIndex);
}

CEndTag::CEndTag(CSource* pSource, HXPos nBegin, HXPos nEnd, CEndTagType* pEndTagType, const ci_string& csName,
                 int64_t nElementIndex)
    : CTag(pSource, nBegin, nEnd, csName, nElementIndex), m_pEndTagType(pEndTagType) {
  m_bUnregistered = pEndTagType != nullptr && pEndTagType->isUnregisteredType();
}

CTagType* CEndTag::getTagType() const { return m_pEndTagType; }

// The element of the nearest start tag before the end tag whose element
// ends with it. Elements that end with an end tag do not settle it: which
// of several such elements was matched first must not decide.
CElement* CEndTag::getElement() {
  if (m_bElementCached) return m_pElement;
  HXPos p = m_nBegin;
  while (p > m_pSource->getBegin()) {
    CStartTag* pStartTag = CStartTag::findPreviousOrNext(m_pSource, p - 1, true);
    if (pStartTag == nullptr) break;
    CElement* pElement = pStartTag->getElement();
    const CEndTag* pEndTag = pElement != nullptr ? pElement->getEndTag() : nullptr;
    // Without the position cache every search makes new tag objects: the
    // end tag the element found at this position is this one.
    if (pEndTag != nullptr && pEndTag->getBegin() == m_nBegin) {
      m_pElement = pElement;
      m_bElementCached = true;
      return pElement;
    }
    p = pStartTag->getBegin();
  }
  m_pElement = nullptr;
  m_bElementCached = true;
  return nullptr;
}

namespace {

// The first end tag of pEndTagType whose text csSearch occurs at or after
// nPos (before it when bPrevious). A forward search looks only at
// occurrences that begin before nLimit.
CEndTag* SearchEndTag(CSource* pSource, HXPos nPos, const ci_string& csSearch, CEndTagType* pEndTagType,
                      bool bPrevious, HXPos nLimit = HX_NPOS) {
  const HXPos nBegin = pSource->getBegin();
  const HXPos nEnd = pSource->getEnd();
  HXPos p = nPos;
  for (;;) {
    const HXPos nHit = pSource->findNoCaseFrom(csSearch, p, bPrevious, nLimit);
    if (nHit == HX_NPOS) return nullptr;
    CTag* pTag = CTag::getTagAt(pSource, nHit);
    if (pTag != nullptr && !pTag->isStartTag() && static_cast<CEndTag*>(pTag)->getEndTagType() == pEndTagType) {
      return static_cast<CEndTag*>(pTag);
    }
    if (!bPrevious) {
      if (nHit + 1 >= nEnd) return nullptr;
      p = nHit + 1;
    } else {
      if (nHit <= nBegin) return nullptr;
      p = nHit - 1;
    }
  }
}

}  // namespace

CEndTag* CEndTag::findPreviousOrNext(CSource* pSource, HXPos nPos, const ci_string& csName,
                                     CEndTagType* pEndTagType, bool bPrevious) {
  if (pSource == nullptr || pEndTagType == nullptr) {
    DebugLog("[CEndTag::findPreviousOrNext] pSource or pEndTagType is 0. nPos <%d>.", LogPos(nPos));
    return nullptr;
  }
  if (csName.empty()) {
    CTag* pTag = CTag::findPreviousOrNextTag(pSource, nPos, pEndTagType, bPrevious);
    return (pTag != nullptr && !pTag->isStartTag()) ? static_cast<CEndTag*>(pTag) : nullptr;
  }
  ci_string csSearch = pEndTagType->getStartDelimiter();
  csSearch += csName;
  csSearch += pEndTagType->getClosingDelimiter();
  if (bPrevious || !pSource->useAllTypesCache()) return SearchEndTag(pSource, nPos, csSearch, pEndTagType, bPrevious);
  // After a full parse a normal end tag's text is exactly "</", its name and
  // ">", so the occurrences that are such tags are the parse's end tags of
  // the name.
  if (pEndTagType == CEndTagTypeSingletonData::getInstance()->m_pNormal) {
    if (const CParseIndex* pIndex = pSource->parseIndex()) return pIndex->nextEndTag(nPos, csName);
  }

  const std::string sText(csSearch.data(), csSearch.size());
  CTag* pFound = pSource->getCache().rememberedForwardSearch(
      pEndTagType, sText, nPos, HX_NPOS, [&](HXPos nFrom, HXPos nLimit) -> CTag* {
        return SearchEndTag(pSource, nFrom, csSearch, pEndTagType, false, nLimit);
      });
  return static_cast<CEndTag*>(pFound);
}
