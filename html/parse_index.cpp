#include "html/parse_index.h"

#include <algorithm>

#include "html/html_elements.h"
#include "html/tag.h"
#include "html/tag_types.h"

CParseIndex::CParseIndex(const std::vector<CTag*>& vecTags) {
  CStartTagType* pNormalStart = CStartTagTypeSingletonData::getInstance()->m_pNormal;
  CEndTagType* pNormalEnd = CEndTagTypeSingletonData::getInstance()->m_pNormal;
  for (CTag* pTag : vecTags) {
    if (pTag->getTagType() == pNormalStart) {
      groupFor(pTag).starts.emplace_back(pTag->getBegin(), pTag);
    } else if (pTag->getTagType() == pNormalEnd) {
      groupFor(pTag).ends.emplace_back(pTag->getBegin(), pTag);
    }
  }
}

CParseIndex::Groups& CParseIndex::groupFor(const CTag* pTag) {
  // An end tag whose name is made on first use has no index yet.
  int64_t nIndex = pTag->getElementIndex();
  if (nIndex < 0) nIndex = CHTMLElementNameSingletonData::getElementIndex(pTag->getName());
  if (nIndex < 0) return m_mapGroups[Key(pTag->getName())];
  const auto nAt = static_cast<size_t>(nIndex);
  if (nAt >= m_vecKnownSlots.size()) m_vecKnownSlots.resize(nAt + 1, 0);
  if (m_vecKnownSlots[nAt] == 0) {
    m_vecKnownGroups.emplace_back();
    m_vecKnownSlots[nAt] = static_cast<uint32_t>(m_vecKnownGroups.size());
  }
  return m_vecKnownGroups[m_vecKnownSlots[nAt] - 1];
}

const CParseIndex::Groups* CParseIndex::find(const ci_string& csName) const {
  const int64_t nIndex = CHTMLElementNameSingletonData::getElementIndex(csName);
  if (nIndex >= 0) {
    const auto nAt = static_cast<size_t>(nIndex);
    return nAt < m_vecKnownSlots.size() && m_vecKnownSlots[nAt] != 0 ? &m_vecKnownGroups[m_vecKnownSlots[nAt] - 1]
                                                                     : nullptr;
  }
  auto it = m_mapGroups.find(Key(csName));
  return it != m_mapGroups.end() ? &it->second : nullptr;
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
  const Groups* pGroups = find(csName);
  return pGroups != nullptr ? static_cast<CStartTag*>(First(pGroups->starts, nPos)) : nullptr;
}

CEndTag* CParseIndex::nextEndTag(HXPos nPos, const ci_string& csName) const {
  const Groups* pGroups = find(csName);
  return pGroups != nullptr ? static_cast<CEndTag*>(First(pGroups->ends, nPos)) : nullptr;
}

bool CParseIndex::takeNameGroup(const ci_string& csName, std::span<const Entry>* pStarts,
                                std::span<const Entry>* pEnds) const {
  const Groups* pGroups = find(csName);
  if (pGroups == nullptr || pGroups->bTaken || pGroups->starts.empty()) return false;
  pGroups->bTaken = true;
  *pStarts = pGroups->starts;
  *pEnds = pGroups->ends;
  return true;
}
