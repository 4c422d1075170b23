#include "html/element.h"

#include <cstddef>
#include <memory_resource>
#include <new>

#include "common/debug_log.h"
#include "html/source.h"
#include "html/tag.h"
#include "html/tag_types.h"

namespace {

// One open level of the child-list walk.
struct ChildWalkFrame {
  CSegment* pOwner;
  CElement* pOwnerElement;  // null for a plain segment and for the source
  HXPos nPos;
  HXPos nLimit;  // start tags at or beyond it are not children; -1: none
  bool bTopLevel;
};

}  // namespace

// Fills the child lists of this segment and of every element below it. The
// walk keeps its open levels on a heap stack, so a page of deeply nested
// elements cannot exhaust the thread's stack; the lists are the same as a
// depth-first recursion would build.
void CSegment::computeChildElements(HXPos nFrom, HXPos nTo, bool bTopLevel) {
  if (m_pSource == nullptr) return;
  resetChildElements();
  CSource* pSource = m_pSource;
  alignas(ChildWalkFrame) std::byte aFrames[32 * sizeof(ChildWalkFrame)];
  std::pmr::monotonic_buffer_resource frames(aFrames, sizeof(aFrames));
  std::pmr::vector<ChildWalkFrame> stack(&frames);
  stack.reserve(32);
  stack.push_back({this, dynamic_cast<CElement*>(this), nFrom, nTo, bTopLevel});
  while (!stack.empty()) {
    ChildWalkFrame& frame = stack.back();
    CStartTag* pTag = CStartTag::findNextBefore(pSource, frame.nPos, frame.nLimit);
    if (pTag == nullptr) {
      stack.pop_back();
      continue;
    }
    if (pTag->isServerTag()) {
      frame.nPos = pTag->getEnd();
      continue;
    }
    CElement* pChild = pTag->getElement();
    if (pChild == nullptr) {
      frame.nPos = pTag->getEnd();
      continue;
    }
    if (frame.bTopLevel) {
      pChild->markTopLevel();
    } else if (frame.pOwnerElement != nullptr) {
      CElement* pParent = frame.pOwnerElement;
      pChild->setParentElement(pParent);
      if (pChild->getEnd() > pParent->getEnd()) {
        DebugLog("[CElement::getChildElements] ChildElement <%s> (ends at <%d>) extends beyond end of parent <%s> "
                 "(ending at <%d>).",
                 pChild->getName().c_str(), LogPos(pChild->getEnd()), pParent->getName().c_str(),
                 LogPos(pParent->getEnd()));
      }
    }
    (*frame.pOwner->childListSlot())->push_back(pChild);
    frame.nPos = pChild->getEnd();
    if (!pChild->childElementsComputed()) {
      pChild->resetChildElements();
      if (pChild->getEnd() != pChild->getStartTag()->getEnd()) {
        stack.push_back({pChild, pChild, pChild->getStartTag()->getEnd(), pChild->getContentEnd(), false});
      }
    }
  }
}

const std::vector<CElement*>& CSource::getChildElements() {
  if (childElementsComputed()) return *m_pChildElements;
  if (m_nBegin == m_nEnd) return resetChildElements();
  if (m_vecAllTags.empty()) {
    DebugLog("[CSource::getChildElements] NOTE: Calling CSource.fullSequentialParse() can significantly improve the "
             "performance of this operation.");
  }
  computeChildElements(m_nBegin, HX_NPOS, true);
  return *m_pChildElements;
}

// ---------------------------------------------------------------------------

bool CElement::checkConstructorArgs(CSource* pSource, CStartTag* pStartTag, CEndTag* pEndTag) {
  if (pStartTag == nullptr) {
    DebugLog("[CElement::checkConstructorArgs] pStartTag is 0");
    return false;
  }
  const HXPos nBegin = pStartTag->getBegin();
  const HXPos nEnd = pEndTag != nullptr ? pEndTag->getEnd() : pStartTag->getEnd();
  if (!CSegment::checkConstructorArgs(pSource, nBegin, nEnd)) {
    DebugLog("[CElement::checkConstructorArgs] CSegment::checkConstructorArgs() failed. nBegin <%d> nEnd <%d> .",
             LogPos(nBegin), LogPos(nEnd));
    return false;
  }
  if (pStartTag->getSource() != pSource) {
    DebugLog("[CElement::checkConstructorArgs] pStartTag's source differs from pSource. nBegin <%d> nEnd <%d>.",
             LogPos(nBegin), LogPos(nEnd));
    return false;
  }
  if (pEndTag != nullptr && pEndTag->getSource() != pSource) {
    DebugLog("[CElement::checkConstructorArgs] pEndTag's source differs from pSource. nBegin <%d> nEnd <%d>.",
             LogPos(nBegin), LogPos(nEnd));
    return false;
  }
  return true;
}

CElement* CElement::CREATE_NEW_INST(CSource* pSource, CStartTag* pStartTag, CEndTag* pEndTag) {
  if (!checkConstructorArgs(pSource, pStartTag, pEndTag)) {
    DebugLog("[CElement::CREATE_NEW_INST] checkConstructorArgs failed.");
    return nullptr;
  }
  return new (pSource, std::nothrow) CElement(pSource, pStartTag, pEndTag);
}

CElement* CElement::CREATE_NEW_INST(CSource* pSource, CStartTag* pStartTag, HXPos nEnd) {
  if (pStartTag == nullptr || pStartTag->getSource() != pSource ||
      !CSegment::checkConstructorArgs(pSource, pStartTag->getBegin(), nEnd)) {
    DebugLog("[CElement::CREATE_NEW_INST] checkConstructorArgs failed.");
    return nullptr;
  }
  return new (pSource, std::nothrow) CElement(pSource, pStartTag, nEnd);
}

CElement::CElement(CSource* pSource, CStartTag* pStartTag, HXPos nEnd)
    : CSegment(pSource, pStartTag->getBegin(), nEnd), m_pStartTag(pStartTag), m_pEndTag(nullptr) {}

CElement::CElement(CSource* pSource, CStartTag* pStartTag, CEndTag* pEndTag)
    : CSegment(pSource, pStartTag->getBegin(), pEndTag != nullptr ? pEndTag->getEnd() : pStartTag->getEnd()),
      m_pStartTag(pStartTag),
      m_pEndTag((pEndTag != nullptr && !pEndTag->isEmpty()) ? pEndTag : nullptr) {}

CElement::~CElement() {
  if (m_pChildElements != nullptr) m_pChildElements->~vector();
}

const std::vector<CElement*>& CElement::getChildElements() {
  if (childElementsComputed()) return *m_pChildElements;
  if (m_nEnd == m_pStartTag->getEnd()) return resetChildElements();
  computeChildElements(m_pStartTag->getEnd(), getContentEnd(), false);
  return *m_pChildElements;
}

const ci_string& CElement::getName() const { return m_pStartTag->getName(); }

CAttributes* CElement::getAttributes() const { return m_pStartTag->getAttributes(); }

HXPos CElement::getContentBegin() const { return m_pStartTag->getEnd(); }

HXPos CElement::getContentEnd() const { return m_pEndTag != nullptr ? m_pEndTag->getBegin() : m_nEnd; }

void CElement::setParentElement(CElement* pParent) {
  if (pParent != nullptr && pParent->getSource() != m_pSource) {
    DebugLog("[CElement::setParentElement] Parent element's source differs from this element's source. csName <%s> "
             "nBegin <%d> nEnd <%d>. Parent element name <%s> nBegin <%d> nEnd <%d>. ",
             getName().c_str(), LogPos(m_nBegin), LogPos(m_nEnd), pParent->getName().c_str(),
             LogPos(pParent->getBegin()), LogPos(pParent->getEnd()));
  } else {
    m_pParent = pParent;
  }
  m_bParentKnown = true;
}

// ---------------------------------------------------------------------------
// Searches below the element. Each looks only between the element's start
// tag and its end tag: a search that ran on to the page's end would cost
// every element the rest of the page.

namespace {
const ci_string kIdAttribute("id");
const ci_string kNameAttribute("name");
}  // namespace

CStartTag* CElement::findFirstStartTag(const ci_string* pAttributeName, const ci_string& csValue, HXPos nFrom) {
  if (m_nEnd == m_pStartTag->getEnd()) return nullptr;
  const HXPos nContentEnd = getContentEnd();
  HXPos nPos = nFrom;
  while (nPos < nContentEnd) {
    CStartTag* pTag = pAttributeName != nullptr
                          ? m_pSource->findNextStartTag(nPos, *pAttributeName, csValue, true, nContentEnd)
                          : m_pSource->findNextStartTag(nPos, csValue, nContentEnd);
    if (pTag == nullptr) return nullptr;
    if (!pTag->isServerTag()) return pTag;
    nPos = pTag->getEnd();
  }
  return nullptr;
}

CElement* CElement::findFirstElement(const ci_string* pAttributeName, const ci_string& csValue,
                                     const char* pOperation) {
  HXPos nFrom = m_pStartTag->getEnd();
  for (;;) {
    CStartTag* pTag = findFirstStartTag(pAttributeName, csValue, nFrom);
    if (pTag == nullptr) return nullptr;
    CElement* pElement = elementOf(pTag, pOperation);
    if (pElement != nullptr) return pElement;
    nFrom = pTag->getEnd();
  }
}

CElement* CElement::elementOf(CStartTag* pStartTag, const char* pOperation) {
  CElement* pElement = pStartTag->getElement();
  if (pElement != nullptr && pElement->getEnd() > m_nEnd) {
    DebugLog("[CElement::%s] Child or nested child element <%s> (ends at <%d>) extends beyond end of parent <%s> "
             "(ending at <%d>).",
             pOperation, pElement->getName().c_str(), LogPos(pElement->getEnd()), getName().c_str(), LogPos(m_nEnd));
  }
  return pElement;
}

CElement* CElement::getFirstChildOrNestedChildElementById(const ci_string& csValue) {
  return findFirstElement(&kIdAttribute, csValue, "getFirstChildOrNestedChildElementById");
}

CStartTag* CElement::getFirstChildOrNestedStartTagById(const ci_string& csValue) {
  return findFirstStartTag(&kIdAttribute, csValue, m_pStartTag->getEnd());
}

CElement* CElement::findFirstChildOrNestedChildElementByName(const ci_string& csName) {
  return findFirstElement(nullptr, csName, "findFirstChildOrNestedChildElementByName");
}

CStartTag* CElement::findFirstChildOrNestedStartTagByName(const ci_string& csName) {
  return findFirstStartTag(nullptr, csName, m_pStartTag->getEnd());
}

CElement* CElement::findFirstChildOrNestedChildElementByNameAttribute(const ci_string& csValue) {
  return findFirstElement(&kNameAttribute, csValue, "findFirstChildOrNestedChildElementByNameAttribute");
}

CStartTag* CElement::findFirstChildOrNestedStartTagByNameAttribute(const ci_string& csValue) {
  return findFirstStartTag(&kNameAttribute, csValue, m_pStartTag->getEnd());
}

void CElement::findAllChildOrNestedStartTagsByName(const ci_string& csName, std::vector<CStartTag*>& vecStartTags) {
  vecStartTags.clear();
  if (m_nEnd == m_pStartTag->getEnd()) return;
  const HXPos nContentEnd = getContentEnd();
  HXPos nPos = m_pStartTag->getEnd();
  while (nPos < nContentEnd) {
    CStartTag* pTag = m_pSource->findNextStartTag(nPos, csName, nContentEnd);
    if (pTag == nullptr) return;
    if (!pTag->isServerTag()) vecStartTags.push_back(pTag);
    nPos = pTag->getEnd();
  }
}

void CElement::findAllChildOrNestedChildElementsByName(const ci_string& csName, std::vector<CElement*>& vecElements) {
  vecElements.clear();
  if (m_nEnd == m_pStartTag->getEnd()) return;
  const HXPos nContentEnd = getContentEnd();
  HXPos nPos = m_pStartTag->getEnd();
  while (nPos < nContentEnd) {
    CStartTag* pTag = m_pSource->findNextStartTag(nPos, csName, nContentEnd);
    if (pTag == nullptr) return;
    if (!pTag->isServerTag()) {
      CElement* pElement = elementOf(pTag, "findAllChildOrNestedChildElementsByName");
      if (pElement != nullptr) vecElements.push_back(pElement);
    }
    // From the end of the start tag, so that elements of the same name inside
    // a found one are found too.
    nPos = pTag->getEnd();
  }
}
