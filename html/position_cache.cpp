#include "html/position_cache.h"

#include <algorithm>

#include "html/source.h"
#include "html/tag.h"
#include "html/tag_types.h"

CCache::CCache(CSource* pSource) : m_pSource(pSource) {}

CCache::~CCache() = default;

void CCache::clear() {
  m_mapTagAt.clear();
  m_vecComplete.clear();
  m_vecLoaded.clear();
  m_bComplete = false;
}

CTag* CCache::cacheTagAt(HXPos nPos) {
  CTag* pTag = CTag::getTagAtUncached(m_pSource, nPos);
  m_mapTagAt[nPos] = pTag;
  return pTag;
}

CTag* CCache::getTagAt(HXPos nPos) {
  if (!m_pSource->useAllTypesCache()) return CTag::getTagAtUncached(m_pSource, nPos);
  if (!m_pSource->contains(nPos)) return nullptr;
  if (m_bComplete) {
    // After a bulk load every tag of the page is known: a position without
    // one starts none.
    auto it = std::lower_bound(m_vecLoaded.begin(), m_vecLoaded.end(), nPos,
                               [](const CTag* pTag, HXPos n) { return pTag->getBegin() < n; });
    return (it != m_vecLoaded.end() && (*it)->getBegin() == nPos) ? *it : nullptr;
  }
  auto it = m_mapTagAt.find(nPos);
  if (it != m_mapTagAt.end()) return it->second;
  return cacheTagAt(nPos);
}

CTag* CCache::findInCompleteList(HXPos nPos, CTagType* pTagType, bool bPrevious) const {
  if (!bPrevious) {
    const HXPos nFrom = std::max(nPos, m_pSource->getBegin());
    auto it = std::lower_bound(m_vecComplete.begin(), m_vecComplete.end(), nFrom,
                               [](const CTag* pTag, HXPos n) { return pTag->getBegin() < n; });
    for (; it != m_vecComplete.end(); ++it) {
      if (pTagType == nullptr || (*it)->getTagType() == pTagType) return *it;
    }
    return nullptr;
  }
  if (m_pSource->getEnd() <= m_pSource->getBegin()) return nullptr;
  const HXPos nFrom = std::min(nPos, m_pSource->getEnd() - 1);
  auto it = std::upper_bound(m_vecComplete.begin(), m_vecComplete.end(), nFrom,
                             [](HXPos n, const CTag* pTag) { return n < pTag->getBegin(); });
  while (it != m_vecComplete.begin()) {
    --it;
    if (pTagType == nullptr || (*it)->getTagType() == pTagType) return *it;
  }
  return nullptr;
}

CTag* CCache::findPreviousOrNextTag(HXPos nPos, CTagType* pTagType, bool bPrevious) {
  if (m_bComplete && m_pSource->useAllTypesCache()) return findInCompleteList(nPos, pTagType, bPrevious);
  if (pTagType == nullptr && !m_pSource->useAllTypesCache()) {
    return CTag::findPreviousOrNextTagUncached(m_pSource, nPos, bPrevious, HX_NPOS);
  }
  if (pTagType == nullptr) return CTag::findPreviousOrNextTagUncached(m_pSource, nPos, bPrevious, HX_NPOS);
  return CTag::findPreviousOrNextTagUncached(m_pSource, nPos, pTagType, bPrevious, HX_NPOS);
}

void CCache::loadAllTags(const std::vector<CTag*>& vecTags) {
  clear();
  m_vecComplete.reserve(vecTags.size());
  m_vecLoaded.reserve(vecTags.size());
  for (CTag* pTag : vecTags) {
    if (pTag == nullptr || pTag->getSource() != m_pSource) continue;
    m_vecLoaded.push_back(pTag);
    if (!pTag->isUnregistered()) m_vecComplete.push_back(pTag);
  }
  m_bComplete = true;
}
