// The base of everything the parser hands out: a half-open range of byte
// positions in one page source. Every segment registers itself with its source
// at construction, and the source deletes them all when it goes away.
#pragma once

#include <cstddef>
#include <new>
#include <string>
#include <vector>

#include "common/ci_string.h"
#include "html/parser_types.h"

class CSegment {
 public:
  // Null when the arguments are refused or the allocation fails.
  static CSegment* CREATE_NEW_INST(CSource* pSource, HXPos nBegin, HXPos nEnd);
  static bool checkConstructorArgs(CSource* pSource, HXPos nBegin, HXPos nEnd);
  static bool checkConstructorArgs(HXPos nBegin, HXPos nEnd);

  CSegment(CSource* pSource, HXPos nBegin, HXPos nEnd);
  CSegment(const CSegment&) = delete;

  // Parser objects live in their source's arena and are destroyed by it;
  // the source itself (and anything made without a source) uses the heap.
  static void* operator new(size_t nSize, CSource* pSource, const std::nothrow_t&) noexcept;
  static void operator delete(void*, CSource*, const std::nothrow_t&) noexcept {}
  static void* operator new(size_t nSize) { return ::operator new(nSize); }
  static void operator delete(void* p) noexcept { ::operator delete(p); }

  CSegment& operator=(const CSegment&) = delete;
  virtual ~CSegment();

  // Elements that start inside the segment and are not nested in another of
  // them. The list belongs to the segment; the elements to the source.
  virtual const std::vector<CElement*>& getChildElements();
  // Attributes parsed from the segment's text; null when there are none or
  // they are malformed.
  virtual CAttributes* parseAttributes();

  HXPos getBegin() const { return m_nBegin; }
  HXPos getEnd() const { return m_nEnd; }
  HXPos length() const { return m_nEnd - m_nBegin; }
  CSource* getSource() const { return m_pSource; }
  bool isEmpty() const { return m_nBegin == m_nEnd; }

  bool operator!=(const CSegment& other) const {
    return m_pSource != other.m_pSource || m_nBegin != other.m_nBegin || m_nEnd != other.m_nEnd;
  }
  bool operator==(const CSegment& other) const { return !(*this != other); }

  // The segment's text (empty for an empty segment).
  std::string toString() const;
  void toString(ci_string& csOut) const;

  // Every tag of the type (all types when null) inside the segment, in order.
  void findAllTags(CTagType* pTagType, std::vector<CTag*>& vecTags) const;

 protected:
  // For subclasses that list themselves with the source only when their
  // destructor will have something to free (see CSource::addSegment).
  struct CListedBySubclass {};
  CSegment(CSource* pSource, HXPos nBegin, HXPos nEnd, CListedBySubclass);
  // Whether a name's text lives on the heap (beyond the string's own room).
  static bool NameOnHeap(const ci_string& csName) { return csName.capacity() > ci_string().capacity(); }

  // Fills this segment's child list: elements beginning in [nFrom, nTo),
  // walked iteratively so that deep nesting cannot exhaust the stack.
  void computeChildElements(HXPos nFrom, HXPos nTo, bool bTopLevel);

  // Where the segment's child list is kept (null until computed). Elements
  // and the source hold it themselves; for any other segment, which seldom
  // has one, the source keeps it, so that the many attribute and value
  // segments carry no slot.
  virtual std::vector<CElement*>** childListSlot();
  // An empty child list, now marked as computed; made in the source's
  // arena on first use.
  std::vector<CElement*>& resetChildElements();
  bool childElementsComputed() { return *childListSlot() != nullptr; }

  HXPos m_nBegin;
  HXPos m_nEnd;
  CSource* m_pSource;

  friend class CElement;
  friend class CSource;
};
