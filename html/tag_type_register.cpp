#include "html/tag_type_register.h"

#include <algorithm>

#include "common/debug_log.h"
#include "common/static_memory.h"
#include "html/source.h"
#include "html/tag.h"
#include "html/tag_types.h"

CTagTypeRegister::CTagTypeRegister(CTagTypeRegister* pParent, signed char c) : m_pParent(pParent), m_c(c) {
  m_vecChildren.reserve(4);
}

CTagTypeRegister::~CTagTypeRegister() {
  for (CTagTypeRegister* pChild : m_vecChildren) delete pChild;
}

CTagTypeRegister* CTagTypeRegister::getChild(signed char c) const {
  if (m_vecChildren.empty()) return nullptr;
  if (m_vecChildren.size() == 1) return m_vecChildren[0]->m_c == c ? m_vecChildren[0] : nullptr;
  auto it = std::lower_bound(m_vecChildren.begin(), m_vecChildren.end(), c,
                             [](const CTagTypeRegister* pNode, signed char ch) { return pNode->m_c < ch; });
  return (it != m_vecChildren.end() && (*it)->m_c == c) ? *it : nullptr;
}

void CTagTypeRegister::insertChild(CTagTypeRegister* pNode) {
  auto it = std::upper_bound(m_vecChildren.begin(), m_vecChildren.end(), pNode->m_c,
                             [](signed char ch, const CTagTypeRegister* pOther) { return ch < pOther->m_c; });
  m_vecChildren.insert(it, pNode);
}

void CTagTypeRegister::addTagType(CTagType* pTagType) {
  if (pTagType == nullptr) return;
  m_lstTagTypes.remove(pTagType);
  m_lstTagTypes.push_front(pTagType);
}

CTagTypeRegisterSingletonData::CTagTypeRegisterSingletonData() : m_pRoot(new CTagTypeRegister(nullptr, 0)) {
  CStartTagTypeSingletonData* pStart = CStartTagTypeSingletonData::getInstance();
  CEndTagTypeSingletonData* pEnd = CEndTagTypeSingletonData::getInstance();
  add(pStart->m_pUnregistered);
  add(pStart->m_pNormal);
  add(pStart->m_pComment);
  add(pStart->m_pMarkupDeclaration);
  add(pStart->m_pDoctypeDeclaration);
  add(pStart->m_pCDATASection);
  add(pStart->m_pXMLProcessingInstruction);
  add(pStart->m_pXMLDeclaration);
  add(pStart->m_pServerCommon);
  add(pEnd->m_pUnregistered);
  add(pEnd->m_pNormal);
}

CTagTypeRegisterSingletonData::~CTagTypeRegisterSingletonData() { delete m_pRoot; }

CTagTypeRegisterSingletonData* CTagTypeRegisterSingletonData::getInstance() {
  return Mem_Manager::Static_memory<CTagTypeRegisterSingletonData>::instance();
}

void CTagTypeRegisterSingletonData::add(CTagType* pTagType) {
  if (pTagType == nullptr) return;
  CTagTypeRegister* pNode = m_pRoot;
  for (char ch : pTagType->getStartDelimiter()) {
    const auto c = static_cast<signed char>(ch);
    CTagTypeRegister* pChild = pNode->getChild(c);
    if (pChild == nullptr) {
      pChild = new CTagTypeRegister(pNode, c);
      pNode->insertChild(pChild);
    }
    pNode = pChild;
  }
  pNode->addTagType(pTagType);
}

CTagTypeSingletonData::CTagTypeSingletonData() {
  m_vecOpaqueTagTypes.reserve(2);
  CStartTagTypeSingletonData* pStart = CStartTagTypeSingletonData::getInstance();
  m_vecOpaqueTagTypes.push_back(pStart->m_pComment);
  m_vecOpaqueTagTypes.push_back(pStart->m_pCDATASection);
}

CTagTypeSingletonData::~CTagTypeSingletonData() = default;

CTagTypeSingletonData* CTagTypeSingletonData::getInstance() {
  return Mem_Manager::Static_memory<CTagTypeSingletonData>::instance();
}

const std::vector<CTagType*>& CTagTypeSingletonData::getOpaqueTagTypes() {
  return getInstance()->m_vecOpaqueTagTypes;
}

CProspectiveTagTypeIterator::CProspectiveTagTypeIterator(CSource* pSource, HXPos nPos) {
  if (pSource == nullptr) {
    DebugLog("[CProspectiveTagTypeIterator::CProspectiveTagTypeIterator] pSource is 0. nPos <%d>.", LogPos(nPos));
    return;
  }
  if (!pSource->contains(nPos)) return;
  const CTagTypeRegister* pCursor = CTagTypeRegisterSingletonData::getInstance()->m_pRoot;
  // The page bytes are compared exactly as they stand: no case folding.
  for (HXPos p = nPos; p < pSource->getEnd(); ++p) {
    const CTagTypeRegister* pChild = pCursor->getChild(static_cast<signed char>(pSource->byteAt(p)));
    if (pChild == nullptr) break;
    pCursor = pChild;
  }
  while (pCursor != nullptr && pCursor->m_lstTagTypes.empty()) pCursor = pCursor->m_pParent;
  if (pCursor != nullptr) m_itPos = pCursor->m_lstTagTypes.begin();
  m_pCursor = pCursor;
}

CTagType* CProspectiveTagTypeIterator::getNextTagType() {
  if (m_pCursor == nullptr) {
    DebugLog("[CProspectiveTagTypeIterator::getNextTagType] m_pCursor is 0.");
    return nullptr;
  }
  CTagType* pType = *m_itPos;
  ++m_itPos;
  if (m_itPos == m_pCursor->m_lstTagTypes.end()) {
    const CTagTypeRegister* pNode = m_pCursor->m_pParent;
    while (pNode != nullptr && pNode->m_lstTagTypes.empty()) pNode = pNode->m_pParent;
    m_pCursor = pNode;
    if (pNode != nullptr) m_itPos = pNode->m_lstTagTypes.begin();
  }
  return pType;
}

bool CTagType::isValidPosition(CSource* pSource, HXPos nPos) const {
  if (pSource == nullptr) {
    DebugLog("[CTagType::isValidPosition] pSource is 0. nPos <%d>.", LogPos(nPos));
    return false;
  }
  if (!pSource->contains(nPos)) return false;
  if (m_bServerTag) return true;
  const HXPos nFullParseEnd = pSource->getFullParseEndPos();
  if (nFullParseEnd != HX_NPOS) return nPos >= nFullParseEnd;
  return !pSource->isInsideOpaqueTag(nPos);
}

CTag* CTagType::getTagAt(CSource* pSource, HXPos nPos, bool bAssumeNoNestedTags) {
  if (pSource == nullptr) {
    DebugLog("[CTagType::getTagAt] pSource is 0. nPos <%d>.", LogPos(nPos));
    return nullptr;
  }
  if (!pSource->contains(nPos)) return nullptr;
  CProspectiveTagTypeIterator it(pSource, nPos);
  while (it.hasNext()) {
    CTagType* pType = it.getNextTagType();
    if (!bAssumeNoNestedTags && !pType->isValidPosition(pSource, nPos)) continue;
    CTag* pTag = pType->constructTagAt(pSource, nPos);
    if (pTag != nullptr) return pTag;
  }
  return nullptr;
}
