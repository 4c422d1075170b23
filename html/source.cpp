#include "html/source.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "common/debug_log.h"
#include "html/case_insensitive_search.h"
#include "html/cut_tag.h"
#include "html/element.h"
#include "html/tag.h"
#include "html/tag_type_register.h"
#include "html/tag_types.h"

CSource::CSource(const char* pBuffer, HXPos nHtmlDataBeginPos, HXPos nDataLength)
    : CSegment(this, nHtmlDataBeginPos, nDataLength),
      m_pBuffer(pBuffer),
      m_cache(this),
      m_nOpaqueScanPos(nHtmlDataBeginPos) {
  m_vecAllTags.reserve(128);
}

bool CSource::checkConstructorArgs(HXPos nHtmlDataBeginPos, HXPos nDataLength) {
  if (CSegment::checkConstructorArgs(nHtmlDataBeginPos, nDataLength)) return true;
  DebugLog("[CSource::checkConstructorArgs] CSegment::checkConstructorArgs() failed. nHtmlDataBeginPos <%d> "
           "nDataLength <%d>",
           LogPos(nHtmlDataBeginPos), LogPos(nDataLength));
  return false;
}

CSource* CSource::CREATE_NEW_INST(const char* pBuffer, HXPos nHtmlDataBeginPos, HXPos nDataLength) {
  if (!checkConstructorArgs(nHtmlDataBeginPos, nDataLength)) {
    DebugLog("[CSource::CREATE_NEW_INT] checkConstructorArgs() failed. nHtmlDataBeginPos <%d> nDataLength <%d>.",
             LogPos(nHtmlDataBeginPos), LogPos(nDataLength));
    return nullptr;
  }
  try {
    return new CSource(pBuffer, nHtmlDataBeginPos, nDataLength);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

CSource::~CSource() {
  // Segments may refer to each other; none of their destructors does, so the
  // order only has to match creation. Segments whose destructors have
  // nothing to free were never listed: their memory goes with the arena.
  for (CSegmentBlock* pBlock = m_pFirstSegmentBlock; pBlock != nullptr; pBlock = pBlock->pNext) {
    for (size_t i = 0; i < pBlock->nCount; ++i) pBlock->apSegments[i]->~CSegment();
  }
  m_pFirstSegmentBlock = m_pLastSegmentBlock = nullptr;
  m_nSegmentCount = 0;
  m_vecAllTags.clear();
  // The source's own child list lives in its arena too.
  if (m_pChildElements != nullptr) {
    m_pChildElements->~vector();
    m_pChildElements = nullptr;
  }
  for (auto& [pSegment, pList] : m_mapOtherChildLists) {
    if (pList != nullptr) pList->~vector();
  }
  m_mapOtherChildLists.clear();
  for (void* pBlock : m_vecArenaBlocks) ::operator delete(pBlock);
}

void CSource::addSegment(CSegment* pSegment) {
  if (m_pLastSegmentBlock == nullptr || m_pLastSegmentBlock->nCount == CSegmentBlock::kSize) {
    void* p = allocate(sizeof(CSegmentBlock));
    if (p == nullptr) throw std::bad_alloc();
    auto* pBlock = static_cast<CSegmentBlock*>(p);
    pBlock->pNext = nullptr;
    pBlock->nCount = 0;
    if (m_pLastSegmentBlock != nullptr) {
      m_pLastSegmentBlock->pNext = pBlock;
    } else {
      m_pFirstSegmentBlock = pBlock;
    }
    m_pLastSegmentBlock = pBlock;
  }
  m_pLastSegmentBlock->apSegments[m_pLastSegmentBlock->nCount++] = pSegment;
}

void* CSource::allocate(size_t nSize) noexcept {
  // Parser objects hold pointers and positions, nothing more aligned.
  constexpr size_t kAlign = alignof(void*);
  nSize = (nSize + kAlign - 1) & ~(kAlign - 1);
  if (nSize > m_nArenaLeft) {
    // Blocks grow with the page from 4 KiB to 64 KiB, doubling every second
    // block: a small page leaves at most a third of its blocks unused, and
    // no block reaches the allocator's threshold for fresh mappings (whose
    // pages fault in anew).
    size_t nBlock = size_t{4096} << std::min<size_t>(m_vecArenaBlocks.size() / 2, 4);
    if (nBlock < nSize) nBlock = nSize;
    void* pBlock = ::operator new(nBlock, std::nothrow);
    if (pBlock == nullptr) return nullptr;
    try {
      m_vecArenaBlocks.push_back(pBlock);
    } catch (...) {
      ::operator delete(pBlock);
      return nullptr;
    }
    m_pArenaNext = static_cast<char*>(pBlock);
    m_nArenaLeft = nBlock;
  }
  void* p = m_pArenaNext;
  m_pArenaNext += nSize;
  m_nArenaLeft -= nSize;
  return p;
}

std::string CSource::substring(HXPos nPos, HXPos nCount) const {
  if (nPos < m_nBegin || nPos >= m_nEnd) {
    DebugLog("[CSource::substring] Invalid nPos <%d> value. nBegin <%d> nEnd <%d>. ", LogPos(nPos),
             LogPos(m_nBegin), LogPos(m_nEnd));
    return std::string();
  }
  const HXPos nAvailable = m_nEnd - nPos;
  return std::string(m_pBuffer + nPos, std::min(nCount, nAvailable));
}

void CSource::substring(HXPos nPos, HXPos nCount, ci_string& csOut) const {
  if (nPos < m_nBegin || nPos >= m_nEnd) {
    DebugLog("[CSource::substring] Invalid nPos <%d> value. nBegin <%d> nEnd <%d>. ", LogPos(nPos),
             LogPos(m_nBegin), LogPos(m_nEnd));
    csOut.clear();
    return;
  }
  const HXPos nAvailable = m_nEnd - nPos;
  csOut.assign(m_pBuffer + nPos, std::min(nCount, nAvailable));
}

HXPos CSource::getNameEnd(HXPos nPos) const {
  if (!contains(nPos) || !HtmlScan::IsNameStart(byteAt(nPos))) return HX_NPOS;
  HXPos p = nPos + 1;
  while (p < m_nEnd && HtmlScan::IsNameChar(byteAt(p))) ++p;
  return p;
}

HXPos CSource::findNoCaseFrom(const ci_string& csPattern, HXPos nPos, bool bPrevious, HXPos nLimit) const {
  if (bPrevious) return findPreviousNoCase(csPattern.c_str(), nPos, HX_NPOS);
  const HXPos nFrom = std::max(nPos, getBegin());
  if (nFrom >= getEnd()) return HX_NPOS;
  if (nLimit == HX_NPOS) return findNoCase(getBuffer(), csPattern.c_str(), nFrom, getEnd() - nFrom);
  if (nFrom >= nLimit) return HX_NPOS;
  const HXPos nCount = std::min<HXPos>(nLimit - nFrom + csPattern.size() - 1, getEnd() - nFrom);
  return findNoCase(getBuffer(), csPattern.c_str(), nFrom, nCount);
}

HXPos CSource::findClosingDelimiter(const char* pDelimiter, HXPos nPos) {
  const HXPos nFrom = std::max(nPos, m_nBegin);
  if (nFrom >= m_nEnd) return HX_NPOS;
  CClosingSearch* pMemo = nullptr;
  for (CClosingSearch& memo : m_vecClosingSearches) {
    if (memo.pLastAsked == pDelimiter) {
      pMemo = &memo;
      break;
    }
  }
  if (pMemo == nullptr) {
    for (CClosingSearch& memo : m_vecClosingSearches) {
      if (memo.sDelimiter == pDelimiter) {
        pMemo = &memo;
        break;
      }
    }
  }
  if (pMemo == nullptr) {
    m_vecClosingSearches.push_back(CClosingSearch{pDelimiter});
    pMemo = &m_vecClosingSearches.back();
  }
  pMemo->pLastAsked = pDelimiter;
  if (nFrom >= pMemo->nNoneFrom) return HX_NPOS;
  if (pMemo->nHit != HX_NPOS && nFrom >= pMemo->nFrom && nFrom <= pMemo->nHit) return pMemo->nHit;
  // A search that reaches a known stretch ends there: nothing lies between.
  const size_t nLen = pMemo->sDelimiter.size();
  HXPos nLimit = m_nEnd;
  HXPos nKnown = HX_NPOS;
  if (pMemo->nHit != HX_NPOS && nFrom < pMemo->nFrom) {
    nLimit = pMemo->nFrom;
    nKnown = pMemo->nHit;
  } else if (pMemo->nNoneFrom != HX_NPOS) {
    nLimit = pMemo->nNoneFrom;
  }
  const HXPos nCount = std::min<HXPos>(nLimit - nFrom + (nLen > 0 ? nLen - 1 : 0), m_nEnd - nFrom);
  HXPos nHit = findNoCase(m_pBuffer, pDelimiter, nFrom, nCount);
  if (nHit == HX_NPOS) nHit = nKnown;
  if (nHit == HX_NPOS) {
    pMemo->nNoneFrom = nFrom;
  } else if (nHit == pMemo->nHit) {
    pMemo->nFrom = std::min(pMemo->nFrom, nFrom);
  } else {
    pMemo->nFrom = nFrom;
    pMemo->nHit = nHit;
  }
  return nHit;
}

HXPos CSource::findPreviousNoCase(const char* pPattern, HXPos nPos, HXPos nLimit) const {
  if (nPos < m_nBegin) return HX_NPOS;
  const bool bLimited = nLimit != HX_NPOS && nLimit >= m_nBegin;
  if (bLimited && nLimit >= nPos) return HX_NPOS;
  HXPos nCount = bLimited ? nPos - nLimit : nPos - m_nBegin + 1;
  // The first candidate may lie below nPos (a pattern cannot start closer to
  // the end than its length); candidates never reach the limit nor go below
  // the source's begin.
  const size_t nLen = pPattern != nullptr ? std::strlen(pPattern) : 0;
  if (nLen > 0 && nLen <= m_nEnd) {
    const HXPos nFirst = std::min(nPos, m_nEnd - nLen);
    const HXPos nLowest = bLimited ? nLimit + 1 : m_nBegin;
    if (nFirst < nLowest) return HX_NPOS;
    nCount = std::min(nCount, nFirst - nLowest + 1);
  }
  return findLastNoCase(m_pBuffer, pPattern, nPos, m_nEnd, nCount);
}

CTag* CSource::getTagAt(HXPos nPos) { return CTag::getTagAt(this, nPos); }

CStartTag* CSource::findPreviousStartTag(HXPos nPos) { return CStartTag::findPreviousOrNext(this, nPos, true); }

CStartTag* CSource::findNextStartTag(HXPos nPos) { return CStartTag::findPreviousOrNext(this, nPos, false); }

CStartTag* CSource::findNextStartTag(HXPos nPos, const ci_string& csName, HXPos nLimit) {
  return CStartTag::findPreviousOrNext(this, nPos, csName, CStartTag::isXMLName(csName), false, nLimit);
}

CStartTag* CSource::findNextStartTag(HXPos nPos, const ci_string& csAttributeName, const ci_string& csValue,
                                     bool bValueCaseSensitive, HXPos nLimit) {
  return CStartTag::findNext(this, nPos, csAttributeName, csValue, bValueCaseSensitive, nLimit);
}

CEndTag* CSource::findNextEndTag(HXPos nPos, const ci_string& csName, CEndTagType* pEndTagType) {
  return CEndTag::findPreviousOrNext(this, nPos, csName, pEndTagType, false);
}

CTag* CSource::findEnclosingTag(HXPos nPos, CTagType* pTagType) {
  CTag* pTag = CTag::findPreviousOrNextTag(this, nPos, pTagType, true);
  if (pTag != nullptr && pTag->getEnd() > nPos) return pTag;
  return nullptr;
}

CElement* CSource::getElementById(const ci_string& csId) {
  // Only the first start tag with the id counts: when its element cannot be
  // made, a later tag with the same id is another element, not this one.
  CStartTag* pStartTag = CStartTag::findNext(this, m_nBegin, ci_string("id"), csId, true);
  return pStartTag != nullptr ? pStartTag->getElement() : nullptr;
}

CElement* CSource::getEnclosingElement(HXPos nPos) {
  HXPos p = nPos;
  for (;;) {
    CStartTag* pStartTag = findPreviousStartTag(p);
    if (pStartTag == nullptr) return nullptr;
    CElement* pElement = pStartTag->getElement();
    if (pElement != nullptr && pElement->getEnd() > nPos) return pElement;
    // The walk ends at the source's begin; stepping below it must not wrap
    // into a search from the end of the page.
    if (pStartTag->getBegin() <= m_nBegin) return nullptr;
    p = pStartTag->getBegin() - 1;
  }
}

const std::vector<CTag*>& CSource::fullSequentialParse() {
  if (m_bFullSequentialParseDone) return m_vecAllTags;
  if (m_cache.size() > 2) m_cache.clear();
  const bool bUseAllTypesCache = m_bUseAllTypesCache;
  m_bUseAllTypesCache = false;
  m_bUseSpecialTypesCache = false;
  CTag::parseAll(this, false);
  m_bUseAllTypesCache = bUseAllTypesCache;
  m_bUseSpecialTypesCache = true;
  m_nFullParseEndPos = HX_NPOS;
  m_bFullSequentialParseDone = true;
  return m_vecAllTags;
}

const CDeclarationScan& CSource::declarationScan() {
  if (m_pDeclarationScan == nullptr) m_pDeclarationScan = std::make_unique<CDeclarationScan>(m_pBuffer, m_nBegin, m_nEnd);
  return *m_pDeclarationScan;
}

const std::vector<int32_t>& CSource::orderedTagCodes() {
  if (m_vecOrderedTagCodes.size() != m_vecAllTags.size()) {
    m_vecOrderedTagCodes.clear();
    m_vecOrderedTagCodes.reserve(m_vecAllTags.size());
    for (const CTag* pTag : m_vecAllTags) {
      m_vecOrderedTagCodes.push_back(static_cast<int32_t>(pTag->getElementIndex() * 2 + (pTag->isStartTag() ? 1 : 0)));
    }
  }
  return m_vecOrderedTagCodes;
}

const CParseIndex* CSource::parseIndex() {
  if (!m_bFullSequentialParseDone || !m_bUseAllTypesCache || !m_cache.getAllTypesSubCache()->isLoaded()) {
    return nullptr;
  }
  if (m_pParseIndex == nullptr) m_pParseIndex = std::make_unique<CParseIndex>(m_vecAllTags);
  return m_pParseIndex.get();
}

void CSource::fillFullParseLists(const std::vector<CTag*>& vecTags, size_t nRegisteredCount) {
  m_pParseIndex.reset();
  m_vecOrderedTagCodes.clear();
  m_vecAllTags.clear();
  m_vecAllTags.reserve(nRegisteredCount);
  CStartTagTypeSingletonData* pStartTypes = CStartTagTypeSingletonData::getInstance();
  std::vector<CTag*> vecOpaque;
  for (CTag* pTag : vecTags) {
    if (pTag == nullptr || pTag->getSource() != this || pTag->isUnregistered()) continue;
    m_vecAllTags.push_back(pTag);
    CTagType* pType = pTag->getTagType();
    if (pType == pStartTypes->m_pComment || pType == pStartTypes->m_pCDATASection) vecOpaque.push_back(pTag);
  }
  m_cache.loadAllTags(vecTags);
  // The full parse has classified every comment and CDATA section of the page.
  m_vecOpaqueTags.swap(vecOpaque);
  m_nOpaqueScanPos = m_nEnd;
}

HXPos CSource::cutTagBegin() {
  if (!m_bCutTagKnown) {
    m_nCutTagBegin = FindCutTagBegin(*this);
    m_bCutTagKnown = true;
  }
  return m_nCutTagBegin;
}

bool CSource::isInsideOpaqueTag(HXPos nPos) {
  if (nPos <= m_nBegin || nPos > m_nEnd) return false;
  CStartTagTypeSingletonData* pStartTypes = CStartTagTypeSingletonData::getInstance();
  // Classify every comment or CDATA delimiter that begins before nPos. A
  // delimiter outside the comments and sections already found begins one
  // when its type can build the tag there.
  while (m_nOpaqueScanPos < nPos && m_nOpaqueScanPos < m_nEnd) {
    const HXPos nFrom = m_nOpaqueScanPos;
    HXPos nHit = findCharNoCase(m_pBuffer, '<', nFrom, m_nEnd - nFrom);
    CStartTagType* pType = nullptr;
    while (nHit != HX_NPOS && nHit < nPos) {
      // The register compares the delimiter bytes exactly.
      if (m_nEnd - nHit >= 4 && std::memcmp(m_pBuffer + nHit, "<!--", 4) == 0) {
        pType = pStartTypes->m_pComment;
        break;
      }
      if (m_nEnd - nHit >= 9 && std::memcmp(m_pBuffer + nHit, "<![cdata[", 9) == 0) {
        pType = pStartTypes->m_pCDATASection;
        break;
      }
      nHit = (nHit + 1 < m_nEnd) ? findCharNoCase(m_pBuffer, '<', nHit + 1, m_nEnd - nHit - 1) : HX_NPOS;
    }
    if (pType == nullptr) {
      // Nothing opens before nPos; resume later from the first unclassified '<'.
      m_nOpaqueScanPos = (nHit == HX_NPOS) ? m_nEnd : nHit;
      break;
    }
    // Mark the walk as past nHit first: the tag lookup there asks this
    // function about nHit again, which must be answered from what is known.
    m_nOpaqueScanPos = nHit;
    CTag* pTag = CTag::getTagAt(this, nHit);
    if (pTag != nullptr && pTag->getTagType() == pType) {
      m_vecOpaqueTags.push_back(pTag);
      m_nOpaqueScanPos = pTag->getEnd();
    } else {
      m_nOpaqueScanPos = nHit + 1;
    }
  }
  // Only the last comment or section beginning before nPos can enclose it:
  // the ones found never overlap.
  auto it = std::upper_bound(m_vecOpaqueTags.begin(), m_vecOpaqueTags.end(), nPos - 1,
                             [](HXPos n, const CTag* pTag) { return n < pTag->getBegin(); });
  if (it == m_vecOpaqueTags.begin()) return false;
  return (*(it - 1))->getEnd() > nPos;
}
