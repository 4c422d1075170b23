// The position cache of one source. For each position the searches have
// examined it remembers which tag starts there (or that none does), and for
// each stretch between two remembered positions whether it is known to hold
// no further tag. Cached searches walk the remembered entries and run the
// uncached search only over stretches not yet known; a full sequential parse
// loads its whole result at once. One sub-cache serves all tag types, one
// each the comment and CDATA section types.
#pragma once

#include <cstddef>
#include <vector>

#include "html/parser_types.h"

// One remembered position of a sub-cache.
struct CCacheEntry {
  uint64_t nIndex;  // place in the sub-cache's entry array
  HXPos nPos;
  CTag* pTag;  // null: no tag of the sub-cache's type starts here
  bool bPreviousCompleted = false;
  bool bNextCompleted = false;
  bool bMarkedForRemoval = false;
};

class CSubCache {
 public:
  CSubCache(CCache* pCache, CTagType* pTagType);
  CSubCache(const CSubCache&) = delete;
  CSubCache& operator=(const CSubCache&) = delete;
  virtual ~CSubCache();

  CTagType* getTagType() const { return m_pTagType; }
  size_t size() const { return static_cast<size_t>(m_nLastIndex) + 1; }

  CTag* getTagAt(HXPos nPos);
  CTag* findPreviousOrNextTag(HXPos nPos, bool bPrevious);
  void add(HXPos nPos, CTag* pTag);
  void clear();

  void bulkLoad_Start(size_t nTagCount);
  void bulkLoad_Set(size_t nTagsIndex, CTag* pTag);
  void bulkLoad_AddToTypeSpecificCache(CTag* pTag);
  void bulkLoad_Finish();

  // For tests: the entries in order.
  const CCacheEntry* entry(size_t nIndex) const { return nIndex <= m_nLastIndex ? m_vecEntries[nIndex] : nullptr; }

 private:
  size_t findEntryIndex(HXPos nPos) const;
  bool addNextTag(HXPos nPos, CTag* pTag);
  bool addPreviousTag(HXPos nPos, CTag* pTag);
  void insertAt(size_t nIndex, CCacheEntry* pEntry);
  void compact();
  void deleteEntries();
  void makeSentinels();
  CTag* searchForwards(CCacheEntry* a, CCacheEntry* b, HXPos p);
  CTag* searchBackwards(CCacheEntry* a, CCacheEntry* b, HXPos p);
  CTag* uncachedSearch(HXPos p, bool bPrevious, HXPos nBreakAtPos);
  CCacheEntry* firstSentinel() const { return m_vecEntries[0]; }
  CCacheEntry* lastSentinel() const { return m_vecEntries[m_nLastIndex]; }

  CCache* m_pCache;
  CTagType* m_pTagType;  // null: all tag types
  std::vector<CCacheEntry*> m_vecEntries;
  uint64_t m_nLastIndex = 1;
  size_t m_nLowestMarked;  // lowest index marked for removal; SIZE_MAX: none
};

class CCache {
 public:
  explicit CCache(CSource* pSource);
  CCache(const CCache&) = delete;
  CCache& operator=(const CCache&) = delete;
  virtual ~CCache();

  CTag* getTagAt(HXPos nPos);
  CTag* findPreviousOrNextTag(HXPos nPos, CTagType* pTagType, bool bPrevious);
  // The tag at nPos by the uncached lookup, remembered.
  CTag* cacheTagAt(HXPos nPos);
  // Loads the complete result of a full sequential parse.
  void loadAllTags(const std::vector<CTag*>& vecTags);
  // Empties every sub-cache.
  void clear();
  // Size of the all-types sub-cache, counting its two sentinels.
  size_t size() const { return m_pAllTypes->size(); }

  CSource* getSource() const { return m_pSource; }
  CSubCache* getAllTypesSubCache() const { return m_pAllTypes; }

 private:
  CSource* m_pSource;
  CSubCache* m_pAllTypes;
  std::vector<CSubCache*> m_vecSubCaches;
};
