// Queries of the DOM value types.
#include "html/dom_values.h"

#include <algorithm>
#include <new>

#include "html/attributes.h"
#include "html/case_insensitive_search.h"
#include "html/element.h"
#include "html/source.h"
#include "html/tag.h"

namespace {

[[noreturn]] void ThrowUndefined(const char* pClass, const char* pOperation, const char* pMember) {
  throw CDOMParserUndefinedObjectException(std::string(pClass) + "::" + pOperation + "() : " + pMember + " is 0");
}

CAttribute* FindAttribute(CStartTag* pStartTag, const std::string& name) {
  CAttributes* pAttributes = pStartTag->getAttributes();
  return pAttributes != nullptr ? pAttributes->getAttribute(ToCI(name)) : nullptr;
}

}  // namespace

void CSourceRelease::Release(CSource* pSource) { delete pSource; }

HXPos DomScanRange(const CSource* pSource, const std::string& s, HXPos nPos, HXPos nTo) {
  const HXPos nFrom = std::max(nPos, pSource->getBegin());
  if (nFrom >= pSource->getEnd()) return HX_NPOS;
  HXPos nLimit = pSource->getEnd();
  if (nTo != HX_NPOS && nTo <= pSource->getEnd()) {
    if (nTo <= nFrom) return HX_NPOS;
    nLimit = nTo;
  }
  return findNoCase(pSource->getBuffer(), s.c_str(), nFrom, nLimit - nFrom);
}

// ---------------------------------------------------------------------------
// CDOMElement

CDOMElement& CDOMElement::operator=(const CDOMElement& other) {
  if (m_spSource.get() != other.m_spSource.get()) m_spSource = other.m_spSource;
  m_pElement = other.m_pElement;
  m_nElementInd = other.m_nElementInd;
  return *this;
}

void CDOMElement::check(const char* pOperation) const {
  if (m_pElement == nullptr) ThrowUndefined("CDOMElement", pOperation, "m_pElement");
}

HXPos CDOMElement::getBeginPos() const {
  check("getBeginPos");
  return m_pElement->getBegin();
}

HXPos CDOMElement::getEndPos() const {
  check("getEndPos");
  return m_pElement->getEnd();
}

HXPos CDOMElement::getContentBeginPos() const {
  check("getContentBeginPos");
  return m_pElement->getContentBegin();
}

HXPos CDOMElement::getContentEndPos() const {
  check("getContentEndPos");
  return m_pElement->getContentEnd();
}

const ci_string& CDOMElement::tagName() const {
  check("tagName");
  return m_pElement->getName();
}

CDOMStartTag CDOMElement::getStartTag() const {
  check("getStartTag");
  return CDOMStartTag(m_spSource, m_pElement->getStartTag());
}

CDOMAttribute CDOMElement::getAttribute(const std::string& name) const {
  check("getAttribute");
  return CDOMAttribute(m_spSource, FindAttribute(m_pElement->getStartTag(), name));
}

CDOMElement CDOMElement::getElementById(const std::string& id) const {
  check("getElementById");
  return CDOMElement(m_spSource, m_pElement->getFirstChildOrNestedChildElementById(ToCI(id)));
}

CDOMStartTag CDOMElement::getStartTagById(const std::string& id) const {
  check("getStartTagById");
  return CDOMStartTag(m_spSource, m_pElement->getFirstChildOrNestedStartTagById(ToCI(id)));
}

CDOMElement CDOMElement::getFirstElementByTagName(const std::string& name) const {
  check("getFirstElementByTagName");
  return CDOMElement(m_spSource, m_pElement->findFirstChildOrNestedChildElementByName(ToCI(name)));
}

CDOMStartTag CDOMElement::getFirstStartTagByTagName(const std::string& name) const {
  check("getFirstStartTagByTagName");
  return CDOMStartTag(m_spSource, m_pElement->findFirstChildOrNestedStartTagByName(ToCI(name)));
}

CDOMElement CDOMElement::getFirstElementByName(const std::string& value) const {
  check("getFirstElementByName");
  return CDOMElement(m_spSource, m_pElement->findFirstChildOrNestedChildElementByNameAttribute(ToCI(value)));
}

CDOMStartTag CDOMElement::getFirstStartTagByName(const std::string& value) const {
  check("getFirstStartTagByName");
  return CDOMStartTag(m_spSource, m_pElement->findFirstChildOrNestedStartTagByNameAttribute(ToCI(value)));
}

CDOMElementVector CDOMElement::getElementsByTagName(const std::string& name) const {
  check("getElementsByTagName");
  auto* pList = new std::vector<CElement*>();
  m_pElement->findAllChildOrNestedChildElementsByName(ToCI(name), *pList);
  return CDOMElementVector(m_spSource, pList);
}

CDOMStartTagVector CDOMElement::getStartTagsByTagName(const std::string& name) const {
  check("getStartTagsByTagName");
  auto* pList = new std::vector<CStartTag*>();
  m_pElement->findAllChildOrNestedStartTagsByName(ToCI(name), *pList);
  return CDOMStartTagVector(m_spSource, pList);
}

namespace {

// Builds the page's element tree when the element's parent is not known yet;
// an element the tree does not reach is taken as top-level.
void EnsureParentKnown(CElement* pElement) {
  if (pElement->isParentKnown()) return;
  pElement->getSource()->getChildElements();
  if (!pElement->isParentKnown()) pElement->markTopLevel();
}

}  // namespace

CDOMElement CDOMElement::parentNode() const {
  check("parentNode");
  EnsureParentKnown(m_pElement);
  return CDOMElement(m_spSource, m_pElement->getParentElement());
}

CDOMElement CDOMElement::nextSibling() {
  check("nextSibling");
  EnsureParentKnown(m_pElement);
  CElement* pParent = m_pElement->getParentElement();
  const std::vector<CElement*>* pSiblings;
  if (pParent == nullptr) {
    // An element is known as top-level only once the page's top-level list
    // exists, so no full parse is run for it here: a parse now would replace
    // the cached tags, and elements found afterwards would be new objects
    // outside the element tree (no parent, no siblings).
    pSiblings = &m_pElement->getSource()->getChildElements();
  } else {
    pSiblings = &pParent->getChildElements();
  }
  int64_t nNext;
  if (m_nElementInd != -1) {
    nNext = m_nElementInd + 1;
  } else {
    m_nElementInd = getElementInd(*pSiblings);
    if (m_nElementInd == -1) return CDOMElement(m_spSource, nullptr);
    nNext = m_nElementInd + 1;
  }
  if (nNext >= 0 && static_cast<size_t>(nNext) < pSiblings->size()) {
    return CDOMElement(m_spSource, (*pSiblings)[static_cast<size_t>(nNext)], nNext);
  }
  return CDOMElement(m_spSource, nullptr);
}

int64_t CDOMElement::getElementInd(const std::vector<CElement*>& siblings) const {
  check("getElementInd");
  for (size_t i = 0; i < siblings.size(); ++i) {
    if (siblings[i] != nullptr && !(*siblings[i] != *m_pElement)) return static_cast<int64_t>(i);
  }
  return -1;
}

HXPos CDOMElement::scanForString(const std::string& s) const {
  check("scanForString");
  return DomScanRange(m_pElement->getSource(), s, m_pElement->getBegin(), m_pElement->getEnd());
}

HXPos CDOMElement::scanContentForString(const std::string& s) const {
  check("scanContentForString");
  CSource* pSource = m_pElement->getSource();
  HXPos nTo = m_pElement->getContentEnd();
  if (nTo == HX_NPOS || nTo > pSource->getEnd()) nTo = pSource->getEnd();
  return DomScanRange(pSource, s, m_pElement->getContentBegin(), nTo);
}

// ---------------------------------------------------------------------------
// CDOMStartTag

void CDOMStartTag::check(const char* pOperation) const {
  if (m_pStartTag == nullptr) ThrowUndefined("CDOMStartTag", pOperation, "m_pStartTag");
}

HXPos CDOMStartTag::getBeginPos() const {
  check("getBeginPos");
  return m_pStartTag->getBegin();
}

HXPos CDOMStartTag::getEndPos() const {
  check("getEndPos");
  return m_pStartTag->getEnd();
}

HXPos CDOMStartTag::getLength() const {
  check("getLength");
  return m_pStartTag->getEnd() - m_pStartTag->getBegin();
}

void CDOMStartTag::getHTML(std::string& out) const {
  check("getHTML");
  out = m_pStartTag->getSource()->substring(m_pStartTag->getBegin(), m_pStartTag->getEnd() - m_pStartTag->getBegin());
}

CDOMAttribute CDOMStartTag::getAttribute(const std::string& name) const {
  check("getAttribute");
  return CDOMAttribute(m_spSource, FindAttribute(m_pStartTag, name));
}

// ---------------------------------------------------------------------------
// CDOMAttribute

void CDOMAttribute::check(const char* pOperation) const {
  if (m_pAttribute == nullptr) ThrowUndefined("CDOMAttribute", pOperation, "m_pAttribute");
}

bool CDOMAttribute::hasValue() const {
  check("hasValue");
  return m_pAttribute->hasValue();
}

std::string CDOMAttribute::getValue() const {
  check("getValue");
  const CSegment* pValue = m_pAttribute->getValueSegment();
  if (pValue == nullptr) return std::string();
  return m_pAttribute->getSource()->substring(pValue->getBegin(), pValue->length());
}

void CDOMAttribute::getValue(ci_string& out) const {
  check("getValue");
  const CSegment* pValue = m_pAttribute->getValueSegment();
  if (pValue == nullptr) {
    out.clear();
    return;
  }
  m_pAttribute->getSource()->substring(pValue->getBegin(), pValue->length(), out);
}

HXPos CDOMAttribute::getValueBeginPos() const {
  check("getValueBeginPos");
  const CSegment* pValue = m_pAttribute->getValueSegment();
  return pValue != nullptr ? pValue->getBegin() : HX_NPOS;
}

HXPos CDOMAttribute::getValueEndPos() const {
  check("getValueEndPos");
  const CSegment* pValue = m_pAttribute->getValueSegment();
  return pValue != nullptr ? pValue->getEnd() : HX_NPOS;
}

// ---------------------------------------------------------------------------
// Vectors

size_t CDOMElementVector::length() const {
  const std::vector<CElement*>* pList = list();
  return pList != nullptr ? pList->size() : 0;
}

CDOMElement CDOMElementVector::item(size_t nIndex) const {
  const std::vector<CElement*>* pList = list();
  if (pList == nullptr || nIndex >= pList->size()) return CDOMElement(m_spSource, nullptr);
  return CDOMElement(m_spSource, (*pList)[nIndex], m_bChildList ? static_cast<int64_t>(nIndex) : -1);
}

CDOMStartTag CDOMStartTagVector::item(size_t nIndex) const {
  if (!m_spStartTags || nIndex >= m_spStartTags->size()) return CDOMStartTag(m_spSource, nullptr);
  return CDOMStartTag(m_spSource, (*m_spStartTags)[nIndex]);
}
