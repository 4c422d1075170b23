// The position cache of one source: which tag starts at each position the
// searches have examined (or that none does), so that repeated questions about
// the same page are cheap and every search hands out the same tag objects.
#pragma once

#include <cstddef>
#include <unordered_map>
#include <vector>

#include "html/parser_types.h"

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
  void clear();
  // Number of entries of the all-types cache, counting its two bounds.
  size_t size() const { return m_mapTagAt.size() + 2; }

 private:
  CTag* findInCompleteList(HXPos nPos, CTagType* pTagType, bool bPrevious) const;

  CSource* m_pSource;
  std::unordered_map<HXPos, CTag*> m_mapTagAt;
  // After a bulk load: every registered tag of the page in order.
  std::vector<CTag*> m_vecComplete;
  // After a bulk load: every tag of the page, unregistered ones included.
  std::vector<CTag*> m_vecLoaded;
  bool m_bComplete = false;
};
