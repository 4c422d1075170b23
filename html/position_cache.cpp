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

}  // namespace

// ---------------------------------------------------------------------------
// CSubCache

CSubCache::CSubCache(CCache* pCache, CTagType* pTagType)
    : m_pCache(pCache), m_pTagType(pTagType), m_mapEntries(pCache->getPool()) {
  makeSentinels(false);
}

CSubCache::~CSubCache() { deleteEntries(); }

void CSubCache::deleteEntries() {
  ++m_nSkipGeneration;
  m_bLoaded = false;
  m_vecLoaded.clear();
  m_vecLoaded.shrink_to_fit();
  m_vecLoadedRegistered.clear();
  m_vecLoadedRegistered.shrink_to_fit();
  m_vecLoadedBegins.clear();
  m_vecLoadedBegins.shrink_to_fit();
  m_vecLoadedRegisteredBegins.clear();
  m_vecLoadedRegisteredBegins.shrink_to_fit();
  m_bUnregisteredLoaded = false;
  m_nLoadedHint = 0;
  m_mapEntries.clear();
  m_itNear = m_mapEntries.end();
  m_vecMarked.clear();
  m_pFirst = nullptr;
  m_pLast = nullptr;
}

void CSubCache::makeSentinels(bool bCompleted) {
  const CSource* pSource = m_pCache->getSource();
  m_pFirst = &insertEntry(CCacheEntry{pSource->getBegin() - 1, nullptr, false, bCompleted}, m_mapEntries.end())->second;
  m_pLast = &insertEntry(CCacheEntry{pSource->getEnd(), nullptr, bCompleted, false}, m_mapEntries.end())->second;
}

void CSubCache::clear() {
  if (m_pTagType == nullptr) m_pCache->forgetEndTagSearches();
  deleteEntries();
  makeSentinels(false);
}

void CSubCache::materialize() {
  if (!m_bLoaded) return;
  ++m_nSkipGeneration;
  m_bLoaded = false;
  auto itLast = std::prev(m_mapEntries.end());
  for (CTag* pTag : m_vecLoaded) {
    m_mapEntries.emplace_hint(itLast, Key(pTag->getBegin()), CCacheEntry{pTag->getBegin(), pTag, true, true});
  }
  std::vector<CTag*>().swap(m_vecLoaded);
  std::vector<CTag*>().swap(m_vecLoadedRegistered);
  std::vector<HXPos>().swap(m_vecLoadedBegins);
  std::vector<HXPos>().swap(m_vecLoadedRegisteredBegins);
  m_bUnregisteredLoaded = false;
}

CTag* CSubCache::loadedTagAt(HXPos nPos) const {
  auto it = std::lower_bound(m_vecLoadedBegins.begin(), m_vecLoadedBegins.end(), nPos);
  if (it == m_vecLoadedBegins.end() || *it != nPos) return nullptr;
  return m_vecLoaded[static_cast<size_t>(it - m_vecLoadedBegins.begin())];
}

// With every stretch known, a forward search answers the first registered
// tag at or after nPos, a backward one the last at or before it.
CTag* CSubCache::loadedPreviousOrNextTag(HXPos nPos, bool bPrevious) const {
  const std::vector<HXPos>& v = m_bUnregisteredLoaded ? m_vecLoadedRegisteredBegins : m_vecLoadedBegins;
  const std::vector<CTag*>& vecTags = m_bUnregisteredLoaded ? m_vecLoadedRegistered : m_vecLoaded;
  const size_t n = v.size();
  size_t i;  // the first begin at or after nPos
  const size_t h = m_nLoadedHint;
  if (h < n && v[h] >= nPos && (h == 0 || v[h - 1] < nPos)) {
    i = h;
  } else if (h + 1 < n && v[h + 1] >= nPos && v[h] < nPos) {
    i = h + 1;
  } else {
    i = static_cast<size_t>(std::lower_bound(v.begin(), v.end(), nPos) - v.begin());
  }
  if (!bPrevious) {
    if (i == n) return nullptr;
    m_nLoadedHint = i;
    return vecTags[i];
  }
  if (i < n && v[i] == nPos) return vecTags[i];
  if (i == 0) return nullptr;
  m_nLoadedHint = i - 1;
  return vecTags[i - 1];
}

std::vector<const CCacheEntry*> CSubCache::entries() {
  materialize();
  std::vector<const CCacheEntry*> v;
  v.reserve(m_mapEntries.size());
  for (const auto& entry : m_mapEntries) v.push_back(&entry.second);
  return v;
}

CSubCache::EntryMap::iterator CSubCache::findEntry(HXPos nPos) {
  auto it = NearbyLowerBound(m_mapEntries, m_itNear, Key(nPos));
  // Nothing lies beyond the last sentinel, the source's end.
  if (it == m_mapEntries.end()) --it;
  m_itNear = it;
  return it;
}

CSubCache::EntryMap::iterator CSubCache::insertEntry(const CCacheEntry& entry, EntryMap::iterator itNext) {
  // A position remembered already keeps its entry, as a plain insert would.
  return m_mapEntries.emplace_hint(itNext, Key(entry.nPos), entry);
}

void CSubCache::mark(EntryMap::iterator it) {
  CCacheEntry* pEntry = &it->second;
  if (pEntry->bMarkedForRemoval || isSentinel(pEntry)) return;
  pEntry->bMarkedForRemoval = true;
  m_vecMarked.push_back(pEntry);
}

void CSubCache::compact() {
  for (CCacheEntry* pEntry : m_vecMarked) {
    if (!pEntry->bMarkedForRemoval) continue;
    auto it = NearbyLowerBound(m_mapEntries, m_itNear, Key(pEntry->nPos));
    if (it == m_mapEntries.end() || &it->second != pEntry) continue;
    if (it == m_itNear) {
      m_itNear = m_mapEntries.erase(it);
    } else {
      m_mapEntries.erase(it);
    }
  }
  m_vecMarked.clear();
}

void CSubCache::add(HXPos nPos, CTag* pTag) {
  const CSource* pSource = m_pCache->getSource();
  if (!pSource->contains(nPos)) return;
  materialize();
  auto itNext = findEntry(nPos);
  CCacheEntry* pNext = &itNext->second;
  if (pNext->nPos == nPos) {
    // Already remembered: only a tag found since is worth keeping.
    if (pTag != nullptr) {
      if (pNext->pTag != pTag) ++m_nSkipGeneration;
      pNext->pTag = pTag;
      pNext->bMarkedForRemoval = false;
    }
    return;
  }
  auto itPrevious = std::prev(itNext);
  CCacheEntry* pPrevious = &itPrevious->second;
  const bool bPrev = nPos == pPrevious->nPos + 1;
  const bool bNext = nPos + 1 == pNext->nPos;
  if (pTag == nullptr && bPrev && bNext) return;
  // Skips only span known stretches.
  if (pNext->bPreviousCompleted || pPrevious->bNextCompleted) ++m_nSkipGeneration;
  insertEntry(CCacheEntry{nPos, pTag, bPrev, bNext}, itNext);
  // Neighbours that now carry nothing are only marked: a search in progress
  // may hold them; the next recording removes them.
  if (bPrev) {
    pPrevious->bNextCompleted = true;
    if (pPrevious->pTag == nullptr && pPrevious->bPreviousCompleted) mark(itPrevious);
  }
  if (bNext) {
    pNext->bPreviousCompleted = true;
    if (pNext->pTag == nullptr && pNext->bNextCompleted) mark(itNext);
  }
}

CTag* CSubCache::getTagAt(HXPos nPos) {
  if (!m_pCache->getSource()->contains(nPos)) return nullptr;
  if (m_bLoaded) return loadedTagAt(nPos);
  const CCacheEntry* pEntry = &findEntry(nPos)->second;
  if (pEntry->nPos == nPos) return pEntry->pTag;
  if (pEntry->bPreviousCompleted) return nullptr;
  return m_pCache->cacheTagAt(nPos);
}

CTag* CSubCache::uncachedSearch(HXPos p, bool bPrevious, HXPos nBreakAtPos) {
  CSource* pSource = m_pCache->getSource();
  if (m_pTagType == nullptr) return CTag::findPreviousOrNextTagUncached(pSource, p, bPrevious, nBreakAtPos);
  if (bPrevious || nBreakAtPos == HX_NPOS) {
    return CTag::findPreviousOrNextTagUncached(pSource, p, m_pTagType, bPrevious, nBreakAtPos);
  }
  // The stretch holds the tags that begin before the bound, and a delimiter
  // that begins there may run past it ("<!--" one byte before a remembered
  // position): the delimiter search gets room for it, and only a tag that
  // begins inside the stretch counts.
  const size_t nDelimiter = m_pTagType->getStartDelimiter().length();
  const HXPos nRoom = nDelimiter > 1 ? nDelimiter - 1 : 0;
  CTag* pTag = CTag::findPreviousOrNextTagUncached(pSource, p, m_pTagType, false, nBreakAtPos + nRoom);
  return (pTag != nullptr && pTag->getBegin() < nBreakAtPos) ? pTag : nullptr;
}

// Map iterators stay valid while the uncached search adds entries; entries
// are only erased when a search is recorded.
// A step is plain when it only passes a known stretch and an entry that
// answers nothing (no registered tag, not the end): such steps are what the
// skips jump over, and the walks that took them are recorded when the walk
// reaches a state that is not plain. Nothing is inserted between.
CTag* CSubCache::searchForwards(EntryMap::iterator a, EntryMap::iterator b, HXPos p) {
  const CSource* pSource = m_pCache->getSource();
  std::vector<CCacheEntry*> vecRun;
  for (;;) {
    const HXPos nSkip = skipOf(&a->second, false);
    if (nSkip != HX_NPOS && a->second.bNextCompleted && Before(a->second.nPos, nSkip)) {
      auto itLanding = m_mapEntries.find(Key(nSkip));
      if (itLanding != m_mapEntries.end() && &itLanding->second != m_pLast) {
        vecRun.push_back(&a->second);
        a = itLanding;
        b = std::next(a);
        p = a->second.nPos + 1;
        continue;
      }
    }
    const bool bPlain = a->second.bNextCompleted && &b->second != m_pLast && !IsRegisteredTag(b->second.pTag) &&
                        b->second.nPos + 1 < pSource->getEnd();
    if (bPlain) {
      vecRun.push_back(&a->second);
    } else if (!vecRun.empty()) {
      recordSkips(vecRun, a->second.nPos, false);
      vecRun.clear();
    }
    if (!a->second.bNextCompleted) {
      CTag* pTag = uncachedSearch(p, false, b->second.nPos);
      if (pTag != nullptr) return pTag;
    }
    if (&b->second == m_pLast) return nullptr;
    if (IsRegisteredTag(b->second.pTag)) return b->second.pTag;
    p = b->second.nPos + 1;
    if (p >= pSource->getEnd()) return nullptr;
    a = b;
    ++b;
  }
}

// The landing of a backward walk is named by its upper bound, so that an
// entry inserted below it later (in a stretch not yet known) is still met.
CTag* CSubCache::searchBackwards(EntryMap::iterator a, EntryMap::iterator b, HXPos p) {
  const CSource* pSource = m_pCache->getSource();
  std::vector<CCacheEntry*> vecRun;
  for (;;) {
    const HXPos nSkip = skipOf(&b->second, true);
    if (nSkip != HX_NPOS && b->second.bPreviousCompleted && Before(nSkip, b->second.nPos)) {
      auto itLanding = m_mapEntries.find(Key(nSkip));
      if (itLanding != m_mapEntries.end() && &itLanding->second != m_pFirst) {
        vecRun.push_back(&b->second);
        b = itLanding;
        a = std::prev(b);
        p = b->second.nPos - 1;
        continue;
      }
    }
    const bool bPlain = b->second.bPreviousCompleted && &a->second != m_pFirst && !IsRegisteredTag(a->second.pTag) &&
                        a->second.nPos > pSource->getBegin();
    if (bPlain) {
      vecRun.push_back(&b->second);
    } else if (!vecRun.empty()) {
      recordSkips(vecRun, b->second.nPos, true);
      vecRun.clear();
    }
    if (!b->second.bPreviousCompleted) {
      CTag* pTag = uncachedSearch(p, true, a->second.nPos);
      if (pTag != nullptr) return pTag;
    }
    if (&a->second == m_pFirst) return nullptr;
    if (IsRegisteredTag(a->second.pTag)) return a->second.pTag;
    if (a->second.nPos <= pSource->getBegin()) return nullptr;
    p = a->second.nPos - 1;
    b = a;
    --a;
  }
}

void CSubCache::recordSkips(const std::vector<CCacheEntry*>& vecRun, HXPos nLanding, bool bPrevious) {
  for (CCacheEntry* pEntry : vecRun) {
    if (pEntry->nSkipGeneration != m_nSkipGeneration) {
      pEntry->nSkipGeneration = m_nSkipGeneration;
      pEntry->nSkipPrevious = HX_NPOS;
      pEntry->nSkipNext = HX_NPOS;
    }
    (bPrevious ? pEntry->nSkipPrevious : pEntry->nSkipNext) = nLanding;
  }
}

CTag* CSubCache::findPreviousOrNextTag(HXPos nPos, bool bPrevious) {
  const CSource* pSource = m_pCache->getSource();
  if (pSource->getEnd() <= pSource->getBegin()) return nullptr;
  if (bPrevious && nPos >= pSource->getEnd()) nPos = pSource->getEnd() - 1;
  if (!bPrevious && nPos < pSource->getBegin()) nPos = pSource->getBegin();
  if (!pSource->contains(nPos)) return nullptr;
  // Nothing is left to record once every stretch is known.
  if (m_bLoaded) return loadedPreviousOrNextTag(nPos, bPrevious);

  auto it = findEntry(nPos);
  CCacheEntry* e = &it->second;
  if (e->nPos == nPos && IsRegisteredTag(e->pTag)) return e->pTag;
  CTag* pTag;
  if (bPrevious) {
    pTag = searchBackwards(std::prev(it), it, nPos);
  } else if (e->nPos == nPos) {
    pTag = searchForwards(it, std::next(it), nPos);
  } else {
    pTag = searchForwards(std::prev(it), it, nPos);
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

// A search that starts between entries gets an entry of its own, so that
// what it finds can be recorded against its start.
CSubCache::EntryMap::iterator CSubCache::addSearchStart(HXPos nPos) {
  if (m_pTagType == nullptr) {
    m_pCache->cacheTagAt(nPos);
  } else {
    add(nPos, nullptr);
  }
  return findEntry(nPos);
}

// An entry a completed search passed over: a tag still there means the cache
// no longer matches the source.
bool CSubCache::settlePassedEntry(EntryMap::iterator it, const char* szInternalError) {
  CCacheEntry* pEntry = &it->second;
  if (pEntry->pTag != nullptr && pEntry->pTag->isUnregistered()) {
    pEntry->bPreviousCompleted = true;
    pEntry->bNextCompleted = true;
  } else if (pEntry->pTag != nullptr) {
    DebugLog("%s", szInternalError);
    return false;
  } else {
    mark(it);
  }
  return true;
}

bool CSubCache::addNextTag(HXPos nPos, CTag* pTag) {
  materialize();
  const HXPos nFound = pTag != nullptr ? pTag->getBegin() : m_pLast->nPos;
  if (nFound == nPos) return true;
  auto it = findEntry(nPos);
  if (it->second.nPos != nPos && !std::prev(it)->second.bNextCompleted) it = addSearchStart(nPos);
  CCacheEntry* e = &it->second;
  if (e->nPos == nPos) {
    e->bNextCompleted = true;
    if (e->pTag == nullptr && e->bPreviousCompleted) mark(it);
  }
  if (!Before(e->nPos, nFound)) {
    e->bPreviousCompleted = true;
    compact();
    return true;
  }
  // Entries inside a skip were settled by the search that recorded it.
  auto j = it;
  for (;;) {
    const HXPos nSkip = skipOf(&j->second, false);
    if (nSkip != HX_NPOS && Before(j->second.nPos, nSkip) && Before(nSkip, nFound)) {
      auto itLanding = m_mapEntries.find(Key(nSkip));
      if (itLanding != m_mapEntries.end()) j = std::prev(itLanding);
    }
    ++j;
    if (j == m_mapEntries.end() || !Before(j->second.nPos, nFound)) break;
    if (!settlePassedEntry(j, "[CSubCache::addNextTag] INTERNAL ERROR: Cache entry no longer found in source.")) {
      return false;
    }
  }
  if (j == m_mapEntries.end() || j->second.nPos != nFound) {
    DebugLog("[CSubCache::addNextTag] INTERNAL ERROR: Missing cache entry for found tag.");
    return false;
  }
  j->second.bPreviousCompleted = true;
  compact();
  return true;
}

bool CSubCache::addPreviousTag(HXPos nPos, CTag* pTag) {
  materialize();
  const HXPos nFound = pTag != nullptr ? pTag->getBegin() : m_pFirst->nPos;
  if (nFound == nPos) return true;
  auto it = findEntry(nPos);
  if (it->second.nPos != nPos && !it->second.bPreviousCompleted) it = addSearchStart(nPos);
  CCacheEntry* e = &it->second;
  if (e->nPos == nPos) {
    e->bPreviousCompleted = true;
    if (e->pTag == nullptr && e->bNextCompleted) mark(it);
  }
  // Walk back from the entry before e down to the one at the tag found.
  // Entries inside a skip were settled by the search that recorded it.
  auto j = it;
  while (j != m_mapEntries.begin()) {
    const HXPos nSkip = skipOf(&j->second, true);
    if (nSkip != HX_NPOS && Before(nFound, nSkip) && Before(nSkip, j->second.nPos)) {
      auto itLanding = m_mapEntries.find(Key(nSkip));
      if (itLanding != m_mapEntries.end()) j = std::next(itLanding);
    }
    --j;
    if (!Before(nFound, j->second.nPos)) break;
    if (!settlePassedEntry(j, "[CSubCache::addPreviousTag] INTERNAL ERROR: Cache entry no longer found in source.")) {
      return false;
    }
  }
  if (j->second.nPos != nFound) {
    DebugLog("[CSubCache::addPreviousTag] INTERNAL ERROR: Missing cache entry for found tag.");
    return false;
  }
  j->second.bNextCompleted = true;
  compact();
  return true;
}

void CSubCache::bulkLoad_Start(size_t nTagCount) {
  if (m_pTagType == nullptr) m_pCache->forgetEndTagSearches();
  deleteEntries();
  makeSentinels(true);
  m_nBulkCount = nTagCount;
  if (m_pTagType == nullptr) {
    m_bLoaded = true;
    m_vecLoaded.reserve(nTagCount);
    m_vecLoadedBegins.reserve(nTagCount);
  }
}

void CSubCache::bulkLoad_Set(size_t nTagsIndex, CTag* pTag) {
  if (pTag == nullptr || nTagsIndex >= m_nBulkCount) {
    DebugLog("[CSubCache::bulkLoad_Set] pTag is 0 or invalid nTagsIndex.");
    return;
  }
  if (m_bLoaded) {
    if (pTag->isUnregistered() && !m_bUnregisteredLoaded) {
      // From the first unregistered tag on, the registered ones need arrays
      // of their own; until then the loaded arrays serve for both.
      m_bUnregisteredLoaded = true;
      m_vecLoadedRegistered.reserve(m_nBulkCount);
      m_vecLoadedRegisteredBegins.reserve(m_nBulkCount);
      m_vecLoadedRegistered = m_vecLoaded;
      m_vecLoadedRegisteredBegins = m_vecLoadedBegins;
    }
    m_vecLoaded.push_back(pTag);
    m_vecLoadedBegins.push_back(pTag->getBegin());
    if (m_bUnregisteredLoaded && !pTag->isUnregistered()) {
      m_vecLoadedRegistered.push_back(pTag);
      m_vecLoadedRegisteredBegins.push_back(pTag->getBegin());
    }
    return;
  }
  bulkLoad_AddToTypeSpecificCache(pTag);
}

void CSubCache::bulkLoad_AddToTypeSpecificCache(CTag* pTag) {
  if (pTag == nullptr) {
    DebugLog("[CSubCache::bulkLoad_AddToTypeSpecificCache] pTag is 0.");
    return;
  }
  // Tags come in page order: each goes right before the last sentinel.
  auto itLast = std::prev(m_mapEntries.end());
  const size_t nBefore = m_mapEntries.size();
  ++m_nSkipGeneration;
  auto it = m_mapEntries.emplace_hint(itLast, Key(pTag->getBegin()), CCacheEntry{pTag->getBegin(), pTag, true, true});
  if (m_mapEntries.size() == nBefore) {
    // Remembered before: keep the entry there, now known to hold this tag.
    it->second.pTag = pTag;
    it->second.bMarkedForRemoval = false;
  }
}

void CSubCache::bulkLoad_Finish() {
  m_pFirst->bNextCompleted = true;
  m_pLast->bPreviousCompleted = true;
}

// ---------------------------------------------------------------------------
// CCache

CCache::CCache(CSource* pSource) : m_pSource(pSource) {
  m_vecSubCaches.reserve(1 + CTagTypeSingletonData::getOpaqueTagTypes().size());
  m_pAllTypes = new CSubCache(this, nullptr);
  m_vecSubCaches.push_back(m_pAllTypes);
  for (CTagType* pType : CTagTypeSingletonData::getOpaqueTagTypes()) {
    m_vecSubCaches.push_back(new CSubCache(this, pType));
  }
}

CCache::~CCache() {
  for (CSubCache* pSubCache : m_vecSubCaches) delete pSubCache;
}

HXPos TagBegin(const CTag* pTag) { return pTag->getBegin(); }

const CWalkOutcome* CCache::walkOutcome(int64_t nElementIndex, HXPos nPos) const {
  if (m_mapWalks.empty()) return nullptr;
  auto itIndex = m_mapWalks.find(nElementIndex);
  if (itIndex == m_mapWalks.end()) return nullptr;
  auto it = itIndex->second.lower_bound(nPos);
  if (it == itIndex->second.end() || it->second.nFrom > nPos) return nullptr;
  return &it->second.outcome;
}

void CCache::rememberWalk(int64_t nElementIndex, const std::vector<std::pair<HXPos, HXPos>>& vecStretches,
                          const CWalkOutcome& outcome) {
  std::map<HXPos, CWalkStretch>& stretches = m_mapWalks[nElementIndex];
  for (const auto& [nFrom, nTo] : vecStretches) {
    auto [it, bNew] = stretches.emplace(nTo, CWalkStretch{nFrom, outcome});
    if (!bNew && nFrom < it->second.nFrom) it->second.nFrom = nFrom;
  }
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
  // Only this source's tags get entries, so that the entry array has no gaps
  // (a full parse hands over only its own: then the list is used as it is).
  std::vector<CTag*> vecOwnTags;
  const std::vector<CTag*>* pTags = &vecAllTags;
  if (!std::all_of(vecAllTags.begin(), vecAllTags.end(),
                   [this](const CTag* pTag) { return pTag != nullptr && pTag->getSource() == m_pSource; })) {
    vecOwnTags.reserve(vecAllTags.size());
    for (CTag* pTag : vecAllTags) {
      if (pTag != nullptr && pTag->getSource() == m_pSource) vecOwnTags.push_back(pTag);
    }
    pTags = &vecOwnTags;
  }
  const std::vector<CTag*>& vecTags = *pTags;
  m_pAllTypes->bulkLoad_Start(vecTags.size());
  for (size_t i = 0; i < vecTags.size(); ++i) {
    CTag* pTag = vecTags[i];
    m_pAllTypes->bulkLoad_Set(i, pTag);
    // The type-specific sub-caches hold comments and CDATA sections: start
    // tags of registered types.
    if (!pTag->isStartTag() || pTag->isUnregistered()) continue;
    CTagType* pType = pTag->getTagType();
    for (size_t j = 1; j < m_vecSubCaches.size(); ++j) {
      if (m_vecSubCaches[j]->getTagType() == pType) {
        m_vecSubCaches[j]->bulkLoad_AddToTypeSpecificCache(pTag);
        break;
      }
    }
  }
  for (size_t j = 1; j < m_vecSubCaches.size(); ++j) m_vecSubCaches[j]->bulkLoad_Finish();
}
