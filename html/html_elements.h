// The HTML element vocabulary (91 names) and what the parser knows about each
// element: whether it has an end tag, whether that is optional and which tags
// end it, and whether it may nest. Both tables are built once per process on
// first use and only read afterwards.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/ci_string.h"

class CHTMLElementNameSingletonData {
 public:
  CHTMLElementNameSingletonData();
  virtual ~CHTMLElementNameSingletonData();
  static CHTMLElementNameSingletonData* getInstance();

  // The element index of a name, case ignored; -1 when it is no element name.
  int64_t getIndex(const ci_string& csName) const { return getIndex(csName.data(), csName.size()); }
  int64_t getIndex(const char* pName, size_t nLength) const;
  static int64_t getElementIndex(const ci_string& csName);
  // The same for a name in a page buffer that is readable up to pReadableEnd:
  // with sixteen bytes to read the name is folded a word at a time.
  static int64_t getElementIndexInBuffer(const char* pName, size_t nLength, const char* pReadableEnd);
  // The name at an index; null outside the vocabulary.
  static const std::string* getElementName(int64_t nIndex);

  std::vector<std::string> m_vecNames;
  std::map<ci_string, int64_t> m_mapNameIndex;

 private:
  // Every tag of a page asks for its index: the names, folded to lower case
  // and packed into two words, sit in a small open-addressed table keyed by
  // those words, so a look-up is a hash and one or two word compares.
  struct CNameSlot {
    uint64_t nLow = 0;   // bytes 0-7
    uint64_t nHigh = 0;  // bytes 8-15, and the length in the top byte
    int64_t nIndex = -1;
  };
  static constexpr size_t kSlotCount = 256;
  static bool PackName(const char* pName, size_t nLength, uint64_t* pnLow, uint64_t* pnHigh);
  int64_t lookUp(uint64_t nLow, uint64_t nHigh) const;
  static size_t SlotOf(uint64_t nLow, uint64_t nHigh) {
    return static_cast<size_t>(((nLow ^ (nHigh * 0x9E3779B97F4A7C15ull)) * 0xFF51AFD7ED558CCDull) >> 56);
  }
  CNameSlot m_aSlots[kSlotCount];
};

// A set of element indexes held as a bit array.
class CHTMLElementSet {
 public:
  CHTMLElementSet();
  explicit CHTMLElementSet(uint64_t nIndex);
  CHTMLElementSet(const CHTMLElementSet& other);
  CHTMLElementSet& operator=(const CHTMLElementSet& other);
  virtual ~CHTMLElementSet();

  void add(uint64_t nIndex);
  bool contains(int64_t nIndex) const {
    if (nIndex < 0) return false;
    const uint64_t w = static_cast<uint64_t>(nIndex) / 32;
    if (w >= m_nWordCount) return false;
    return (m_pWords[w] >> (static_cast<uint64_t>(nIndex) % 32)) & 1u;
  }
  void unite(const CHTMLElementSet& other);
  void subtract(const CHTMLElementSet& other);
  uint64_t getWordCount() const { return m_nWordCount; }
  size_t count() const;

 private:
  void grow(uint64_t nWords);
  uint64_t m_nWordCount;
  uint32_t* m_pWords;
};

// The end-tag rule of one element whose end tag is optional.
class CEndTagRule {
 public:
  CHTMLElementSet m_EndingStartTags;
  CHTMLElementSet m_EndingEndTags;
  CHTMLElementSet m_SteppedOverElements;
};

class CHTMLElementsSingletonData {
 public:
  CHTMLElementsSingletonData();
  virtual ~CHTMLElementsSingletonData();
  static CHTMLElementsSingletonData* getInstance();

  static const CEndTagRule* getEndTagRule(int64_t nIndex);
  static const CHTMLElementSet& getEndTagRequiredElements();
  static const CHTMLElementSet& getNotNestableElements();

  CHTMLElementSet m_AllElements;
  CHTMLElementSet m_BlockElements;
  CHTMLElementSet m_EndTagForbiddenElements;
  CHTMLElementSet m_ListElements;
  CHTMLElementSet m_DefinitionElements;
  CHTMLElementSet m_TableSections;
  CHTMLElementSet m_TableSectionsAndCells;
  CHTMLElementSet m_NotNestableElements;
  std::map<uint64_t, CEndTagRule> m_mapEndTagRules;
  CHTMLElementSet m_EndTagOptionalElements;
  CHTMLElementSet m_EndTagRequiredElements;
  CHTMLElementSet m_HasEndTagElements;
};

// Element indexes the parser and the DOM name directly.
namespace HtmlElementIndex {
inline constexpr int64_t kBody = 12;
inline constexpr int64_t kHead = 40;
inline constexpr int64_t kHtml = 42;
}  // namespace HtmlElementIndex
