// Attributes of a start tag (or of any segment): a byte-by-byte state machine
// that tolerates the usual errors of real pages, logs each one, counts the
// serious ones and rejects the whole list when there are too many or when a
// "<" shows that the tag is not a tag.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/ci_string.h"
#include "html/segment.h"

class CAttribute : public CSegment {
 public:
  static CAttribute* CREATE_NEW_INST(CSource* pSource, const ci_string& csName, CSegment* pNameSegment,
                                     CSegment* pValueSegment, CSegment* pValueSegmentIncludingQuotes);
  static bool checkConstructorArgs(CSource* pSource, const ci_string& csName, CSegment* pNameSegment,
                                   CSegment* pValueSegment, CSegment* pValueSegmentIncludingQuotes);

  // The attribute parse's form: positions only. The name runs from nBegin to
  // nNameEnd; without a value nValueBegin is HX_NPOS; the value including
  // its quotes ends where the attribute ends.
  static CAttribute* CREATE_NEW_INST(CSource* pSource, const ci_string& csName, HXPos nBegin, HXPos nNameEnd,
                                     HXPos nValueBegin, HXPos nValueEnd, HXPos nInclBegin, HXPos nEnd);

  CAttribute(CSource* pSource, const ci_string& csName, CSegment* pNameSegment, CSegment* pValueSegment,
             CSegment* pValueSegmentIncludingQuotes);
  CAttribute(CSource* pSource, const ci_string& csName, HXPos nBegin, HXPos nNameEnd, HXPos nValueBegin,
             HXPos nValueEnd, HXPos nInclBegin, HXPos nEnd);
  ~CAttribute() override;

  const ci_string& getName() const { return m_csName; }
  // The segments are made on first use: a page has tens of thousands of
  // attributes and few are ever looked at this closely. Null only when the
  // source has no memory left.
  CSegment* getNameSegment() const;
  CSegment* getValueSegment() const;
  CSegment* getValueSegmentIncludingQuotes() const;
  bool hasValue() const { return m_nValueOffset != kNone; }
  // The value's text without quotes; empty when there is no value.
  std::string getValue() const;

 private:
  static constexpr uint32_t kNone = ~uint32_t{0};
  struct CSegments {
    CSegment* pName = nullptr;
    CSegment* pValue = nullptr;
    CSegment* pValueIncludingQuotes = nullptr;
  };
  // The segments' holder, made on first use; null when out of memory.
  CSegments* segments() const;

  ci_string m_csName;
  // Offsets from the attribute's begin: an attribute lies inside one tag.
  uint32_t m_nNameLength;
  uint32_t m_nValueOffset = kNone;  // kNone: no value
  uint32_t m_nValueLength = 0;
  uint32_t m_nInclOffset = 0;
  mutable CSegments* m_pSegments = nullptr;
};

class CAttributes : public CSegment {
 public:
  static CAttributes* construct(CSource* pSource, const char* csType, int nState, HXPos nBegin,
                                HXPos nAttributesBegin, HXPos nMaxEnd, CStartTagType* pStartTagType,
                                const ci_string& csName, int64_t nElementIndex, int nMaxErrorCount);
  // Takes the list's entries over (the list is left empty).
  static CAttributes* CREATE_NEW_INST(CSource* pSource, HXPos nBegin, HXPos nEnd,
                                      std::vector<CAttribute*>* pAttributeList);
  static bool reachedMaxErrorCount(int nErrorCount, CSource* pSource, const char* csType, const ci_string& csName,
                                   HXPos nBegin, int nMaxErrorCount);
  static bool isInvalidEmptyElementTag(CStartTagType* pStartTagType, CSource* pSource, HXPos nPos,
                                       const char* csType, const ci_string& csName, HXPos nBegin);

  // ppAttributes: nCount attributes in the source's arena.
  CAttributes(CSource* pSource, HXPos nBegin, HXPos nEnd, CAttribute** ppAttributes, size_t nCount);
  ~CAttributes() override;

  // The first attribute of that name, compared without case; null when none.
  CAttribute* getAttribute(const ci_string& csName) const;
  std::span<CAttribute* const> getList() const { return {m_ppAttributes, m_nCount}; }
  size_t size() const { return m_nCount; }

 private:
  // The list lives in the source's arena with the attributes themselves.
  CAttribute** m_ppAttributes;
  size_t m_nCount;
};
