#include "html/position_cache.h"

#include <algorithm>
#include <cstdint>

#include "common/debug_log.h"
#include "html/source.h"
#include "html/tag.h"
#include "html/tag_type_register.h"
#include "html/tag_types.h"

namespace {

// Positions in cache order: the first sentinel of a source that begins at 0
// has all bits set and must compare below every other position.
inline HXPos Key(HXPos nPos) { return nPos + 1; }
inline bool Before(HXPos a, HXPos b) { return Key(a) < Key(b); }

inline bool IsRegisteredTag(const CTag* pTag) { return pTag != nullptr && !pTag->isUnregistered(); }

constexpr size_t kNoMark = SIZE_MAX;

}  // namespace

// ---------------------------------------------------------------------------
// CSubCache

CSubCache::CSubCache(CCache* pCache, CTagType* pTagType)
    : m_pCache(pCache), m_pTagType(pTagType), m_vecEntries(64, nullptr), m_nLowestMarked(kNoMark) {
  makeSentinels();
}

CSubCache::~CSubCache() { deleteEntries(); }

void CSubCache::deleteEntries() {
  for (CCacheEntry*& pEntry : m_vecEntries) {
    delete pEntry;
    pEntry = nullptr;
  }
}

void CSubCache::makeSentinels() {
  const CSource* pSource = m_pCache->getSource();
  if (m_vecEntries.size() < 2) m_vecEntries.resize(64, nullptr);
  m_vecEntries[0] = new CCacheEntry{0, pSource->getBegin() - 1, nullptr};
  m_vecEntries[1] = new CCacheEntry{1, pSource->getEnd(), nullptr};
  m_nLastIndex = 1;
  m_nLowestMarked = kNoMark;
}

void CSubCache::clear() {
  deleteEntries();
  makeSentinels();
}

size_t CSubCache::findEntryIndex(HXPos nPos) const {
  size_t nLow = 0;
  size_t nHigh = static_cast<size_t>(m_nLastIndex) + 1;
  while (nLow < nHigh) {
    const size_t nMid = nLow + (nHigh - nLow) / 2;
    if (Before(m_vecEntries[nMid]->nPos, nPos)) {
      nLow = nMid + 1;
    } else {
      nHigh = nMid;
    }
  }
  return std::min(nLow, static_cast<size_t>(m_nLastIndex));
}

void CSubCache::insertAt(size_t nIndex, CCacheEntry* pEntry) {
  if (m_nLastIndex + 1 >= m_vecEntries.size()) m_vecEntries.resize(m_vecEntries.size() * 2, nullptr);
  for (size_t i = static_cast<size_t>(m_nLastIndex) + 1; i > nIndex; --i) {
    m_vecEntries[i] = m_vecEntries[i - 1];
    m_vecEntries[i]->nIndex = i;
  }
  pEntry->nIndex = nIndex;
  m_vecEntries[nIndex] = pEntry;
  ++m_nLastIndex;
  if (m_nLowestMarked != kNoMark && m_nLowestMarked >= nIndex) ++m_nLowestMarked;
}

void CSubCache::add(HXPos nPos, CTag* pTag) {
  const CSource* pSource = m_pCache->getSource();
  if (!pSource->contains(nPos)) return;
  const size_t i = findEntryIndex(nPos);
  CCacheEntry* pNext = m_vecEntries[i];
  if (pNext->nPos == nPos) {
    // Already remembered: only a tag found since is worth keeping.
    if (pTag != nullptr) pNext->pTag = pTag;
    return;
  }
  CCacheEntry* pPrevious = m_vecEntries[i - 1];
  const bool bPrev = nPos == pPrevious->nPos + 1;
  const bool bNext = nPos + 1 == pNext->nPos;
  if (pTag == nullptr && bPrev && bNext) return;
  auto* pEntry = new CCacheEntry{i, nPos, pTag, bPrev, bNext};
  insertAt(i, pEntry);
  // Neighbours that now carry nothing are only marked: a search in progress
  // may hold them; the next recording compacts them away.
  auto markIfRedundant = [this](CCacheEntry* p) {
    if (p->pTag == nullptr && p->bPreviousCompleted && p->bNextCompleted && p->nIndex != 0 &&
        p->nIndex != m_nLastIndex && !p->bMarkedForRemoval) {
      p->bMarkedForRemoval = true;
      m_nLowestMarked = std::min<size_t>(m_nLowestMarked, static_cast<size_t>(p->nIndex));
    }
  };
  if (bPrev) {
    pPrevious->bNextCompleted = true;
    markIfRedundant(pPrevious);
  }
  if (bNext) {
    pNext->bPreviousCompleted = true;
    markIfRedundant(pNext);
  }
}

void CSubCache::compact() {
  if (m_nLowestMarked == kNoMark) return;
  size_t nOut = m_nLowestMarked;
  const size_t nLast = static_cast<size_t>(m_nLastIndex);
  for (size_t i = m_nLowestMarked; i <= nLast; ++i) {
    CCacheEntry* pEntry = m_vecEntries[i];
    m_vecEntries[i] = nullptr;
    if (pEntry == nullptr) continue;
    if (pEntry->bMarkedForRemoval) {
      delete pEntry;
      continue;
    }
    pEntry->nIndex = nOut;
    m_vecEntries[nOut++] = pEntry;
  }
  m_nLastIndex = nOut - 1;
  m_nLowestMarked = kNoMark;
}

CTag* CSubCache::getTagAt(HXPos nPos) {
  if (!m_pCache->getSource()->contains(nPos)) return nullptr;
  const CCacheEntry* pEntry = m_vecEntries[findEntryIndex(nPos)];
  if (pEntry->nPos == nPos) return pEntry->pTag;
  if (pEntry->bPreviousCompleted) return nullptr;
  return m_pCache->cacheTagAt(nPos);
}

CTag* CSubCache::uncachedSearch(HXPos p, bool bPrevious, HXPos nBreakAtPos) {
  CSource* pSource = m_pCache->getSource();
  if (m_pTagType == nullptr) return CTag::findPreviousOrNextTagUncached(pSource, p, bPrevious, nBreakAtPos);
  return CTag::findPreviousOrNextTagUncached(pSource, p, m_pTagType, bPrevious, nBreakAtPos);
}

CTag* CSubCache::searchForwards(CCacheEntry* a, CCacheEntry* b, HXPos p) {
  const CSource* pSource = m_pCache->getSource();
  for (;;) {
    if (!a->bNextCompleted) {
      CTag* pTag = uncachedSearch(p, false, b->nPos);
      if (pTag != nullptr) return pTag;
    }
    if (b == lastSentinel()) return nullptr;
    if (IsRegisteredTag(b->pTag)) return b->pTag;
    p = b->nPos + 1;
    if (p >= pSource->getEnd()) return nullptr;
    a = b;
    // Entries may have moved while the uncached search added to the cache.
    b = (a->nIndex < m_nLastIndex) ? m_vecEntries[a->nIndex + 1] : nullptr;
    if (b == nullptr) return nullptr;
  }
}

CTag* CSubCache::searchBackwards(CCacheEntry* a, CCacheEntry* b, HXPos p) {
  const CSource* pSource = m_pCache->getSource();
  for (;;) {
    if (!b->bPreviousCompleted) {
      CTag* pTag = uncachedSearch(p, true, a->nPos);
      if (pTag != nullptr) return pTag;
    }
    if (a == firstSentinel()) return nullptr;
    if (IsRegisteredTag(a->pTag)) return a->pTag;
    if (a->nPos <= pSource->getBegin()) return nullptr;
    p = a->nPos - 1;
    b = a;
    a = (b->nIndex > 0) ? m_vecEntries[b->nIndex - 1] : nullptr;
    if (a == nullptr) return nullptr;
  }
}

CTag* CSubCache::findPreviousOrNextTag(HXPos nPos, bool bPrevious) {
  const CSource* pSource = m_pCache->getSource();
  if (pSource->getEnd() <= pSource->getBegin()) return nullptr;
  if (bPrevious && nPos >= pSource->getEnd()) nPos = pSource->getEnd() - 1;
  if (!bPrevious && nPos < pSource->getBegin()) nPos = pSource->getBegin();
  if (!pSource->contains(nPos)) return nullptr;

  const size_t i = findEntryIndex(nPos);
  CCacheEntry* e = m_vecEntries[i];
  CTag* pTag;
  if (e->nPos == nPos && IsRegisteredTag(e->pTag)) return e->pTag;
  if (bPrevious) {
    pTag = searchBackwards(m_vecEntries[i - 1], e, nPos);
  } else if (e->nPos == nPos) {
    pTag = searchForwards(e, m_vecEntries[i + 1], nPos);
  } else {
    pTag = searchForwards(m_vecEntries[i - 1], e, nPos);
  }
  // With the all-types flag off the tag-at lookups of the uncached search
  // have not remembered the tag found; do it here.
  if (pTag != nullptr && !pSource->useAllTypesCache()) add(pTag->getBegin(), pTag);

  const bool bRecorded = bPrevious ? addPreviousTag(nPos, pTag) : addNextTag(nPos, pTag);
  if (!bRecorded) {
    DebugLog(bPrevious ? "[CSubCache::findPreviousOrNextTag] addPreviousTag() failed. nPos <%d>. Clear cache and "
                         "resume."
                       : "[CSubCache::findPreviousOrNextTag] addNextTag() failed. nPos <%d>. Clear cache and resume.",
             LogPos(nPos));
    clear();
    if (pTag != nullptr) add(pTag->getBegin(), pTag);
    const bool bAgain = bPrevious ? addPreviousTag(nPos, pTag) : addNextTag(nPos, pTag);
    if (!bAgain) {
      DebugLog(bPrevious ? "[CSubCache::findPreviousOrNextTag] addPreviousTag() failed. nPos <%d>."
                         : "[CSubCache::findPreviousOrNextTag] addNextTag() failed. nPos <%d>.",
               LogPos(nPos));
      clear();
    }
  }
  return pTag;
}

bool CSubCache::addNextTag(HXPos nPos, CTag* pTag) {
  const HXPos nFound = pTag != nullptr ? pTag->getBegin() : lastSentinel()->nPos;
  if (nFound == nPos) return true;
  size_t i = findEntryIndex(nPos);
  CCacheEntry* e = m_vecEntries[i];
  if (e->nPos != nPos && !m_vecEntries[i - 1]->bNextCompleted) {
    if (m_pTagType == nullptr) {
      m_pCache->cacheTagAt(nPos);
    } else {
      add(nPos, nullptr);
    }
    i = findEntryIndex(nPos);
    e = m_vecEntries[i];
  }
  if (e->nPos == nPos) {
    e->bNextCompleted = true;
    if (e->pTag == nullptr && e->bPreviousCompleted && i != 0 && i != m_nLastIndex) {
      e->bMarkedForRemoval = true;
      m_nLowestMarked = std::min(m_nLowestMarked, i);
    }
  }
  if (!Before(e->nPos, nFound)) {
    e->bPreviousCompleted = true;
    compact();
    return true;
  }
  size_t j = i + 1;
  for (; j <= m_nLastIndex && Before(m_vecEntries[j]->nPos, nFound); ++j) {
    CCacheEntry* pEntry = m_vecEntries[j];
    if (pEntry->pTag != nullptr && pEntry->pTag->isUnregistered()) {
      pEntry->bPreviousCompleted = true;
      pEntry->bNextCompleted = true;
    } else if (pEntry->pTag != nullptr) {
      DebugLog("[CSubCache::addNextTag] INTERNAL ERROR: Cache entry no longer found in source.");
      return false;
    } else {
      pEntry->bMarkedForRemoval = true;
      m_nLowestMarked = std::min(m_nLowestMarked, j);
    }
  }
  if (j > m_nLastIndex || m_vecEntries[j]->nPos != nFound) {
    DebugLog("[CSubCache::addNextTag] INTERNAL ERROR: Missing cache entry for found tag.");
    return false;
  }
  m_vecEntries[j]->bPreviousCompleted = true;
  compact();
  return true;
}

bool CSubCache::addPreviousTag(HXPos nPos, CTag* pTag) {
  const HXPos nFound = pTag != nullptr ? pTag->getBegin() : firstSentinel()->nPos;
  if (nFound == nPos) return true;
  size_t i = findEntryIndex(nPos);
  CCacheEntry* e = m_vecEntries[i];
  if (e->nPos != nPos && !e->bPreviousCompleted) {
    if (m_pTagType == nullptr) {
      m_pCache->cacheTagAt(nPos);
    } else {
      add(nPos, nullptr);
    }
    i = findEntryIndex(nPos);
    e = m_vecEntries[i];
  }
  if (e->nPos == nPos) {
    e->bPreviousCompleted = true;
    if (e->pTag == nullptr && e->bNextCompleted && i != 0 && i != m_nLastIndex) {
      e->bMarkedForRemoval = true;
      m_nLowestMarked = std::min(m_nLowestMarked, i);
    }
  }
  // Walk back from the entry before e down to the one at the tag found.
  size_t j = i;
  while (j > 0) {
    --j;
    CCacheEntry* pEntry = m_vecEntries[j];
    if (!Before(nFound, pEntry->nPos)) break;
    if (pEntry->pTag != nullptr && pEntry->pTag->isUnregistered()) {
      pEntry->bPreviousCompleted = true;
      pEntry->bNextCompleted = true;
    } else if (pEntry->pTag != nullptr) {
      DebugLog("[CSubCache::addPreviousTag] INTERNAL ERROR: Cache entry no longer found in source.");
      return false;
    } else {
      pEntry->bMarkedForRemoval = true;
      m_nLowestMarked = std::min(m_nLowestMarked, j);
    }
  }
  if (m_vecEntries[j]->nPos != nFound) {
    DebugLog("[CSubCache::addPreviousTag] INTERNAL ERROR: Missing cache entry for found tag.");
    return false;
  }
  m_vecEntries[j]->bNextCompleted = true;
  compact();
  return true;
}

void CSubCache::bulkLoad_Start(size_t nTagCount) {
  deleteEntries();
  m_vecEntries.assign(nTagCount + 2, nullptr);
  const CSource* pSource = m_pCache->getSource();
  m_vecEntries[0] = new CCacheEntry{0, pSource->getBegin() - 1, nullptr, false, true};
  m_vecEntries[nTagCount + 1] = new CCacheEntry{nTagCount + 1, pSource->getEnd(), nullptr, true, false};
  m_nLastIndex = nTagCount + 1;
  m_nLowestMarked = kNoMark;
}

void CSubCache::bulkLoad_Set(size_t nTagsIndex, CTag* pTag) {
  if (pTag == nullptr || nTagsIndex + 2 >= m_vecEntries.size()) {
    DebugLog("[CSubCache::bulkLoad_Set] pTag is 0 or invalid nTagsIndex.");
    return;
  }
  m_vecEntries[nTagsIndex + 1] = new CCacheEntry{nTagsIndex + 1, pTag->getBegin(), pTag, true, true};
}

void CSubCache::bulkLoad_AddToTypeSpecificCache(CTag* pTag) {
  if (pTag == nullptr) {
    DebugLog("[CSubCache::bulkLoad_AddToTypeSpecificCache] pTag is 0.");
    return;
  }
  if (m_nLastIndex + 1 >= m_vecEntries.size()) m_vecEntries.resize(m_vecEntries.size() * 2, nullptr);
  CCacheEntry* pSentinel = m_vecEntries[m_nLastIndex];
  m_vecEntries[m_nLastIndex] = new CCacheEntry{m_nLastIndex, pTag->getBegin(), pTag, true, true};
  ++m_nLastIndex;
  pSentinel->nIndex = m_nLastIndex;
  m_vecEntries[m_nLastIndex] = pSentinel;
}

void CSubCache::bulkLoad_Finish() {
  m_vecEntries[0]->bNextCompleted = true;
  m_vecEntries[m_nLastIndex]->bPreviousCompleted = true;
}

// ---------------------------------------------------------------------------
// CCache

CCache::CCache(CSource* pSource) : m_pSource(pSource) {
  m_pAllTypes = new CSubCache(this, nullptr);
  m_vecSubCaches.push_back(m_pAllTypes);
  for (CTagType* pType : CTagTypeSingletonData::getOpaqueTagTypes()) {
    m_vecSubCaches.push_back(new CSubCache(this, pType));
  }
}

CCache::~CCache() {
  for (CSubCache* pSubCache : m_vecSubCaches) delete pSubCache;
}

void CCache::clear() {
  for (CSubCache* pSubCache : m_vecSubCaches) pSubCache->clear();
}

CTag* CCache::getTagAt(HXPos nPos) {
  if (!m_pSource->useAllTypesCache()) return CTag::getTagAtUncached(m_pSource, nPos);
  return m_pAllTypes->getTagAt(nPos);
}

CTag* CCache::cacheTagAt(HXPos nPos) {
  CTag* pTag = CTag::getTagAtUncached(m_pSource, nPos);
  m_pAllTypes->add(nPos, pTag);
  if (pTag != nullptr) {
    for (size_t i = 1; i < m_vecSubCaches.size(); ++i) {
      if (m_vecSubCaches[i]->getTagType() == pTag->getTagType()) {
        m_vecSubCaches[i]->add(nPos, pTag);
        break;
      }
    }
  }
  return pTag;
}

CTag* CCache::findPreviousOrNextTag(HXPos nPos, CTagType* pTagType, bool bPrevious) {
  for (size_t i = m_pSource->useAllTypesCache() ? 0 : 1; i < m_vecSubCaches.size(); ++i) {
    if (m_vecSubCaches[i]->getTagType() == pTagType) return m_vecSubCaches[i]->findPreviousOrNextTag(nPos, bPrevious);
  }
  if (pTagType == nullptr) return CTag::findPreviousOrNextTagUncached(m_pSource, nPos, bPrevious, HX_NPOS);
  return CTag::findPreviousOrNextTagUncached(m_pSource, nPos, pTagType, bPrevious, HX_NPOS);
}

void CCache::loadAllTags(const std::vector<CTag*>& vecAllTags) {
  // Only this source's tags get entries, so that the entry array has no gaps.
  std::vector<CTag*> vecTags;
  vecTags.reserve(vecAllTags.size());
  for (CTag* pTag : vecAllTags) {
    if (pTag != nullptr && pTag->getSource() == m_pSource) vecTags.push_back(pTag);
  }
  m_pAllTypes->bulkLoad_Start(vecTags.size());
  for (size_t i = 0; i < vecTags.size(); ++i) {
    CTag* pTag = vecTags[i];
    m_pAllTypes->bulkLoad_Set(i, pTag);
    for (size_t j = 1; j < m_vecSubCaches.size(); ++j) {
      if (m_vecSubCaches[j]->getTagType() == pTag->getTagType()) {
        m_vecSubCaches[j]->bulkLoad_AddToTypeSpecificCache(pTag);
        break;
      }
    }
  }
  for (size_t j = 1; j < m_vecSubCaches.size(); ++j) m_vecSubCaches[j]->bulkLoad_Finish();
}
