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

void CTagTypeRegister::insertChild(CTagTypeRegister* pNode) {
  auto it = std::upper_bound(m_vecChildren.begin(), m_vecChildren.end(), pNode->m_c,
                             [](signed char ch, const CTagTypeRegister* pOther) { return ch < pOther->m_c; });
  m_vecChildren.insert(it, pNode);
  m_apChildByByte[static_cast<unsigned char>(pNode->m_c)] = pNode;
}

void CTagTypeRegister::buildCandidates() {
  m_vecCandidates.assign(m_lstTagTypes.begin(), m_lstTagTypes.end());
  if (m_pParent != nullptr) {
    m_vecCandidates.insert(m_vecCandidates.end(), m_pParent->m_vecCandidates.begin(),
                           m_pParent->m_vecCandidates.end());
  }
  for (CTagTypeRegister* pChild : m_vecChildren) pChild->buildCandidates();
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
  m_pRoot->buildCandidates();
}

const std::vector<CTagType*>* CTagTypeRegisterSingletonData::candidatesAt(const CSource* pSource,
                                                                         HXPos nPos) const {
  const CTagTypeRegister* pCursor = m_pRoot;
  // The page bytes are compared exactly as they stand: no case folding.
  const char* pBuffer = pSource->getBuffer();
  const HXPos nEnd = pSource->getEnd();
  for (HXPos p = nPos; p < nEnd; ++p) {
    const CTagTypeRegister* pChild = pCursor->getChild(static_cast<signed char>(pBuffer[p]));
    if (pChild == nullptr) break;
    pCursor = pChild;
  }
  return pCursor->m_vecCandidates.empty() ? nullptr : &pCursor->m_vecCandidates;
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
  m_pCandidates = CTagTypeRegisterSingletonData::getInstance()->candidatesAt(pSource, nPos);
}

CTagType* CProspectiveTagTypeIterator::getNextTagType() {
  if (!hasNext()) {
    DebugLog("[CProspectiveTagTypeIterator::getNextTagType] m_pCursor is 0.");
    return nullptr;
  }
  return (*m_pCandidates)[m_nNext++];
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
  const std::vector<CTagType*>* pCandidates = CTagTypeRegisterSingletonData::getInstance()->candidatesAt(pSource, nPos);
  if (pCandidates == nullptr) return nullptr;
  for (CTagType* pType : *pCandidates) {
    if (!bAssumeNoNestedTags && !pType->isValidPosition(pSource, nPos)) continue;
    CTag* pTag = pType->constructTagAt(pSource, nPos);
    if (pTag != nullptr) return pTag;
  }
  return nullptr;
}
