// Attributes of a start tag (or of any segment): a byte-by-byte state machine
// that tolerates the usual errors of real pages, logs each one, counts the
// serious ones and rejects the whole list when there are too many or when a
// "<" shows that the tag is not a tag.
#pragma once

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

  CAttribute(CSource* pSource, const ci_string& csName, CSegment* pNameSegment, CSegment* pValueSegment,
             CSegment* pValueSegmentIncludingQuotes);
  ~CAttribute() override;

  const ci_string& getName() const { return m_csName; }
  CSegment* getNameSegment() const { return m_pNameSegment; }
  CSegment* getValueSegment() const { return m_pValueSegment; }
  CSegment* getValueSegmentIncludingQuotes() const { return m_pValueSegmentIncludingQuotes; }
  bool hasValue() const { return m_pValueSegment != nullptr; }
  // The value's text without quotes; empty when there is no value.
  std::string getValue() const;

 private:
  ci_string m_csName;
  CSegment* m_pNameSegment;
  CSegment* m_pValueSegment;
  CSegment* m_pValueSegmentIncludingQuotes;
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

  CAttributes(CSource* pSource, HXPos nBegin, HXPos nEnd, std::vector<CAttribute*>* pAttributeList);
  ~CAttributes() override;

  // The first attribute of that name, compared without case; null when none.
  CAttribute* getAttribute(const ci_string& csName) const;
  const std::vector<CAttribute*>& getList() const { return m_vecAttributes; }
  size_t size() const { return m_vecAttributes.size(); }

 private:
  std::vector<CAttribute*> m_vecAttributes;
};
