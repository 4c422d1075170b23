#include "html/parse_index.h"

#include <algorithm>

#include "html/tag.h"
#include "html/tag_types.h"

CParseIndex::CParseIndex(const std::vector<CTag*>& vecTags) {
  CStartTagType* pNormalStart = CStartTagTypeSingletonData::getInstance()->m_pNormal;
  CEndTagType* pNormalEnd = CEndTagTypeSingletonData::getInstance()->m_pNormal;
  for (CTag* pTag : vecTags) {
    if (pTag->getTagType() == pNormalStart) {
      m_mapGroups[Key(pTag->getName())].starts.emplace_back(pTag->getBegin(), pTag);
    } else if (pTag->getTagType() == pNormalEnd) {
      m_mapGroups[Key(pTag->getName())].ends.emplace_back(pTag->getBegin(), pTag);
    }
  }
}

std::string CParseIndex::Key(const ci_string& csName) {
  std::string sKey(csName.data(), csName.size());
  for (char& c : sKey) c = static_cast<char>(ci_char_traits::lower(c));
  return sKey;
}

CTag* CParseIndex::First(const Group& group, HXPos nPos) {
  auto it = std::lower_bound(group.begin(), group.end(), nPos,
                             [](const std::pair<HXPos, CTag*>& entry, HXPos n) { return entry.first < n; });
  return it != group.end() ? it->second : nullptr;
}

CStartTag* CParseIndex::nextStartTag(HXPos nPos, const ci_string& csName) const {
  auto it = m_mapGroups.find(Key(csName));
  return it != m_mapGroups.end() ? static_cast<CStartTag*>(First(it->second.starts, nPos)) : nullptr;
}

CEndTag* CParseIndex::nextEndTag(HXPos nPos, const ci_string& csName) const {
  auto it = m_mapGroups.find(Key(csName));
  return it != m_mapGroups.end() ? static_cast<CEndTag*>(First(it->second.ends, nPos)) : nullptr;
}

bool CParseIndex::takeNameGroup(const ci_string& csName, std::span<const Entry>* pStarts,
                                std::span<const Entry>* pEnds) const {
  auto it = m_mapGroups.find(Key(csName));
  if (it == m_mapGroups.end() || it->second.bTaken || it->second.starts.empty()) return false;
  it->second.bTaken = true;
  *pStarts = it->second.starts;
  *pEnds = it->second.ends;
  return true;
}
