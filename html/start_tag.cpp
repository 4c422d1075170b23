// CStartTag: construction, attributes, start tag searches and the matching of
// the end tag that closes a start tag.
#include <algorithm>
#include <cstddef>
#include <memory_resource>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "common/debug_log.h"
#include "html/attributes.h"
#include "html/case_insensitive_search.h"
#include "html/element.h"
#include "html/html_elements.h"
#include "html/source.h"
#include "html/tag.h"
#include "html/tag_types.h"

bool CStartTag::checkConstructorArgs(CSource* pSource, HXPos nBegin, HXPos nEnd, CStartTagType* pStartTagType,
                                     const ci_string& csName, CAttributes* pAttributes) {
  if (!CSegment::checkConstructorArgs(pSource, nBegin, nEnd)) {
    DebugLog("[CTag::checkConstructorArgs] CSegment::checkConstructorArgs() failed. nBegin <%d> nEnd <%d> .",
             LogPos(nBegin), LogPos(nEnd));
    DebugLog("[CStartTag::checkConstructorArgs] CTag::checkConstructorArgs() failed. nBegin <%d> nEnd <%d> "
             "csName <%s>.",
             LogPos(nBegin), LogPos(nEnd), csName.c_str());
    return false;
  }
  if (pStartTagType == nullptr) {
    DebugLog("[CStartTag::checkConstructorArgs] pStartTagTypes is 0. nBegin <%d> nEnd <%d> csName <%s> . ",
             LogPos(nBegin), LogPos(nEnd), csName.c_str());
    return false;
  }
  if (pAttributes != nullptr && pAttributes->getSource() != pSource) {
    DebugLog("[CStartTag::checkConstructorArgs] pAttributes's source differs from pSource. nBegin <%d> nEnd <%d> "
             "csName <%s>.",
             LogPos(nBegin), LogPos(nEnd), csName.c_str());
    return false;
  }
  return true;
}

CStartTag* CStartTag::CREATE_NEW_INST(CSource* pSource, HXPos nBegin, HXPos nEnd, CStartTagType* pStartTagType,
                                      const ci_string& csName, CAttributes* pAttributes, int64_t nElementIndex) {
  if (!checkConstructorArgs(pSource, nBegin, nEnd, pStartTagType, csName, pAttributes)) {
    DebugLog("[CStartTag::CREATE_NEW_INST] checkConstructorArgs() failed. nBegin <%d> nEnd <%d> csName <%s> .",
             LogPos(nBegin), LogPos(nEnd), csName.c_str());
    return nullptr;
  }
  return new (pSource, std::nothrow)
      CStartTag(pSource, nBegin, nEnd, pStartTagType, csName, pAttributes, nElementIndex);
}

CStartTag::CStartTag(CSource* pSource, HXPos nBegin, HXPos nEnd, CStartTagType* pStartTagType,
                     const ci_string& csName, CAttributes* pAttributes, int64_t nElementIndex)
    : CTag(pSource, nBegin, nEnd, csName, nElementIndex), m_pAttributes(pAttributes), m_pStartTagType(pStartTagType) {
  m_bUnregistered = pStartTagType != nullptr && pStartTagType->isUnregisteredType();
}

CTagType* CStartTag::getTagType() const { return m_pStartTagType; }

bool CStartTag::isServerTag() const { return m_pStartTagType != nullptr && m_pStartTagType->isServerTag(); }

CAttributes* CStartTag::parseAttributes() {
  if (m_pAttributes != nullptr) return m_pAttributes;
  const HXPos nFrom = m_nBegin + m_csName.length() + 1;
  const HXPos nClosingLength = m_pStartTagType->getClosingDelimiter().length();
  if (m_nEnd - m_nBegin < nClosingLength) return nullptr;
  const HXPos nStop = m_nEnd - nClosingLength;
  HXPos nFirst = HX_NPOS;
  for (HXPos p = nFrom; p < nStop; ++p) {
    if (HtmlScan::IsNameStart(m_pSource->byteAt(p))) {
      nFirst = p;
      break;
    }
  }
  if (nFirst == HX_NPOS) return nullptr;
  return CAttributes::construct(m_pSource, "Attributes for StartTag", 1, m_nBegin, nFirst, nStop, m_pStartTagType,
                                m_csName, m_nElementIndex, 2);
}

bool CStartTag::isXMLName(const ci_string& csName) {
  if (csName.empty() || !HtmlScan::IsNameStart(static_cast<unsigned char>(csName[0]))) return false;
  for (size_t i = 1; i < csName.size(); ++i) {
    if (!HtmlScan::IsNameChar(static_cast<unsigned char>(csName[i]))) return false;
  }
  return true;
}

CStartTag* CStartTag::findPreviousOrNext(CSource* pSource, HXPos nPos, bool bPrevious) {
  if (pSource == nullptr) {
    DebugLog("[CStartTag::findPreviousOrNext] pSource is 0. nPos <%d>.", LogPos(nPos));
    return nullptr;
  }
  HXPos p = nPos;
  for (;;) {
    CTag* pTag = CTag::findPreviousOrNextTag(pSource, p, bPrevious);
    if (pTag == nullptr) return nullptr;
    if (pTag->isStartTag()) return static_cast<CStartTag*>(pTag);
    // No start tag lies between p and the tag found (it is the nearest
    // registered tag), so the walk goes on from just past that tag.
    if (!bPrevious) {
      if (pTag->getBegin() + 1 >= pSource->getEnd()) return nullptr;
      p = pTag->getBegin() + 1;
    } else {
      if (pTag->getBegin() <= pSource->getBegin()) return nullptr;
      p = pTag->getBegin() - 1;
    }
  }
}

CStartTag* CStartTag::findNextBefore(CSource* pSource, HXPos nPos, HXPos nLimit) {
  if (pSource == nullptr) {
    DebugLog("[CStartTag::findPreviousOrNext] pSource is 0. nPos <%d>.", LogPos(nPos));
    return nullptr;
  }
  HXPos p = nPos;
  while (p < nLimit) {
    CTag* pTag = CTag::findPreviousOrNextTag(pSource, p, false);
    if (pTag == nullptr || pTag->getBegin() >= nLimit) return nullptr;
    if (pTag->isStartTag()) return static_cast<CStartTag*>(pTag);
    if (pTag->getBegin() + 1 >= pSource->getEnd()) return nullptr;
    p = pTag->getBegin() + 1;
  }
  return nullptr;
}

namespace {

// The first start tag at or after nPos (at or before it when bPrevious)
// whose text begins with csSearch ("<" and the name); a forward search looks
// only at occurrences that begin before nLimit.
CStartTag* SearchStartTag(CSource* pSource, HXPos nPos, const ci_string& csSearch, size_t nNameLength,
                          bool bIsXMLName, bool bLongerNamesMatch, bool bPrevious, HXPos nLimit) {
  const HXPos nBegin = pSource->getBegin();
  const HXPos nEnd = pSource->getEnd();
  HXPos p = nPos;
  for (;;) {
    const HXPos nHit = pSource->findNoCaseFrom(csSearch, p, bPrevious, nLimit);
    if (nHit == HX_NPOS) return nullptr;
    CTag* pTag = CTag::getTagAt(pSource, nHit);
    if (pTag != nullptr && pTag->isStartTag() && !(bIsXMLName && pTag->isUnregistered())) {
      auto* pStartTag = static_cast<CStartTag*>(pTag);
      if (!pStartTag->getStartTagType()->isNameAfterPrefixRequired() ||
          pStartTag->getName().length() <= nNameLength || bLongerNamesMatch) {
        return pStartTag;
      }
    }
    if (!bPrevious) {
      if (nHit + 1 >= nEnd) return nullptr;
      p = nHit + 1;
    } else {
      if (nHit < nBegin + 2) return nullptr;
      p = nHit - 2;
    }
  }
}

// How far from nFrom a value search reads so that every occurrence that
// begins before nStop is seen whole (never past the page's end).
HXPos ValueSearchCount(HXPos nFrom, HXPos nStop, HXPos nEnd, const ci_string& csValue) {
  const HXPos nTail = csValue.empty() ? 0 : csValue.size() - 1;
  return std::min(nEnd, nStop + nTail) - nFrom;
}

}  // namespace

CStartTag* CStartTag::findPreviousOrNext(CSource* pSource, HXPos nPos, const ci_string& csSearchName,
                                         bool bIsXMLName, bool bPrevious, HXPos nLimit) {
  if (pSource == nullptr) {
    DebugLog("[CStartTag::findPreviousOrNext] pSource is 0. nPos <%d>.", LogPos(nPos));
    return nullptr;
  }
  if (bPrevious) nLimit = HX_NPOS;
  if (csSearchName.empty()) {
    return bPrevious ? findPreviousOrNext(pSource, nPos, true) : findNextBefore(pSource, nPos, nLimit);
  }
  if (csSearchName[0] == '/') {
    DebugLog("[CStartTag::findPreviousOrNext] csSearchName argument \"%s\" must not start with '/' character.",
             csSearchName.c_str());
    return nullptr;
  }
  ci_string csSearch("<");
  csSearch += csSearchName;
  const auto cLast = static_cast<unsigned char>(csSearchName.back());
  const bool bLongerNamesMatch = cLast == ':' || !HtmlScan::IsNameChar(cLast);
  const size_t nNameLength = csSearchName.length();
  if (bPrevious || !pSource->useAllTypesCache()) {
    return SearchStartTag(pSource, nPos, csSearch, nNameLength, bIsXMLName, bLongerNamesMatch, bPrevious, nLimit);
  }
  // After a full parse the candidates of a well-formed name are the normal
  // start tags of that name: no other tag type's text begins with "<" and a
  // letter, and unregistered tags do not count for such a name.
  if (bIsXMLName && !bLongerNamesMatch && isXMLName(csSearchName)) {
    if (const CParseIndex* pIndex = pSource->parseIndex()) {
      CStartTag* pNext = pIndex->nextStartTag(nPos, csSearchName);
      return pNext != nullptr && pNext->getBegin() < nLimit ? pNext : nullptr;
    }
  }
  // Whether an unregistered tag counts follows from the name, so the text
  // alone identifies the search.
  const std::string sText(csSearch.data(), csSearch.size());
  CTag* pFound = pSource->getCache().rememberedForwardSearch(
      nullptr, sText, nPos, nLimit, [&](HXPos nFrom, HXPos nUntil) -> CTag* {
        return SearchStartTag(pSource, nFrom, csSearch, nNameLength, bIsXMLName, bLongerNamesMatch, false, nUntil);
      });
  return static_cast<CStartTag*>(pFound);
}

CStartTag* CStartTag::findNext(CSource* pSource, HXPos nPos, const ci_string& csAttributeName,
                               const ci_string& csValue, bool bValueCaseSensitive, HXPos nLimit) {
  if (pSource == nullptr) {
    DebugLog("[CStartTag::findNext] pSource is 0. nPos <%d>.", LogPos(nPos));
    return nullptr;
  }
  const char* pBuffer = pSource->getBuffer();
  const HXPos nEnd = pSource->getEnd();
  // Only occurrences that begin before the limit are looked at: a start tag
  // holds its value, and inside an element no start tag runs past the end
  // tag that is the limit.
  const HXPos nStop = std::min(nEnd, nLimit);
  HXPos p = nPos;
  while (p < nStop) {
    const HXPos nFrom = std::max(p, pSource->getBegin());
    if (nFrom >= nStop) return nullptr;
    const HXPos nHit = findNoCase(pBuffer, csValue.c_str(), nFrom, ValueSearchCount(nFrom, nStop, nEnd, csValue));
    if (nHit == HX_NPOS) return nullptr;
    CTag* pTag = pSource->findEnclosingTag(nHit, nullptr);
    if (pTag == nullptr || !pTag->isStartTag()) {
      p = nHit + 1;
      continue;
    }
    auto* pStartTag = static_cast<CStartTag*>(pTag);
    p = pStartTag->getEnd() + 5;
    CAttributes* pAttributes = pStartTag->getAttributes();
    CAttribute* pAttribute = pAttributes != nullptr ? pAttributes->getAttribute(csAttributeName) : nullptr;
    if (pAttribute == nullptr || !pAttribute->hasValue()) continue;
    const std::string sValue = pAttribute->getValue();
    if (sValue.size() == csValue.size() && sValue.compare(0, sValue.size(), csValue.data(), csValue.size()) == 0) {
      return pStartTag;
    }
    if (equalsNoCase(sValue.c_str(), csValue.c_str()) && sValue.size() == csValue.size()) {
      if (!bValueCaseSensitive) return pStartTag;
      DebugLog("[CStartTag::findNext] StartTag <%s> at <%d> with attribute <%s=\"%s\"> ignored during search because "
               "its case does not match search value.",
               pStartTag->getName().c_str(), LogPos(pStartTag->getBegin()), pAttribute->getName().c_str(),
               sValue.c_str());
    }
  }
  return nullptr;
}

bool CStartTag::isEmptyElementTag() const {
  if (m_pStartTagType != CStartTagTypeSingletonData::getInstance()->m_pNormal) return false;
  if (m_nEnd - m_nBegin < 2) return false;
  return m_pSource->byteAt(m_nEnd - 2) == '/';
}

namespace {

// The next start tag of a name from nPos, passing over empty-element tags
// ("<div/>") when asked to.
CStartTag* NextStartTagOfName(CSource* pSource, HXPos nPos, const ci_string& csName, bool bIsXMLName,
                              bool bCheckForEmptyElementTag) {
  CStartTag* pNext = CStartTag::findPreviousOrNext(pSource, nPos, csName, bIsXMLName, false);
  if (bCheckForEmptyElementTag) {
    while (pNext != nullptr && pNext->isEmptyElementTag()) {
      pNext = CStartTag::findPreviousOrNext(pSource, pNext->getEnd(), csName, bIsXMLName, false);
    }
  }
  return pNext;
}

}  // namespace

CEndTag* CStartTag::findEndTagNested(CStartTag* pStartTag, CEndTag* pNextEndTag, bool bCheckForEmptyElementTag,
                                     CStartTag** ppNextStartTag, bool bSettleInner) {
  if (ppNextStartTag != nullptr) *ppNextStartTag = nullptr;
  if (pStartTag == nullptr) return nullptr;
  CSource* pSource = pStartTag->getSource();
  const ci_string& csName = pStartTag->getName();
  const bool bIsXMLName = isXMLName(csName);
  CEndTagType* pNormalEnd = CEndTagTypeSingletonData::getInstance()->m_pNormal;

  // Each level of nesting is one frame: the end tag it currently proposes and
  // the next start tag of the name. An explicit stack keeps deeply nested
  // pages from exhausting the thread's stack. A frame whose first proposed
  // end tag lies past its own start tag began just as the start tag's own
  // matching would (the first end tag of the name after it, the next start
  // tag of the name after it), so it ends the same way; one whose proposed
  // end tag lies inside its own start tag (in an attribute value) did not,
  // and is not settled here.
  struct Frame {
    CStartTag* pStart;
    CEndTag* pEnd;
    CStartTag* pNext;
    bool bOwnPath;
  };
  CStartTag* pFirstNext =
      NextStartTagOfName(pSource, pStartTag->getEnd(), csName, bIsXMLName, bCheckForEmptyElementTag);
  if (pNextEndTag == nullptr) return nullptr;
  // Most nestings are shallow: their frames stay in this buffer instead of
  // costing a heap allocation per element.
  alignas(Frame) std::byte aFrames[16 * sizeof(Frame)];
  std::pmr::monotonic_buffer_resource frames(aFrames, sizeof(aFrames));
  std::pmr::vector<Frame> stack(&frames);
  stack.reserve(16);
  stack.push_back({pStartTag, pNextEndTag, pFirstNext, true});
  for (;;) {
    Frame& top = stack.back();
    if (top.pNext != nullptr && top.pNext->getBegin() <= top.pEnd->getBegin()) {
      // An inner start tag of the same name opens before the proposed end
      // tag: it takes that end tag first.
      CStartTag* pInner = top.pNext;
      const bool bOwnPath = top.pEnd->getBegin() >= pInner->getEnd() && takesSamePath(pStartTag, pInner);
      if (bSettleInner && bOwnPath && pInner->m_bElementCached && pInner->m_pElement != nullptr &&
          pInner->m_pElement->isNextStartTagOfNameKnown()) {
        // Its nesting was matched before: continue after its end tag with
        // the next start tag that matching went on with, as the walk through
        // it would, instead of walking it again (a walk that asks the levels
        // of a deep page innermost first). That start tag, not the first one
        // after the end tag: a start tag inside the element may hold the end
        // tag in an attribute value, and the walk goes on after it.
        CEndTag* pInnerEnd = pInner->m_pElement->getEndTag();
        if (pInnerEnd != nullptr) {
          top.pNext = pInner->m_pElement->getNextStartTagOfName();
          top.pEnd = CEndTag::findPreviousOrNext(pSource, pInnerEnd->getEnd(), csName, pNormalEnd, false);
          if (top.pEnd != nullptr) continue;
        }
      } else {
        CStartTag* pInnerNext =
            NextStartTagOfName(pSource, pInner->getEnd(), csName, bIsXMLName, bCheckForEmptyElementTag);
        stack.push_back({pInner, top.pEnd, pInnerNext, bOwnPath});
        continue;
      }
    } else {
      const Frame done = top;
      stack.pop_back();
      if (bSettleInner && !stack.empty() && done.bOwnPath && !done.pStart->m_bElementCached) {
        CElement* pDone = done.pStart->finishElement(done.pEnd);
        if (pDone != nullptr) pDone->setNextStartTagOfName(done.pNext);
      }
      if (stack.empty()) {
        if (ppNextStartTag != nullptr) *ppNextStartTag = done.pNext;
        return done.pEnd;
      }
      Frame& parent = stack.back();
      parent.pNext = done.pNext;
      parent.pEnd = CEndTag::findPreviousOrNext(pSource, done.pEnd->getEnd(), csName, pNormalEnd, false);
      if (parent.pEnd != nullptr) continue;
    }
    if (bSettleInner) {
      // Every start tag still open here was reached with the very end tag
      // and next start tag its own matching would begin with, and the walk
      // below it ran just as its own would; so its own matching fails the
      // same way. Settling it now spares a page of many unclosed levels a
      // walk to the page's end per level. Only start tags that would take
      // the outer one's path through the end tag search qualify.
      for (size_t i = 1; i < stack.size(); ++i) {
        CStartTag* pInner = stack[i].pStart;
        if (pInner->m_bElementCached || !stack[i].bOwnPath) continue;
        DebugLog("[CStartTag::findEndTagInternal] StartTag <%s> at <%d> missing required end tag.",
                 pInner->m_csName.c_str(), LogPos(pInner->m_nBegin));
        pInner->finishElement(nullptr);
      }
    }
    return nullptr;
  }
}

bool CStartTag::takesSamePath(const CStartTag* pOuter, const CStartTag* pInner) {
  CStartTagType* pNormal = CStartTagTypeSingletonData::getInstance()->m_pNormal;
  return pOuter->m_pStartTagType == pNormal && pInner->m_pStartTagType == pNormal &&
         pNormal->getCorrespondingEndTagType() == CEndTagTypeSingletonData::getInstance()->m_pNormal &&
         pInner->m_nElementIndex == pOuter->m_nElementIndex && pInner->m_csName == pOuter->m_csName;
}

CEndTag* CStartTag::findEndTagInternal(std::optional<CStartTag*>* pNextOfName) {
  CStartTagTypeSingletonData* pStartTypes = CStartTagTypeSingletonData::getInstance();
  CHTMLElementsSingletonData* pElements = CHTMLElementsSingletonData::getInstance();
  bool bCheckForEmptyElementTag = true;
  if (m_pStartTagType == pStartTypes->m_pNormal) {
    const CEndTagRule* pRule = CHTMLElementsSingletonData::getEndTagRule(m_nElementIndex);
    if (pRule != nullptr) {
      CEndTag* pEndTag = findOptionalEndTag(*pRule);
      if (pEndTag == nullptr) {
        DebugLog("[CStartTag::findEndTagInternal] findOptionalEndTag failed. Start tag <%s> nBegin <%d> nEnd <%d>.",
                 m_csName.c_str(), LogPos(m_nBegin), LogPos(m_nEnd));
      }
      return pEndTag;
    }
    if (pElements->m_EndTagForbiddenElements.contains(m_nElementIndex)) return nullptr;
    bCheckForEmptyElementTag = !pElements->m_EndTagRequiredElements.contains(m_nElementIndex);
    if (bCheckForEmptyElementTag && isEmptyElementTag()) return nullptr;
  } else if (m_pStartTagType->getCorrespondingEndTagType() == nullptr) {
    return nullptr;
  }
  CEndTagType* pEndType = m_pStartTagType->getCorrespondingEndTagType();
  CEndTag* pEndTag = m_pSource->findNextEndTag(m_nEnd, m_csName, pEndType);
  if (pEndTag == nullptr) {
    DebugLog("[CStartTag::findEndTagInternal] StartTag <%s> at <%d> missing required end tag.", m_csName.c_str(),
             LogPos(m_nBegin));
    return nullptr;
  }
  if (pElements->m_NotNestableElements.contains(m_nElementIndex)) {
    CStartTag* pNext = m_pSource->findNextStartTag(m_nEnd, m_csName);
    if (pNext == nullptr || pNext->getBegin() > pEndTag->getBegin()) return pEndTag;
    DebugLog("[CStartTag::findEndTagInternal] StartTag <%s> at <%d> missing required end tag - invalid nested start "
             "tag encountered before and tag.",
             m_csName.c_str(), LogPos(m_nBegin));
    CEndTag* pEmpty = CEndTag::CREATE_NEW_INST(m_pSource, pNext->getBegin(), pNext->getBegin(),
                                               CEndTagTypeSingletonData::getInstance()->m_pNormal, m_csName);
    if (pEmpty == nullptr) {
      DebugLog("[CStartTag::findEndTagInternal] CEndTag::CREATE_NEW_INST() failed when creating an empty end tag at "
               "<%d>. Start tag <%s> nBegin <%d> nEnd <%d>.",
               LogPos(pNext->getBegin()), m_csName.c_str(), LogPos(m_nBegin), LogPos(m_nEnd));
    }
    return pEmpty;
  }
  CStartTag* pNextStart = nullptr;
  CEndTag* pMatch = findEndTagNested(this, pEndTag, bCheckForEmptyElementTag, &pNextStart, true);
  if (pNextOfName != nullptr) *pNextOfName = pNextStart;
  if (pMatch == nullptr) {
    DebugLog("[CStartTag::findEndTagInternal] StartTag <%s> at <%d> missing required end tag.", m_csName.c_str(),
             LogPos(m_nBegin));
  }
  return pMatch;
}

namespace {

// Walks that pass no more tags than this cost little to repeat.
constexpr size_t kShortWalk = 16;

}  // namespace

bool CStartTag::walkOptionalEndTag(const CEndTagRule& rule, COptionalWalk& walk, CWalkOutcome* pOutcome,
                                   CStartTag** ppPending) {
  CCache& cache = m_pSource->getCache();
  *ppPending = nullptr;
  CWalkOutcome outcome;
  HXPos nPassedTo = m_pSource->getEnd();
  for (;;) {
    if (walk.nPos >= m_pSource->getEnd()) break;
    if (const CWalkOutcome* pKnown = cache.walkOutcome(m_nElementIndex, walk.nPos)) {
      outcome = *pKnown;
      nPassedTo = walk.nPos;
      break;
    }
    CTag* pTag = CTag::findPreviousOrNextTag(m_pSource, walk.nPos, false);
    if (pTag == nullptr) break;
    ++walk.nPassed;
    const CHTMLElementSet* pCandidates;
    if (pTag->isStartTag()) {
      if (rule.m_SteppedOverElements.contains(pTag->getElementIndex())) {
        auto* pStepped = static_cast<CStartTag*>(pTag);
        // Without the position cache every search makes a new tag object:
        // the one the caller has just built stands for the tag found again.
        if (walk.pPending != nullptr && walk.pPending->getBegin() == pStepped->getBegin()) {
          pStepped = walk.pPending;
        }
        if (!pStepped->m_bElementCached && pStepped->hasOptionalEndTag()) {
          // Its element needs a walk like this one; the caller runs it first
          // instead of nesting the call.
          *ppPending = pStepped;
          walk.pPending = pStepped;
          return false;
        }
        // The whole stepped-over element is passed, so the tags inside it do
        // not end this one. Without an element the start tag alone is passed.
        CElement* pElement = pStepped->getElement();
        walk.vecStretches.emplace_back(walk.nStretchFrom, pTag->getBegin());
        walk.nPos = pElement != nullptr ? pElement->getEnd() : pStepped->getEnd();
        walk.nStretchFrom = walk.nPos;
        continue;
      }
      pCandidates = &rule.m_EndingStartTags;
    } else {
      if (pTag->getElementIndex() == m_nElementIndex) {
        outcome = CWalkOutcome{pTag, true};
        nPassedTo = pTag->getBegin();
        break;
      }
      pCandidates = &rule.m_EndingEndTags;
    }
    if (pCandidates->contains(pTag->getElementIndex())) {
      outcome = CWalkOutcome{pTag, false};
      nPassedTo = pTag->getBegin();
      break;
    }
    walk.nPos = pTag->getBegin() + 1;
  }
  if (walk.nPassed > kShortWalk) {
    if (walk.nStretchFrom <= nPassedTo) walk.vecStretches.emplace_back(walk.nStretchFrom, nPassedTo);
    cache.rememberWalk(m_nElementIndex, walk.vecStretches, outcome);
  }
  *pOutcome = outcome;
  return true;
}

CEndTag* CStartTag::endTagOf(const CWalkOutcome& outcome) {
  if (outcome.bOwnEndTag) return static_cast<CEndTag*>(outcome.pTag);
  CEndTagType* pNormalEnd = CEndTagTypeSingletonData::getInstance()->m_pNormal;
  if (outcome.pTag != nullptr) {
    const HXPos nAt = outcome.pTag->getBegin();
    CEndTag* pEndTag = CEndTag::CREATE_NEW_INST(m_pSource, nAt, nAt, pNormalEnd, m_csName);
    if (pEndTag == nullptr) {
      DebugLog("[CStartTag::findOptionalEndTag] CEndTag::CREATE_NEW_INST() failed when creating an empty end tag at "
               "<%d>. Start tag <%s> nBegin <%d> nEnd <%d>",
               LogPos(nAt), m_csName.c_str(), LogPos(m_nBegin), LogPos(m_nEnd));
    }
    return pEndTag;
  }
  CEndTag* pEndTag =
      CEndTag::CREATE_NEW_INST(m_pSource, m_pSource->getEnd(), m_pSource->getEnd(), pNormalEnd, m_csName);
  if (pEndTag == nullptr) {
    DebugLog("[CStartTag::findOptionalEndTag] CEndTag::CREATE_NEW_INST() failed when creating an empty end tag at "
             "the end of the source document. Start tag <%s> nBegin <%d> nEnd <%d> .",
             m_csName.c_str(), LogPos(m_nBegin), LogPos(m_nEnd));
  }
  return pEndTag;
}

bool CStartTag::hasOptionalEndTag() const {
  return m_pStartTagType == CStartTagTypeSingletonData::getInstance()->m_pNormal &&
         CHTMLElementsSingletonData::getEndTagRule(m_nElementIndex) != nullptr;
}

CEndTag* CStartTag::findOptionalEndTag(const CEndTagRule& rule) {
  COptionalWalk walk(m_nEnd);
  CWalkOutcome outcome;
  CStartTag* pPending = nullptr;
  while (!walkOptionalEndTag(rule, walk, &outcome, &pPending)) pPending->getElement();
  return endTagOf(outcome);
}

CElement* CStartTag::finishElement(CEndTag* pEndTag) {
  CElement* pElement = CElement::CREATE_NEW_INST(m_pSource, this, pEndTag);
  if (pElement == nullptr) {
    DebugLog("[CStartTag::getElement] CElement::CREATE_NEW_INST() failed. Start tag <%s> nBegin <%d> nEnd <%d>.",
             m_csName.c_str(), LogPos(m_nBegin), LogPos(m_nEnd));
  }
  m_pElement = pElement;
  m_bElementCached = true;
  // The end tag's own element is not settled here: another start tag, nearer
  // to it and matched before or after this one, may end with it too, and the
  // end tag's element is the nearest (CEndTag::getElement). m_pElement only
  // tells that an element ended with it before.
  if (pEndTag != nullptr) {
    if (pEndTag->m_pElement != nullptr) {
      DebugLog("[CStartTag::getElement] EndTag <%s> at pos <%d> terminates more than one element.",
               pEndTag->getName().c_str(), LogPos(pEndTag->getBegin()));
    }
    if (!pEndTag->m_bElementCached) pEndTag->m_pElement = pElement;
  }
  return pElement;
}

CElement* CStartTag::finishElement(const CWalkOutcome& outcome) {
  if (outcome.bOwnEndTag) return finishElement(static_cast<CEndTag*>(outcome.pTag));
  const HXPos nEnd = outcome.pTag != nullptr ? outcome.pTag->getBegin() : m_pSource->getEnd();
  CElement* pElement = CElement::CREATE_NEW_INST(m_pSource, this, nEnd);
  if (pElement == nullptr) {
    DebugLog("[CStartTag::getElement] CElement::CREATE_NEW_INST() failed. Start tag <%s> nBegin <%d> nEnd <%d>.",
             m_csName.c_str(), LogPos(m_nBegin), LogPos(m_nEnd));
  }
  m_pElement = pElement;
  m_bElementCached = true;
  return pElement;
}

bool CStartTag::settleNameFromParse() {
  CStartTagType* pNormal = CStartTagTypeSingletonData::getInstance()->m_pNormal;
  if (m_pStartTagType != pNormal ||
      pNormal->getCorrespondingEndTagType() != CEndTagTypeSingletonData::getInstance()->m_pNormal) {
    return false;
  }
  // Names whose end tags are forbidden follow their own rules; a name that
  // does not end in a name character also matches longer names in the
  // searches.
  CHTMLElementsSingletonData* pElements = CHTMLElementsSingletonData::getInstance();
  if (pElements->m_EndTagForbiddenElements.contains(m_nElementIndex) || !isXMLName(m_csName) ||
      m_csName.back() == ':') {
    return false;
  }
  const CParseIndex* pIndex = m_pSource->parseIndex();
  std::span<const CParseIndex::Entry> starts;
  std::span<const CParseIndex::Entry> ends;
  if (pIndex == nullptr || !pIndex->takeNameGroup(m_csName, &starts, &ends)) return false;
  // "<div/>" opens no element unless the name requires an end tag.
  const bool bCheckForEmptyElementTag = !pElements->m_EndTagRequiredElements.contains(m_nElementIndex);
  // Each start tag with its end tag, or (null) the tag at which it ends
  // without one, or neither.
  struct CMatch {
    CStartTag* pStart;
    CEndTag* pEnd;
    CTag* pEndsAt;
  };
  std::vector<CMatch> vecMatches;
  vecMatches.reserve(starts.size());
  if (pElements->m_NotNestableElements.contains(m_nElementIndex)) {
    // The first end tag after a start tag closes it, unless another start
    // tag of the name comes first: the element then ends there.
    size_t j = 0;
    for (size_t i = 0; i < starts.size(); ++i) {
      auto* pStart = static_cast<CStartTag*>(starts[i].second);
      if (bCheckForEmptyElementTag && pStart->isEmptyElementTag()) {
        vecMatches.push_back({pStart, nullptr, nullptr});
        continue;
      }
      while (j < ends.size() && ends[j].first < pStart->getEnd()) ++j;
      // Tags of a full parse never overlap; should they, the tag-by-tag
      // matching decides.
      if (j < ends.size() && ends[j].first < pStart->getEnd()) return false;
      CTag* pNext = i + 1 < starts.size() ? starts[i + 1].second : nullptr;
      if (pNext != nullptr && pNext->getBegin() < pStart->getEnd()) return false;
      if (j == ends.size()) {
        vecMatches.push_back({pStart, nullptr, nullptr});
      } else if (pNext == nullptr || pNext->getBegin() > ends[j].first) {
        vecMatches.push_back({pStart, static_cast<CEndTag*>(ends[j].second), nullptr});
      } else {
        vecMatches.push_back({pStart, nullptr, pNext});
      }
    }
  } else {
    // Nested: a forward pass with a stack of the open start tags.
    std::vector<CStartTag*> vecOpen;
    size_t i = 0;
    size_t j = 0;
    while (i < starts.size() || j < ends.size()) {
      if (i < starts.size() && (j == ends.size() || starts[i].first < ends[j].first)) {
        auto* pStart = static_cast<CStartTag*>(starts[i++].second);
        if (bCheckForEmptyElementTag && pStart->isEmptyElementTag()) {
          vecMatches.push_back({pStart, nullptr, nullptr});
        } else {
          vecOpen.push_back(pStart);
        }
        continue;
      }
      auto* pEnd = static_cast<CEndTag*>(ends[j++].second);
      if (vecOpen.empty()) continue;
      if (pEnd->getBegin() < vecOpen.back()->getEnd()) return false;
      vecMatches.push_back({vecOpen.back(), pEnd, nullptr});
      vecOpen.pop_back();
    }
    for (CStartTag* pStart : vecOpen) vecMatches.push_back({pStart, nullptr, nullptr});
  }
  for (const CMatch& match : vecMatches) {
    CStartTag* pStart = match.pStart;
    if (pStart->m_bElementCached) continue;
    if (match.pEndsAt != nullptr) {
      pStart->finishElement(CWalkOutcome{match.pEndsAt, false});
      continue;
    }
    if (match.pEnd == nullptr && !(bCheckForEmptyElementTag && pStart->isEmptyElementTag())) {
      DebugLog("[CStartTag::findEndTagInternal] StartTag <%s> at <%d> missing required end tag.",
               pStart->m_csName.c_str(), LogPos(pStart->m_nBegin));
    }
    pStart->finishElement(match.pEnd);
  }
  return true;
}

bool CStartTag::settleOptionalFromParse(const CEndTagRule& rule) {
  const std::vector<CTag*>* pTags = m_pSource->orderedTags();
  const CParseIndex* pIndex = m_pSource->parseIndex();
  std::span<const CParseIndex::Entry> starts;
  std::span<const CParseIndex::Entry> ends;
  if (pTags == nullptr || pIndex == nullptr || !isXMLName(m_csName) || m_csName.back() == ':' ||
      !pIndex->takeNameGroup(m_csName, &starts, &ends)) {
    return false;
  }
  const std::vector<CTag*>& tags = *pTags;
  const size_t n = tags.size();
  auto firstFrom = [&tags](HXPos nPos) {
    return static_cast<size_t>(
        std::lower_bound(tags.begin(), tags.end(), nPos, [](const CTag* pTag, HXPos p) { return pTag->getBegin() < p; }) -
        tags.begin());
  };
  if (n >= (size_t{1} << 30)) return false;
  // vecFrom[k]: how a walk that reaches tags[k] ends: 0 at the page's end,
  // else the deciding tag's index plus one, times two, plus one when it is
  // the element's own end tag.
  std::vector<uint32_t> vecFrom(n + 1, 0);
  auto decided = [](size_t k, bool bOwn) { return static_cast<uint32_t>((k + 1) * 2 + (bOwn ? 1 : 0)); };
  // The start tags of this element, each with the index its walk begins at.
  std::vector<std::pair<CStartTag*, size_t>> vecStarts;
  const std::vector<int32_t>& codes = m_pSource->orderedTagCodes();
  const int32_t nOwnStartCode = static_cast<int32_t>(m_nElementIndex * 2 + 1);
  for (size_t k = n; k-- > 0;) {
    const int32_t nCode = codes[k];
    const int64_t nIndex = (nCode - (nCode & 1)) / 2;
    if (nCode == nOwnStartCode) {
      auto* pStart = static_cast<CStartTag*>(tags[k]);
      if (!pStart->m_bElementCached && pStart->hasOptionalEndTag()) {
        // Its walk begins at the first tag at or after its end: the next
        // one, as tags of a full parse never overlap.
        if (k + 1 < n && tags[k + 1]->getBegin() < pStart->getEnd()) return false;
        vecStarts.emplace_back(pStart, k + 1);
      }
    }
    if ((nCode & 1) != 0) {
      if (rule.m_SteppedOverElements.contains(nIndex)) {
        auto* pStepped = static_cast<CStartTag*>(tags[k]);
        // A stepped-over element that itself needs a walk: the walks decide.
        if (!pStepped->m_bElementCached && pStepped->hasOptionalEndTag()) return false;
        CElement* pElement = pStepped->getElement();
        const size_t j = firstFrom(pElement != nullptr ? pElement->getEnd() : pStepped->getEnd());
        if (j <= k) return false;
        vecFrom[k] = vecFrom[j];
        continue;
      }
      if (rule.m_EndingStartTags.contains(nIndex)) {
        vecFrom[k] = decided(k, false);
        continue;
      }
    } else if (nIndex == m_nElementIndex) {
      vecFrom[k] = decided(k, true);
      continue;
    } else if (rule.m_EndingEndTags.contains(nIndex)) {
      vecFrom[k] = decided(k, false);
      continue;
    }
    vecFrom[k] = vecFrom[k + 1];
  }
  // In page order, as the walks would have made them.
  for (auto it = vecStarts.rbegin(); it != vecStarts.rend(); ++it) {
    const uint32_t nOutcome = vecFrom[it->second];
    CWalkOutcome outcome;
    if (nOutcome != 0) outcome = CWalkOutcome{tags[nOutcome / 2 - 1], (nOutcome & 1) != 0};
    it->first->finishElement(outcome);
  }
  return true;
}

CElement* CStartTag::getElement() {
  if (m_bElementCached) return m_pElement;
  if (!hasOptionalEndTag()) {
    if (settleNameFromParse() && m_bElementCached) return m_pElement;
    std::optional<CStartTag*> nextOfName;
    CElement* pElement = finishElement(findEndTagInternal(&nextOfName));
    if (pElement != nullptr && nextOfName.has_value()) pElement->setNextStartTagOfName(*nextOfName);
    return pElement;
  }
  if (settleOptionalFromParse(*CHTMLElementsSingletonData::getEndTagRule(m_nElementIndex)) && m_bElementCached) {
    return m_pElement;
  }
  // Elements with optional end tags step over whole elements of their own
  // kind (html in html, for one); nested walks run from an explicit stack.
  struct Frame {
    CStartTag* pTag;
    const CEndTagRule* pRule;
    COptionalWalk walk;
  };
  alignas(Frame) std::byte aFrames[8 * sizeof(Frame)];
  std::pmr::monotonic_buffer_resource frames(aFrames, sizeof(aFrames));
  std::pmr::vector<Frame> stack(&frames);
  stack.reserve(8);
  stack.push_back({this, CHTMLElementsSingletonData::getEndTagRule(m_nElementIndex), COptionalWalk(m_nEnd)});
  while (!stack.empty()) {
    Frame& top = stack.back();
    CWalkOutcome outcome;
    CStartTag* pPending = nullptr;
    if (top.pTag->walkOptionalEndTag(*top.pRule, top.walk, &outcome, &pPending)) {
      CStartTag* pTag = top.pTag;
      stack.pop_back();
      pTag->finishElement(outcome);
    } else {
      stack.push_back({pPending, CHTMLElementsSingletonData::getEndTagRule(pPending->m_nElementIndex),
                       COptionalWalk(pPending->m_nEnd)});
    }
  }
  return m_pElement;
}
