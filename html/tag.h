// Tags: segments of the page that a tag type recognised, start tags with
// their attributes and end tags, and every search that finds them in a
// source. Searches never parse the whole page; they look for a candidate text
// with the case-insensitive scanners and ask the tag types for a tag there.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "common/ci_string.h"
#include "html/segment.h"

class CTag : public CSegment {
 public:
  // A known element index of the name saves looking it up again.
  static constexpr int64_t kIndexUnknown = INT64_MIN;
  CTag(CSource* pSource, HXPos nBegin, HXPos nEnd, const ci_string& csName, int64_t nElementIndex = kIndexUnknown);
  ~CTag() override;

  virtual CElement* getElement() = 0;
  virtual bool isStartTag() const { return false; }
  virtual CTagType* getTagType() const = 0;
  // Whether the tag's type is one of the two unregistered types; set when
  // the tag is made (every pass over a page's tags asks).
  bool isUnregistered() const { return m_bUnregistered; }

  const ci_string& getName() const {
    if (m_bNameDeferred) materializeName();
    return m_csName;
  }
  int64_t getElementIndex() const { return m_nElementIndex; }
  bool isElementCached() const { return m_bElementCached; }

  // The tag at nPos (through the position cache when the source uses it).
  static CTag* getTagAt(CSource* pSource, HXPos nPos);
  static CTag* getTagAtUncached(CSource* pSource, HXPos nPos);
  // The nearest registered tag at or after nPos (at or before it backwards).
  static CTag* findPreviousOrNextTag(CSource* pSource, HXPos nPos, bool bPrevious);
  // The nearest tag of one type (any registered type when null).
  static CTag* findPreviousOrNextTag(CSource* pSource, HXPos nPos, CTagType* pTagType, bool bPrevious);
  static CTag* findPreviousOrNextTagUncached(CSource* pSource, HXPos nPos, bool bPrevious, HXPos nBreakAtPos);
  static CTag* findPreviousOrNextTagUncached(CSource* pSource, HXPos nPos, CTagType* pTagType, bool bPrevious,
                                             HXPos nBreakAtPos);
  // Walks the whole page once and records every tag in document order.
  static void parseAll(CSource* pSource, bool bAssumeNoNestedTags);
  static CTag* parseAllFindNextTag(CSource* pSource, HXPos nPos, bool bAssumeNoNestedTags);

 protected:
  // Made from the page text on first use; see CEndTag::deferName.
  void materializeName() const;

  mutable ci_string m_csName;
  CElement* m_pElement = nullptr;
  // An index into the known element names, or negative: small enough for
  // 32 bits, which keeps every tag 8 bytes shorter.
  int32_t m_nElementIndex;
  bool m_bElementCached = false;
  mutable bool m_bNameDeferred = false;
  // Whether the source's destructor visits this tag (its name is on the heap).
  mutable bool m_bListed = false;
  bool m_bUnregistered = false;

  friend class CStartTag;
  friend class CEndTag;
};

class CStartTag : public CTag {
 public:
  static CStartTag* CREATE_NEW_INST(CSource* pSource, HXPos nBegin, HXPos nEnd, CStartTagType* pStartTagType,
                                    const ci_string& csName, CAttributes* pAttributes,
                                    int64_t nElementIndex = kIndexUnknown);
  static bool checkConstructorArgs(CSource* pSource, HXPos nBegin, HXPos nEnd, CStartTagType* pStartTagType,
                                   const ci_string& csName, CAttributes* pAttributes);

  CStartTag(CSource* pSource, HXPos nBegin, HXPos nEnd, CStartTagType* pStartTagType, const ci_string& csName,
            CAttributes* pAttributes, int64_t nElementIndex = kIndexUnknown);

  CAttributes* parseAttributes() override;
  CElement* getElement() override;
  bool isStartTag() const override { return true; }
  CTagType* getTagType() const override;

  CStartTagType* getStartTagType() const { return m_pStartTagType; }
  CAttributes* getAttributes() const { return m_pAttributes; }
  bool isServerTag() const;

  // The end tag that closes this start tag, or null. When the nested
  // matching decided it, *pNextOfName is set to the next start tag of the
  // name that matching went on with.
  CEndTag* findEndTagInternal(std::optional<CStartTag*>* pNextOfName = nullptr);
  CEndTag* findOptionalEndTag(const class CEndTagRule& rule);
  bool isEmptyElementTag() const;
  // Whether the start tag's element ends by an optional end-tag rule.
  bool hasOptionalEndTag() const;

  // Start tag searches.
  static CStartTag* findPreviousOrNext(CSource* pSource, HXPos nPos, bool bPrevious);
  // The next start tag at or after nPos that begins before nLimit; the walk
  // over other tags stops at the limit instead of running to the page's end.
  static CStartTag* findNextBefore(CSource* pSource, HXPos nPos, HXPos nLimit);
  // A forward search by name or by attribute value answers only with a start
  // tag that begins before nLimit (-1: the page's end) and looks no further,
  // so a search inside an element costs the element's size whatever follows
  // it. Backward searches take no limit.
  static CStartTag* findPreviousOrNext(CSource* pSource, HXPos nPos, const ci_string& csSearchName, bool bIsXMLName,
                                       bool bPrevious, HXPos nLimit = HX_NPOS);
  static CStartTag* findNext(CSource* pSource, HXPos nPos, const ci_string& csAttributeName,
                             const ci_string& csValue, bool bValueCaseSensitive, HXPos nLimit = HX_NPOS);
  // Pairs inner start tags of the same name with their end tags. Returns the
  // matching end tag (null when none) and sets *ppNextStartTag to the next
  // start tag of the name after the nesting.
  // With bSettleInner (pNextEndTag being the first end tag of the name after
  // the start tag), every inner start tag matched on the way gets its element
  // at once: its own matching would find the same end tag, and deeply nested
  // pages would otherwise match each level again.
  static CEndTag* findEndTagNested(CStartTag* pStartTag, CEndTag* pNextEndTag, bool bCheckForEmptyElementTag,
                                   CStartTag** ppNextStartTag, bool bSettleInner = false);

  // Whether a search name is a well-formed name.
  static bool isXMLName(const ci_string& csName);

 private:
  // Whether the end tag search of pInner, a start tag of pOuter's name inside
  // pOuter's nested walk, goes the same way as pOuter's.
  static bool takesSamePath(const CStartTag* pOuter, const CStartTag* pInner);
  // Where an optional end-tag walk stands: the next position to look from,
  // and the stretches it has passed over tag by tag (the cache remembers
  // them with the walk's outcome).
  struct COptionalWalk {
    explicit COptionalWalk(HXPos nFrom) : nPos(nFrom), nStretchFrom(nFrom) {}
    HXPos nPos;
    HXPos nStretchFrom;
    std::vector<std::pair<HXPos, HXPos>> vecStretches;
    // The stepped-over start tag handed out to be built first.
    CStartTag* pPending = nullptr;
    // Tags passed so far: short walks are not worth remembering.
    size_t nPassed = 0;
  };
  // One run of the optional end-tag walk. Returns false, with *ppPending
  // set, when a stepped-over element must be built first.
  bool walkOptionalEndTag(const class CEndTagRule& rule, COptionalWalk& walk, struct CWalkOutcome* pOutcome,
                          CStartTag** ppPending);
  // The end tag of a walk's outcome: the element's own, or an empty one made
  // at the tag that ends the element or at the page's end.
  CEndTag* endTagOf(const struct CWalkOutcome& outcome);
  CElement* finishElement(CEndTag* pEndTag);
  // After a full parse, the elements of every start tag of this one's name
  // at once: the name's start and end tags paired as nested brackets in one
  // forward pass, as the tag-by-tag matching would pair them. False when the
  // name's end tags are not matched that way (or were paired before).
  bool settleNameFromParse();
  // The same for a name whose end tag is optional: one backward pass over
  // the parse's tags gives, for each, where a walk from there would end.
  bool settleOptionalFromParse(const class CEndTagRule& rule);
  // The element a walk's outcome gives. An element closed by another tag or
  // by the page's end needs no empty end tag object: its end is enough.
  CElement* finishElement(const struct CWalkOutcome& outcome);

  CAttributes* m_pAttributes;
  CStartTagType* m_pStartTagType;
};

class CEndTag : public CTag {
 public:
  static CEndTag* CREATE_NEW_INST(CSource* pSource, HXPos nBegin, HXPos nEnd, CEndTagType* pEndTagType,
                                  const ci_string& csName, int64_t nElementIndex = kIndexUnknown);

  CEndTag(CSource* pSource, HXPos nBegin, HXPos nEnd, CEndTagType* pEndTagType, const ci_string& csName,
          int64_t nElementIndex = kIndexUnknown);

  CElement* getElement() override;
  CTagType* getTagType() const override;
  CEndTagType* getEndTagType() const { return m_pEndTagType; }
  // For a tag made with an empty name whose name is the page text between
  // its "</" and its closing ">": the name is copied only when asked for. A
  // page of many "</" before one far ">" would otherwise hold a copy of the
  // rest of the page per tag.
  void deferName() { m_bNameDeferred = true; }

  static CEndTag* findPreviousOrNext(CSource* pSource, HXPos nPos, const ci_string& csName,
                                     CEndTagType* pEndTagType, bool bPrevious);

 private:
  CEndTagType* m_pEndTagType;
};
