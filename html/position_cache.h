// The position cache of one source. For each position the searches have
// examined it remembers which tag starts there (or that none does), and for
// each stretch between two remembered positions whether it is known to hold
// no further tag. Cached searches walk the remembered entries and run the
// uncached search only over stretches not yet known; a full sequential parse
// loads its whole result at once. One sub-cache serves all tag types, one
// each the comment and CDATA section types.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory_resource>
#include <string>
#include <utility>
#include <vector>

#include "html/nearby_lower_bound.h"
#include "html/parser_types.h"

// One remembered position of a sub-cache.
struct CCacheEntry {
  HXPos nPos;
  CTag* pTag;  // null: no tag of the sub-cache's type starts here
  bool bPreviousCompleted = false;
  bool bNextCompleted = false;
  bool bMarkedForRemoval = false;
  // Where a walk over known, tagless stretches from here lands: the entry
  // whose state a backward walk that starts with this entry as its upper
  // bound reaches after stepping only over unregistered tags and empty
  // entries (nSkipPrevious), or the lower bound a forward walk reaches
  // (nSkipNext). Valid while nSkipGeneration is the sub-cache's generation.
  HXPos nSkipPrevious = HX_NPOS;
  HXPos nSkipNext = HX_NPOS;
  uint64_t nSkipGeneration = 0;
};

class CSubCache {
 public:
  CSubCache(CCache* pCache, CTagType* pTagType);
  CSubCache(const CSubCache&) = delete;
  CSubCache& operator=(const CSubCache&) = delete;
  virtual ~CSubCache();

  CTagType* getTagType() const { return m_pTagType; }
  // Whether it holds a bulk load that nothing has changed since.
  bool isLoaded() const { return m_bLoaded; }
  // Number of entries, the two sentinels included.
  size_t size() const { return m_bLoaded ? m_vecLoaded.size() + 2 : m_mapEntries.size(); }

  CTag* getTagAt(HXPos nPos);
  CTag* findPreviousOrNextTag(HXPos nPos, bool bPrevious);
  void add(HXPos nPos, CTag* pTag);
  void clear();

  void bulkLoad_Start(size_t nTagCount);
  void bulkLoad_Set(size_t nTagsIndex, CTag* pTag);
  void bulkLoad_AddToTypeSpecificCache(CTag* pTag);
  void bulkLoad_Finish();

  // The entries in position order (for tests).
  std::vector<const CCacheEntry*> entries();

 private:
  // Entries are kept in an ordered tree keyed by position + 1 (the first
  // sentinel of a source at 0 has all bits set and so sorts first), so that
  // remembering a position in the middle of a large page costs a logarithm,
  // not a shift of every later entry.
  using EntryMap = std::pmr::map<HXPos, CCacheEntry>;

  // The first entry at or after nPos (the last sentinel past the source's
  // end); it becomes the near entry of the next look-up.
  EntryMap::iterator findEntry(HXPos nPos);
  // itNext: the entry the new one goes right before, or any entry (a wrong
  // one only costs a search from the root).
  EntryMap::iterator insertEntry(const CCacheEntry& entry, EntryMap::iterator itNext);
  void mark(EntryMap::iterator it);
  bool isSentinel(const CCacheEntry* pEntry) const { return pEntry == m_pFirst || pEntry == m_pLast; }
  EntryMap::iterator addSearchStart(HXPos nPos);
  bool settlePassedEntry(EntryMap::iterator it, const char* szInternalError);
  bool addNextTag(HXPos nPos, CTag* pTag);
  bool addPreviousTag(HXPos nPos, CTag* pTag);
  void compact();
  void deleteEntries();
  void makeSentinels(bool bCompleted);
  CTag* searchForwards(EntryMap::iterator a, EntryMap::iterator b, HXPos p);
  CTag* searchBackwards(EntryMap::iterator a, EntryMap::iterator b, HXPos p);
  // Records where the walks that stepped over the entries of vecRun landed.
  void recordSkips(const std::vector<CCacheEntry*>& vecRun, HXPos nLanding, bool bPrevious);
  // The skip of a walk from pEntry, or -1 when none is known.
  HXPos skipOf(const CCacheEntry* pEntry, bool bPrevious) const {
    if (pEntry->nSkipGeneration != m_nSkipGeneration) return HX_NPOS;
    return bPrevious ? pEntry->nSkipPrevious : pEntry->nSkipNext;
  }
  CTag* uncachedSearch(HXPos p, bool bPrevious, HXPos nBreakAtPos);
  // Turns a bulk load kept as arrays into entries, before anything changes.
  void materialize();
  CTag* loadedTagAt(HXPos nPos) const;
  CTag* loadedPreviousOrNextTag(HXPos nPos, bool bPrevious) const;

  CCache* m_pCache;
  CTagType* m_pTagType;  // null: all tag types
  // The tree's nodes come from the cache's pool (see CCache::m_pool).
  EntryMap m_mapEntries;
  // Where the last look-up landed (end: nowhere), the start of the next one:
  // see NearbyLowerBound. Never an erased entry: compact() moves it on.
  EntryMap::iterator m_itNear = m_mapEntries.end();
  CCacheEntry* m_pFirst = nullptr;
  CCacheEntry* m_pLast = nullptr;
  std::vector<CCacheEntry*> m_vecMarked;
  // Tags of a bulk load, appended before the last sentinel.
  size_t m_nBulkCount = 0;
  // A bulk load of the all-types sub-cache is kept as the parse's tags in
  // page order instead of entries: every stretch is known then, so it is only
  // read, by binary search, until something would change it. The registered
  // tags apart, since only they answer previous and next searches.
  // Begins are kept beside the tags so that the searches read one array;
  // walks ask for the tag after the one found last, which the hint answers.
  bool m_bLoaded = false;
  std::vector<CTag*> m_vecLoaded;
  std::vector<HXPos> m_vecLoadedBegins;
  // Only filled once an unregistered tag is loaded.
  bool m_bUnregisteredLoaded = false;
  std::vector<CTag*> m_vecLoadedRegistered;
  std::vector<HXPos> m_vecLoadedRegisteredBegins;
  mutable size_t m_nLoadedHint = 0;
  // A page of many unregistered tags (end tags with attributes, stray end
  // tags) would make every walk step over all of them again; the skips let
  // a walk jump over what earlier walks passed. Anything that could change
  // such a walk (an entry inside a known stretch, a tag set on an entry, the
  // entries replaced) starts a new generation, which drops every skip.
  uint64_t m_nSkipGeneration = 1;
};

// What forward searches for one tag text (an end tag's delimiter, name and
// closing delimiter; a start tag's "<" and name) have shown about the page.
struct CTagSearchMemo {
  // From any position at or after it no such tag follows.
  HXPos nNoneFrom = HX_NPOS;
  // Known stretches by the begin of the tag that ends them: from any
  // position in [nFrom, that begin] the first such tag is pTag. Stretches
  // never overlap.
  struct Stretch {
    HXPos nFrom;
    CTag* pTag;
  };
  // The nodes come from the cache's pool: packed there, not spread over a
  // large page's heap, they are freed with the page in a few passes over
  // memory instead of a cache miss each.
  using StretchMap = std::pmr::map<HXPos, Stretch>;
  StretchMap mapStretches;
  // The stretch the last search answered from or recorded (end: none), where
  // the next one, a little further on the page, starts looking.
  StretchMap::iterator itNear = mapStretches.end();

  explicit CTagSearchMemo(std::pmr::memory_resource* pPool) : mapStretches(pPool) {}
  // itNear points into this memo's own stretches.
  CTagSearchMemo(const CTagSearchMemo&) = delete;
  CTagSearchMemo& operator=(const CTagSearchMemo&) = delete;
};

// How an optional end-tag walk ended: at the element's own end tag, before a
// tag that ends the element (an empty end tag is made at its begin), or at
// the page's end (no tag).
struct CWalkOutcome {
  CTag* pTag = nullptr;
  bool bOwnEndTag = false;
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
  std::pmr::memory_resource* getPool() { return &m_pool; }
  CSubCache* getAllTypesSubCache() const { return m_pAllTypes; }

  // A forward search for a tag text remembered per kind (an end tag type;
  // null for start tags) and text. Such a search walks every occurrence of
  // the text from nPos on and stops at the first that is a tag of the kind.
  // So when none was found from some position, none is found from any later
  // one; when the first was found at h from some position, it is the first
  // from every position up to h too; and a search from before a known
  // stretch only has to reach it. search(nPos, nLimit) runs the walk over
  // occurrences that begin before nLimit (-1: no limit). The tags at the
  // occurrences come from the all-types sub-cache, whose entries the memos
  // are forgotten with, so an answer from a memo is the one the search gives.
  // A search bounded by nBound (-1: none) answers only with a tag that begins
  // before it and looks no further: one that ends there without a find has
  // learnt nothing about the rest of the page and records nothing.
  template <class Search>
  CTag* rememberedForwardSearch(const void* pKind, const std::string& sText, HXPos nPos, HXPos nBound,
                                Search search);
  // Optional end-tag walks of the elements of one element index. A walk
  // passes the tags after its start one by one (or a stepped-over element as
  // a whole); any walk of that index that reaches a position the first one
  // passed over tag by tag goes on exactly as it did. Stretches are
  // [from, to] pairs of such positions. A page of many elements that all
  // walk to its end (head after head) walks it once instead of once each.
  const CWalkOutcome* walkOutcome(int64_t nElementIndex, HXPos nPos) const;
  void rememberWalk(int64_t nElementIndex, const std::vector<std::pair<HXPos, HXPos>>& vecStretches,
                    const CWalkOutcome& outcome);
  // Forgets the search memos and the walks: they hold what the all-types
  // sub-cache's current entries imply.
  void forgetEndTagSearches() {
    m_mapWalks.clear();
    m_mapEndTagSearches.clear();
    ++m_nEndTagSearchesForgotten;
  }
  // Changes whenever the memos are forgotten: a search that saw it change
  // must not record what it found.
  uint64_t endTagSearchesForgotten() const { return m_nEndTagSearchesForgotten; }

 private:
  CSource* m_pSource;
  // The pool of every sub-cache's tree nodes: a full parse makes one per
  // tag, and the pool takes no lock shared with other pages. One pool for
  // all of them keeps a small page from paying for a pool per tag type.
  std::pmr::unsynchronized_pool_resource m_pool;
  // A page deeply nested with elements whose end tags never come would
  // otherwise search to the page's end once per element.
  std::map<std::pair<const void*, std::string>, CTagSearchMemo> m_mapEndTagSearches;
  struct CWalkStretch {
    HXPos nFrom;
    CWalkOutcome outcome;
  };
  // Per element index, stretches by their last position.
  std::map<int64_t, std::map<HXPos, CWalkStretch>> m_mapWalks;
  uint64_t m_nEndTagSearchesForgotten = 0;
  CSubCache* m_pAllTypes;
  std::vector<CSubCache*> m_vecSubCaches;
};

// The begin of a tag (the template below is used where CTag is incomplete).
HXPos TagBegin(const CTag* pTag);

template <class Search>
CTag* CCache::rememberedForwardSearch(const void* pKind, const std::string& sText, HXPos nPos, HXPos nBound,
                                      Search search) {
  const auto within = [nBound](CTag* pTag) { return pTag != nullptr && TagBegin(pTag) < nBound ? pTag : nullptr; };
  // Memos are only dropped all at once, with the counter moved on, so the
  // reference stays good while the counter stands (a nested search may add
  // memos and stretches; neither moves an existing one).
  CTagSearchMemo& memo = m_mapEndTagSearches.try_emplace(std::make_pair(pKind, sText), &m_pool).first->second;
  if (nPos >= memo.nNoneFrom || nPos >= nBound) return nullptr;
  HXPos nLimit;
  CTag* pKnown = nullptr;
  auto it = NearbyLowerBound(memo.mapStretches, memo.itNear, nPos);
  if (it != memo.mapStretches.end()) {
    memo.itNear = it;
    if (it->second.nFrom <= nPos) return within(it->second.pTag);
    nLimit = it->second.nFrom;
    pKnown = it->second.pTag;
  } else {
    nLimit = memo.nNoneFrom;
  }
  // A bound before what is known cuts the search short.
  const bool bCut = nBound < nLimit;
  const uint64_t nForgotten = m_nEndTagSearchesForgotten;
  CTag* pFound = search(nPos, bCut ? nBound : nLimit);
  if (pFound == nullptr && !bCut) pFound = pKnown;
  // A search that had the sub-cache's entries replaced records nothing.
  if (m_nEndTagSearchesForgotten != nForgotten) return within(pFound);
  if (pFound == nullptr) {
    if (!bCut) memo.nNoneFrom = std::min(memo.nNoneFrom, nPos);
    return nullptr;
  }
  // The tag found is the first from nPos, bound or not. It begins at or
  // before the stretch that bounded the search, so its stretch goes right
  // before that one, or is it.
  const HXPos nBegin = TagBegin(pFound);
  auto itHint = NearbyLowerBound(memo.mapStretches, memo.itNear, nBegin);
  auto itStretch = memo.mapStretches.try_emplace(itHint, nBegin);
  CTagSearchMemo::Stretch& stretch = itStretch->second;
  if (stretch.pTag == nullptr || nPos < stretch.nFrom) stretch.nFrom = nPos;
  stretch.pTag = pFound;
  memo.itNear = itStretch;
  return within(pFound);
}
