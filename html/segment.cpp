#include "html/segment.h"

#include <new>

#include "common/debug_log.h"
#include "html/attributes.h"
#include "html/source.h"
#include "html/tag.h"
#include "html/tag_types.h"

bool CSegment::checkConstructorArgs(HXPos nBegin, HXPos nEnd) {
  if (nBegin == HX_NPOS || nEnd == HX_NPOS || nBegin > nEnd) {
    DebugLog("[CSegment::checkConstructorArgs] invalid nBegin <%d>, nEnd <%d> values", LogPos(nBegin),
             LogPos(nEnd));
    return false;
  }
  return true;
}

bool CSegment::checkConstructorArgs(CSource* pSource, HXPos nBegin, HXPos nEnd) {
  if (pSource == nullptr) {
    DebugLog("[CSegment::checkConstructorArgs] pSource is 0.");
    return false;
  }
  if (!checkConstructorArgs(nBegin, nEnd)) return false;
  if (nBegin < pSource->getBegin() || nEnd > pSource->getEnd()) {
    DebugLog("[CSegment::checkConstructorArgs] pSource doesn't enclose this segment. nBegin <%d>, nEnd <%d> ",
             LogPos(nBegin), LogPos(nEnd));
    return false;
  }
  return true;
}

CSegment* CSegment::CREATE_NEW_INST(CSource* pSource, HXPos nBegin, HXPos nEnd) {
  if (!checkConstructorArgs(pSource, nBegin, nEnd)) return nullptr;
  return new (pSource, std::nothrow) CSegment(pSource, nBegin, nEnd);
}

void* CSegment::operator new(size_t nSize, CSource* pSource, const std::nothrow_t&) noexcept {
  return pSource != nullptr ? pSource->allocate(nSize) : nullptr;
}

CSegment::CSegment(CSource* pSource, HXPos nBegin, HXPos nEnd)
    : m_nBegin(nBegin), m_nEnd(nEnd), m_pSource(pSource) {
  if (pSource != nullptr && static_cast<CSegment*>(pSource) != this) {
    pSource->countSegment();
    pSource->addSegment(this);
  }
}

CSegment::CSegment(CSource* pSource, HXPos nBegin, HXPos nEnd, CListedBySubclass)
    : m_nBegin(nBegin), m_nEnd(nEnd), m_pSource(pSource) {
  if (pSource != nullptr) pSource->countSegment();
}

CSegment::~CSegment() = default;

std::vector<CElement*>** CSegment::childListSlot() { return m_pSource->otherChildListSlot(this); }

std::vector<CElement*>& CSegment::resetChildElements() {
  std::vector<CElement*>** ppList = childListSlot();
  if (*ppList != nullptr) {
    (*ppList)->clear();
    return **ppList;
  }
  void* p = m_pSource->allocate(sizeof(std::vector<CElement*>));
  if (p == nullptr) throw std::bad_alloc();
  *ppList = new (p) std::vector<CElement*>();
  return **ppList;
}

std::string CSegment::toString() const {
  if (m_pSource == nullptr) return std::string();
  return m_pSource->substring(m_nBegin, m_nEnd - m_nBegin);
}

void CSegment::toString(ci_string& csOut) const {
  if (m_pSource == nullptr) {
    csOut.clear();
    return;
  }
  m_pSource->substring(m_nBegin, m_nEnd - m_nBegin, csOut);
}

const std::vector<CElement*>& CSegment::getChildElements() {
  if (m_pSource == nullptr) {
    // Never destroyed: a request may still be parsing while the process exits.
    static const std::vector<CElement*>& kNone = *new std::vector<CElement*>;
    return kNone;
  }
  if (childElementsComputed()) return **childListSlot();
  computeChildElements(m_nBegin, m_nEnd, false);
  return **childListSlot();
}

CAttributes* CSegment::parseAttributes() {
  if (m_pSource == nullptr) return nullptr;
  return CAttributes::construct(m_pSource, "Attributes", 1, m_nBegin, HX_NPOS, m_nEnd,
                                CStartTagTypeSingletonData::getInstance()->m_pNormal, ci_string(), -1, 2);
}

void CSegment::findAllTags(CTagType* pTagType, std::vector<CTag*>& vecTags) const {
  vecTags.clear();
  if (m_pSource == nullptr) return;
  CTag* pTag = CTag::findPreviousOrNextTag(m_pSource, m_nBegin, pTagType, false);
  while (pTag != nullptr && pTag->getEnd() <= m_nEnd) {
    vecTags.push_back(pTag);
    pTag = CTag::findPreviousOrNextTag(m_pSource, pTag->getBegin() + 1, pTagType, false);
  }
}
