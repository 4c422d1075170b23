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
  int64_t getIndex(const ci_string& csName) const;
  static int64_t getElementIndex(const ci_string& csName);
  // The name at an index; null outside the vocabulary.
  static const std::string* getElementName(int64_t nIndex);

  std::vector<std::string> m_vecNames;
  std::map<ci_string, int64_t> m_mapNameIndex;

 private:
  // Indexes of the names by their lower-case first letter: every tag of a
  // page asks for its index, and a handful of length checks beats the map.
  std::vector<int64_t> m_vecByFirstLetter[26];
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
