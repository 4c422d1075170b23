#include "html/parse_index.h"

#include <algorithm>

#include "html/html_elements.h"
#include "html/tag.h"
#include "html/tag_types.h"

CParseIndex::CParseIndex(const std::vector<CTag*>& vecTags) {
  CStartTagType* pNormalStart = CStartTagTypeSingletonData::getInstance()->m_pNormal;
  CEndTagType* pNormalEnd = CEndTagTypeSingletonData::getInstance()->m_pNormal;
  // Each tag's group (and whether it is a start tag), then every group's
  // place in the entry array, then the entries in page order.
  std::vector<uint32_t> vecTagGroups(vecTags.size(), kNoGroup);
  size_t nEntries = 0;
  for (size_t i = 0; i < vecTags.size(); ++i) {
    const CTag* pTag = vecTags[i];
    const CTagType* pType = pTag->getTagType();
    const bool bStart = pType == pNormalStart;
    if (!bStart && pType != pNormalEnd) continue;
    const uint32_t nGroup = groupOf(pTag);
    if (bStart) {
      ++m_vecGroups[nGroup].nStarts;
    } else {
      ++m_vecGroups[nGroup].nEnds;
    }
    vecTagGroups[i] = nGroup * 2 + (bStart ? 1 : 0);
    ++nEntries;
  }
  std::vector<size_t> vecNextStart(m_vecGroups.size());
  std::vector<size_t> vecNextEnd(m_vecGroups.size());
  size_t nAt = 0;
  for (size_t g = 0; g < m_vecGroups.size(); ++g) {
    m_vecGroups[g].nFirst = nAt;
    vecNextStart[g] = nAt;
    vecNextEnd[g] = nAt + m_vecGroups[g].nStarts;
    nAt += m_vecGroups[g].nStarts + m_vecGroups[g].nEnds;
  }
  m_vecEntries.resize(nEntries);
  for (size_t i = 0; i < vecTags.size(); ++i) {
    const uint32_t nCode = vecTagGroups[i];
    if (nCode == kNoGroup) continue;
    const size_t g = nCode / 2;
    size_t& nNext = (nCode & 1) != 0 ? vecNextStart[g] : vecNextEnd[g];
    m_vecEntries[nNext++] = Entry(vecTags[i]->getBegin(), vecTags[i]);
  }
}

uint32_t CParseIndex::groupOf(const CTag* pTag) {
  // An end tag whose name is made on first use has no index yet.
  int64_t nIndex = pTag->getElementIndex();
  if (nIndex < 0) nIndex = CHTMLElementNameSingletonData::getElementIndex(pTag->getName());
  uint32_t* pGroup;
  if (nIndex < 0) {
    pGroup = &m_mapGroups.try_emplace(Key(pTag->getName()), kNoGroup).first->second;
  } else {
    const auto nAt = static_cast<size_t>(nIndex);
    if (nAt >= m_vecKnownGroups.size()) m_vecKnownGroups.resize(nAt + 1, kNoGroup);
    pGroup = &m_vecKnownGroups[nAt];
  }
  if (*pGroup == kNoGroup) {
    *pGroup = static_cast<uint32_t>(m_vecGroups.size());
    m_vecGroups.emplace_back();
  }
  return *pGroup;
}

const CParseIndex::Group* CParseIndex::find(const ci_string& csName) const {
  const int64_t nIndex = CHTMLElementNameSingletonData::getElementIndex(csName);
  uint32_t nGroup = kNoGroup;
  if (nIndex >= 0) {
    const auto nAt = static_cast<size_t>(nIndex);
    if (nAt < m_vecKnownGroups.size()) nGroup = m_vecKnownGroups[nAt];
  } else {
    auto it = m_mapGroups.find(Key(csName));
    if (it != m_mapGroups.end()) nGroup = it->second;
  }
  return nGroup != kNoGroup ? &m_vecGroups[nGroup] : nullptr;
}

std::string CParseIndex::Key(const ci_string& csName) {
  std::string sKey(csName.data(), csName.size());
  for (char& c : sKey) c = static_cast<char>(ci_char_traits::lower(c));
  return sKey;
}

CTag* CParseIndex::First(std::span<const Entry> entries, HXPos nPos) {
  auto it = std::lower_bound(entries.begin(), entries.end(), nPos,
                             [](const Entry& entry, HXPos n) { return entry.first < n; });
  return it != entries.end() ? it->second : nullptr;
}

CStartTag* CParseIndex::nextStartTag(HXPos nPos, const ci_string& csName) const {
  const Group* pGroup = find(csName);
  return pGroup != nullptr ? static_cast<CStartTag*>(First(starts(*pGroup), nPos)) : nullptr;
}

CEndTag* CParseIndex::nextEndTag(HXPos nPos, const ci_string& csName) const {
  const Group* pGroup = find(csName);
  return pGroup != nullptr ? static_cast<CEndTag*>(First(ends(*pGroup), nPos)) : nullptr;
}

bool CParseIndex::takeNameGroup(const ci_string& csName, std::span<const Entry>* pStarts,
                                std::span<const Entry>* pEnds) const {
  const Group* pGroup = find(csName);
  if (pGroup == nullptr || pGroup->bTaken || pGroup->nStarts == 0) return false;
  pGroup->bTaken = true;
  *pStarts = starts(*pGroup);
  *pEnds = ends(*pGroup);
  return true;
}
