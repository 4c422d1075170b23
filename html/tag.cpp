// CTag: construction, the tag at a position, previous and next tag searches
// and the full sequential parse.
#include "html/tag.h"

#include <algorithm>
#include <new>

#include "common/debug_log.h"
#include "html/case_insensitive_search.h"
#include "html/html_elements.h"
#include "html/source.h"
#include "html/tag_types.h"

CTag::CTag(CSource* pSource, HXPos nBegin, HXPos nEnd, const ci_string& csName, int64_t nElementIndex)
    : CSegment(pSource, nBegin, nEnd, CListedBySubclass{}),
      m_csName(csName),
      m_nElementIndex(static_cast<int32_t>(nElementIndex != kIndexUnknown
                                               ? nElementIndex
                                               : CHTMLElementNameSingletonData::getElementIndex(csName))) {
  // Element names are short: most tags have nothing for a destructor to free.
  if (pSource != nullptr && NameOnHeap(m_csName)) {
    pSource->addSegment(this);
    m_bListed = true;
  }
}

CTag::~CTag() = default;

void CTag::materializeName() const {
  m_bNameDeferred = false;
  const HXPos nNameBegin = m_nBegin + 2;
  const HXPos nNameEnd = m_nEnd - 1;
  if (nNameEnd <= nNameBegin) return;
  if (!m_bListed && m_pSource != nullptr) {
    // The copy will be on the heap: the source's destructor must free it.
    // Without room to list the tag the name stays unread rather than leak.
    try {
      m_pSource->addSegment(const_cast<CTag*>(this));
    } catch (const std::bad_alloc&) {
      return;
    }
    m_bListed = true;
  }
  m_csName.assign(m_pSource->getBuffer() + nNameBegin, nNameEnd - nNameBegin);
}

CTag* CTag::getTagAt(CSource* pSource, HXPos nPos) {
  if (pSource == nullptr) {
    DebugLog("[CTag::getTagAt] pSource is 0. nPos <%d>.", LogPos(nPos));
    return nullptr;
  }
  if (!pSource->contains(nPos)) return nullptr;
  if (pSource->useAllTypesCache()) return pSource->getCache().getTagAt(nPos);
  return CTagType::getTagAt(pSource, nPos, false);
}

CTag* CTag::getTagAtUncached(CSource* pSource, HXPos nPos) {
  if (pSource == nullptr) {
    DebugLog("[CTag::getTagAtUncached] pSource is 0. nPos <%d>.", LogPos(nPos));
    return nullptr;
  }
  if (!pSource->contains(nPos)) return nullptr;
  return CTagType::getTagAt(pSource, nPos, false);
}

CTag* CTag::findPreviousOrNextTag(CSource* pSource, HXPos nPos, bool bPrevious) {
  if (pSource == nullptr) {
    DebugLog("[CTag::findPreviousOrNextTag] pSource is 0. nPos <%d>.", LogPos(nPos));
    return nullptr;
  }
  if (pSource->useAllTypesCache()) return pSource->getCache().findPreviousOrNextTag(nPos, nullptr, bPrevious);
  return findPreviousOrNextTagUncached(pSource, nPos, bPrevious, HX_NPOS);
}

CTag* CTag::findPreviousOrNextTag(CSource* pSource, HXPos nPos, CTagType* pTagType, bool bPrevious) {
  if (pSource == nullptr) {
    DebugLog("[CTag::findPreviousOrNextTag] pSource is 0. nPos <%d>.", LogPos(nPos));
    return nullptr;
  }
  if (pSource->useSpecialTypesCache()) return pSource->getCache().findPreviousOrNextTag(nPos, pTagType, bPrevious);
  if (pTagType == nullptr) return findPreviousOrNextTagUncached(pSource, nPos, bPrevious, HX_NPOS);
  return findPreviousOrNextTagUncached(pSource, nPos, pTagType, bPrevious, HX_NPOS);
}

namespace {

// The tag at a candidate position as the uncached searches see it.
inline CTag* CandidateTagAt(CSource* pSource, HXPos nPos) {
  if (pSource->useAllTypesCache()) return pSource->getCache().getTagAt(nPos);
  return CTagType::getTagAt(pSource, nPos, false);
}

// Bounds of a forward search from nPos: [from, to).
inline void ForwardBounds(const CSource* pSource, HXPos nPos, HXPos nBreakAtPos, HXPos& nFrom, HXPos& nTo) {
  nFrom = std::max(nPos, pSource->getBegin());
  nTo = (nBreakAtPos == HX_NPOS) ? pSource->getEnd() : std::min(nBreakAtPos, pSource->getEnd());
}

// Lowest position a backward search may reach; HX_NPOS when the bound leaves
// nothing to search.
inline HXPos BackwardLow(const CSource* pSource, HXPos nPos, HXPos nBreakAtPos) {
  if (nBreakAtPos != HX_NPOS && nBreakAtPos >= pSource->getBegin()) {
    if (nBreakAtPos >= nPos) return HX_NPOS;
    return nBreakAtPos + 1;
  }
  return pSource->getBegin();
}

}  // namespace

CTag* CTag::findPreviousOrNextTagUncached(CSource* pSource, HXPos nPos, bool bPrevious, HXPos nBreakAtPos) {
  if (pSource == nullptr) {
    DebugLog("[CTag::findPreviousOrNextTagUncached] pSource is 0. nPos <%d>.", LogPos(nPos));
    return nullptr;
  }
  const char* pBuffer = pSource->getBuffer();
  if (!bPrevious) {
    HXPos nFrom, nTo;
    ForwardBounds(pSource, nPos, nBreakAtPos, nFrom, nTo);
    while (nFrom < nTo) {
      const HXPos nHit = findCharNoCase(pBuffer, '<', nFrom, nTo - nFrom);
      if (nHit == HX_NPOS) return nullptr;
      CTag* pTag = CandidateTagAt(pSource, nHit);
      if (pTag != nullptr && !pTag->isUnregistered()) return pTag;
      nFrom = nHit + 1;
    }
    return nullptr;
  }
  if (pSource->getEnd() <= pSource->getBegin()) return nullptr;
  HXPos p = std::min(nPos, pSource->getEnd() - 1);
  const HXPos nLow = BackwardLow(pSource, p, nBreakAtPos);
  if (nLow == HX_NPOS) return nullptr;
  while (p >= nLow && p != HX_NPOS) {
    const HXPos nHit = findPreviousCharNoCase(pBuffer, '<', p, p - nLow + 1);
    if (nHit == HX_NPOS) return nullptr;
    CTag* pTag = CandidateTagAt(pSource, nHit);
    if (pTag != nullptr && !pTag->isUnregistered()) return pTag;
    if (nHit <= pSource->getBegin()) return nullptr;
    p = nHit - 1;
  }
  return nullptr;
}

CTag* CTag::findPreviousOrNextTagUncached(CSource* pSource, HXPos nPos, CTagType* pTagType, bool bPrevious,
                                          HXPos nBreakAtPos) {
  if (pSource == nullptr) {
    DebugLog("[CTag::findPreviousOrNextTagUncached] pSource is 0. nPos <%d>.", LogPos(nPos));
    return nullptr;
  }
  if (pTagType == nullptr) return findPreviousOrNextTagUncached(pSource, nPos, bPrevious, nBreakAtPos);
  const char* pBuffer = pSource->getBuffer();
  const char* pDelimiter = pTagType->getStartDelimiter().c_str();
  if (!bPrevious) {
    HXPos nFrom, nTo;
    ForwardBounds(pSource, nPos, nBreakAtPos, nFrom, nTo);
    while (nFrom < nTo) {
      const HXPos nHit = findNoCase(pBuffer, pDelimiter, nFrom, nTo - nFrom);
      if (nHit == HX_NPOS) return nullptr;
      CTag* pTag = CandidateTagAt(pSource, nHit);
      if (pTag != nullptr && pTag->getTagType() == pTagType) return pTag;
      nFrom = nHit + 1;
    }
    return nullptr;
  }
  if (pSource->getEnd() <= pSource->getBegin()) return nullptr;
  HXPos p = std::min(nPos, pSource->getEnd() - 1);
  if (BackwardLow(pSource, p, nBreakAtPos) == HX_NPOS) return nullptr;
  for (;;) {
    const HXPos nHit = pSource->findPreviousNoCase(pDelimiter, p, nBreakAtPos);
    if (nHit == HX_NPOS) return nullptr;
    CTag* pTag = CandidateTagAt(pSource, nHit);
    if (pTag != nullptr && pTag->getTagType() == pTagType) return pTag;
    if (nHit <= pSource->getBegin()) return nullptr;
    p = nHit - 1;
    if (nBreakAtPos != HX_NPOS && nBreakAtPos >= pSource->getBegin() && nBreakAtPos >= p) return nullptr;
  }
}

CTag* CTag::parseAllFindNextTag(CSource* pSource, HXPos nPos, bool bAssumeNoNestedTags) {
  if (pSource == nullptr) {
    DebugLog("[CTag::parseAllFindNextTag] pSource is 0. nPos <%d>.", LogPos(nPos));
    return nullptr;
  }
  const char* pBuffer = pSource->getBuffer();
  const HXPos nEnd = pSource->getEnd();
  HXPos p = std::max(nPos, pSource->getBegin());
  CTag* pTag = nullptr;
  while (p < nEnd) {
    const HXPos nHit = findCharNoCase(pBuffer, '<', p, nEnd - p);
    if (nHit == HX_NPOS) return nullptr;
    pTag = CTagType::getTagAt(pSource, nHit, bAssumeNoNestedTags);
    if (pTag != nullptr) break;
    p = nHit + 1;
  }
  if (pTag == nullptr) return nullptr;
  if (!bAssumeNoNestedTags) {
    const HXPos nFullParseEnd = pSource->getFullParseEndPos();
    if (nFullParseEnd == HX_NPOS || nFullParseEnd < pTag->getEnd()) {
      CTagType* pType = pTag->getTagType();
      CStartTagTypeSingletonData* pStart = CStartTagTypeSingletonData::getInstance();
      if (!pType->isServerTag() && pType != pStart->m_pDoctypeDeclaration && pType != pStart->m_pUnregistered &&
          pType != CEndTagTypeSingletonData::getInstance()->m_pUnregistered) {
        pSource->setFullParseEndPos(pTag->getEnd());
      }
    }
  }
  return pTag;
}

void CTag::parseAll(CSource* pSource, bool bAssumeNoNestedTags) {
  if (pSource == nullptr) {
    DebugLog("[CTag::parseAll] pSource is 0.");
    return;
  }
  std::vector<CTag*> vecTags;
  size_t nRegistered = 0;
  if (pSource->getEnd() > pSource->getBegin()) {
    vecTags.reserve(static_cast<size_t>((pSource->getEnd() - pSource->getBegin()) / 32) + 16);
    CTag* pTag = parseAllFindNextTag(pSource, pSource->getBegin(), bAssumeNoNestedTags);
    while (pTag != nullptr) {
      vecTags.push_back(pTag);
      const bool bUnregistered = pTag->isUnregistered();
      if (!bUnregistered) ++nRegistered;
      const HXPos nNext = (bAssumeNoNestedTags && !bUnregistered) ? pTag->getEnd() : pTag->getBegin() + 1;
      if (nNext >= pSource->getEnd()) break;
      pTag = parseAllFindNextTag(pSource, nNext, bAssumeNoNestedTags);
    }
  }
  pSource->fillFullParseLists(vecTags, nRegistered);
}
