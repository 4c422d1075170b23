// The parsed document of one response page: a segment over the page's HTML
// data inside the response buffer, the owner of every segment the parser
// creates over it, the holder of the position cache and of the tag list of a
// full sequential parse. Parsing is on demand; making a source parses nothing.
// A source and its segments belong to one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/ci_string.h"
#include "html/declaration_scan.h"
#include "html/parse_index.h"
#include "html/position_cache.h"
#include "html/segment.h"

class CSource : public CSegment {
 public:
  // pBuffer is the response buffer's first byte (position 0); it is neither
  // owned nor copied and must outlive the source. The caller checks the two
  // positions with CSegment::checkConstructorArgs first.
  CSource(const char* pBuffer, HXPos nHtmlDataBeginPos, HXPos nDataLength);
  ~CSource() override;

  // The checked construction: null (after log lines) when the positions are
  // refused or the allocation fails.
  static CSource* CREATE_NEW_INST(const char* pBuffer, HXPos nHtmlDataBeginPos, HXPos nDataLength);
  static bool checkConstructorArgs(HXPos nHtmlDataBeginPos, HXPos nDataLength);

  const std::vector<CElement*>& getChildElements() override;
  std::vector<CElement*>** childListSlot() override { return &m_pChildElements; }
  // The child list slot of a segment that is neither an element nor the
  // source.
  std::vector<CElement*>** otherChildListSlot(const CSegment* pSegment) { return &m_mapOtherChildLists[pSegment]; }

  const char* getBuffer() const { return m_pBuffer; }
  unsigned char byteAt(HXPos nPos) const { return static_cast<unsigned char>(m_pBuffer[nPos]); }
  bool contains(HXPos nPos) const { return nPos >= m_nBegin && nPos < m_nEnd; }

  // Text access. Positions are checked against the source's range.
  std::string substring(HXPos nPos, HXPos nCount) const;
  void substring(HXPos nPos, HXPos nCount, ci_string& csOut) const;
  // The position after the name that starts at nPos, or -1 when no name does.
  HXPos getNameEnd(HXPos nPos) const;
  HXPos findPreviousNoCase(const char* pPattern, HXPos nPos, HXPos nLimit) const;
  // The next occurrence of the pattern, without case, at or after nPos (at or
  // before it when bPrevious), inside the source; HX_NPOS when none. A forward
  // search looks only at occurrences that begin before nLimit.
  HXPos findNoCaseFrom(const ci_string& csPattern, HXPos nPos, bool bPrevious, HXPos nLimit = HX_NPOS) const;
  // The first occurrence, without case, of a tag's closing delimiter at or
  // after nPos; HX_NPOS when none. Every '<' that no tag type can close asks
  // this, so what earlier calls found is remembered per delimiter: a later
  // call inside a known stretch answers at once instead of searching to the
  // page's end again. The delimiter text must not change while the source
  // lives (the tag types' own strings and literals).
  HXPos findClosingDelimiter(const char* pDelimiter, HXPos nPos);

  // Searches.
  CTag* getTagAt(HXPos nPos);
  CStartTag* findPreviousStartTag(HXPos nPos);
  CStartTag* findNextStartTag(HXPos nPos);
  // The next start tag of a name (any name when empty), or with an
  // attribute of that value, that begins before nLimit (-1: the page's end).
  // The search looks no further than the limit: asked inside an element, it
  // costs the element's size whatever follows it in the page.
  CStartTag* findNextStartTag(HXPos nPos, const ci_string& csName, HXPos nLimit = HX_NPOS);
  CStartTag* findNextStartTag(HXPos nPos, const ci_string& csAttributeName, const ci_string& csValue,
                              bool bValueCaseSensitive, HXPos nLimit = HX_NPOS);
  CEndTag* findNextEndTag(HXPos nPos, const ci_string& csName, CEndTagType* pEndTagType);
  CTag* findEnclosingTag(HXPos nPos, CTagType* pTagType);
  CElement* getElementById(const ci_string& csId);
  CElement* getEnclosingElement(HXPos nPos);
  const std::vector<CTag*>& fullSequentialParse();

  // Bookkeeping used by the parser itself.
  // Every segment made over the page is counted; those whose destructor has
  // work to do (a name or child list on the heap) are also listed, so that
  // the source's destructor visits only them.
  void countSegment() { ++m_nSegmentCount; }
  // Throws std::bad_alloc when the arena has no room for the entry.
  void addSegment(CSegment* pSegment);
  // Memory for a parser object of this source; null when none is left.
  void* allocate(size_t nSize) noexcept;
  CCache& getCache() { return m_cache; }
  // The attribute scan's working list, reused by every tag of the page.
  std::vector<CAttribute*>& attributeScratch() { return m_vecAttributeScratch; }
  bool useAllTypesCache() const { return m_bUseAllTypesCache; }
  // Switches the position cache off (or on) for every search; lets tests
  // compare cached and uncached answers.
  void setUseCaches(bool bUse) {
    m_bUseAllTypesCache = bUse;
    m_bUseSpecialTypesCache = bUse;
  }
  bool useSpecialTypesCache() const { return m_bUseSpecialTypesCache; }
  HXPos getFullParseEndPos() const { return m_nFullParseEndPos; }
  void setFullParseEndPos(HXPos nPos) { m_nFullParseEndPos = nPos; }
  bool isFullSequentialParseDone() const { return m_bFullSequentialParseDone; }
  const std::vector<CTag*>& getAllTags() const { return m_vecAllTags; }
  size_t getSegmentCount() const { return m_nSegmentCount; }
  void fillFullParseLists(const std::vector<CTag*>& vecTags, size_t nRegisteredCount);

  // The page's quotes, brackets and '>' for declarations whose scans run
  // long; made on first use.
  const CDeclarationScan& declarationScan();

  // The full parse's tags grouped by name, while the position cache still
  // holds exactly that parse (so that its answers are the cache's); null
  // before a full parse or when searches bypass the cache.
  const CParseIndex* parseIndex();
  // For each of orderedTags(): its element index times two, plus one for a
  // start tag. Passes over every tag of the page read this small array
  // instead of each tag object. Made on first use.
  const std::vector<int32_t>& orderedTagCodes();
  // The full parse's registered tags in page order, under the same
  // condition: stepping from one to the next is then what a search for the
  // next registered tag answers. Null otherwise.
  const std::vector<CTag*>* orderedTags() const {
    return m_bFullSequentialParseDone && m_bUseAllTypesCache && m_cache.getAllTypesSubCache()->isLoaded()
               ? &m_vecAllTags
               : nullptr;
  }

  // Whether nPos lies strictly inside a comment or CDATA section that begins
  // before it. Answered from one forward walk over the page's comment and
  // CDATA delimiters, remembered per source, instead of a chain of backward
  // searches that would recurse once per earlier comment.
  bool isInsideOpaqueTag(HXPos nPos);

  // Where the tag the page was cut in begins (FindCutTagBegin), HX_NPOS when
  // the page ends outside tags; found on first use.
  HXPos cutTagBegin();

 private:
  const char* m_pBuffer;
  CCache m_cache;
  bool m_bUseAllTypesCache = true;
  bool m_bUseSpecialTypesCache = true;
  HXPos m_nFullParseEndPos = HX_NPOS;
  std::vector<CTag*> m_vecAllTags;
  std::vector<CAttribute*> m_vecAttributeScratch;
  // The segments the destructor must visit, in creation order: blocks of
  // pointers in the arena, which neither copy on growth nor hold unused
  // capacity on the heap.
  struct CSegmentBlock {
    static constexpr size_t kSize = 254;
    CSegmentBlock* pNext;
    size_t nCount;
    CSegment* apSegments[kSize];
  };
  CSegmentBlock* m_pFirstSegmentBlock = nullptr;
  CSegmentBlock* m_pLastSegmentBlock = nullptr;
  size_t m_nSegmentCount = 0;
  bool m_bFullSequentialParseDone = false;
  std::unique_ptr<CParseIndex> m_pParseIndex;
  std::vector<int32_t> m_vecOrderedTagCodes;
  // Child lists: the source's own, and those of other plain segments (all
  // in the arena).
  std::vector<CElement*>* m_pChildElements = nullptr;
  std::unordered_map<const CSegment*, std::vector<CElement*>*> m_mapOtherChildLists;
  std::unique_ptr<CDeclarationScan> m_pDeclarationScan;

  // What closing delimiter searches have shown: from any position in
  // [nFrom, nHit] the first occurrence is at nHit; from nNoneFrom on there
  // is none.
  struct CClosingSearch {
    std::string sDelimiter;
    // The text the memo was last asked with: the tag types pass their own
    // delimiter strings, which never move, so most calls match on it.
    const char* pLastAsked = nullptr;
    HXPos nFrom = HX_NPOS;
    HXPos nHit = HX_NPOS;
    HXPos nNoneFrom = HX_NPOS;
  };
  std::vector<CClosingSearch> m_vecClosingSearches;

  // Comments and CDATA sections found by the forward walk, in page order,
  // and the position the walk has classified everything before.
  std::vector<CTag*> m_vecOpaqueTags;
  HXPos m_nOpaqueScanPos;

  bool m_bCutTagKnown = false;
  HXPos m_nCutTagBegin = HX_NPOS;

  // The arena of the source's parser objects: a page makes thousands of
  // small objects that all die together with the source.
  std::vector<void*> m_vecArenaBlocks;
  char* m_pArenaNext = nullptr;
  size_t m_nArenaLeft = 0;
};
