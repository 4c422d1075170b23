// The normal start and end tags of a full sequential parse, grouped by name
// in page order. Once a page has been parsed through, the end-tag matching
// asks "the next start tag (end tag) of this name from here" thousands of
// times; the groups answer by binary search instead of a text search over
// the page followed by a tag lookup per occurrence.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/ci_string.h"
#include "html/parser_types.h"

class CParseIndex {
 public:
  // The registered tags of the parse, in page order.
  explicit CParseIndex(const std::vector<CTag*>& vecTags);

  // The first normal start tag named csName (ignoring ASCII case) that
  // begins at or after nPos; null when none.
  CStartTag* nextStartTag(HXPos nPos, const ci_string& csName) const;
  // The first normal end tag named csName that begins at or after nPos.
  CEndTag* nextEndTag(HXPos nPos, const ci_string& csName) const;

  using Entry = std::pair<HXPos, CTag*>;
  // The normal start and end tags named csName, each in page order, handed
  // out once per name for the one pass that pairs them all; false when they
  // were handed out before or the name has no start tag.
  bool takeNameGroup(const ci_string& csName, std::span<const Entry>* pStarts, std::span<const Entry>* pEnds) const;

 private:
  // A name's tags: its start tags, then its end tags, as two runs of the
  // one entry array (counted first, then placed, so that building the index
  // costs two passes and one allocation, not a growing array per name).
  struct Group {
    uint32_t nStarts = 0;
    uint32_t nEnds = 0;
    size_t nFirst = 0;
    mutable bool bTaken = false;
  };
  static constexpr uint32_t kNoGroup = ~uint32_t{0};
  static std::string Key(const ci_string& csName);
  static CTag* First(std::span<const Entry> entries, HXPos nPos);
  std::span<const Entry> starts(const Group& group) const { return {m_vecEntries.data() + group.nFirst, group.nStarts}; }
  std::span<const Entry> ends(const Group& group) const {
    return {m_vecEntries.data() + group.nFirst + group.nStarts, group.nEnds};
  }
  uint32_t groupOf(const CTag* pTag);
  const Group* find(const ci_string& csName) const;

  // Known element names by their index; any other name by its lower case.
  std::vector<uint32_t> m_vecKnownGroups;
  std::unordered_map<std::string, uint32_t> m_mapGroups;
  std::vector<Group> m_vecGroups;
  std::vector<Entry> m_vecEntries;
};
