#include "html/dom_source.h"

#include "common/debug_log.h"
#include "filter/common_pointers.h"
#include "html/edit_records.h"
#include "html/element.h"
#include "html/source.h"
#include "html/tag.h"
#include "html/tag_types.h"

namespace {

const ci_string kHtml("html");
const ci_string kHead("head");
const ci_string kBody("body");

// The page position of a word of the record, or -1 when the word is null or
// lies below the first byte of the response data.
HXPos PositionOf(const CCommonPointers& record, CCommonPointers::Word w) {
  const ULONGLONG qwFirst = record[CCommonPointers::FirstByte];
  const ULONGLONG qwAddress = record[w];
  if (qwFirst == 0 || qwAddress == 0 || qwAddress < qwFirst) return HX_NPOS;
  return qwAddress - qwFirst;
}

}  // namespace

CDOMSource::CDOMSource(const CCommonPointers* pRecord) {
  HXPos nDataLength = 0;
  HXPos nHtmlDataBeginPos = HX_NPOS;
  const char* pBuffer = nullptr;
  if (pRecord != nullptr) {
    const ULONGLONG qwFirst = (*pRecord)[CCommonPointers::FirstByte];
    const ULONGLONG qwLast = (*pRecord)[CCommonPointers::LastByte];
    if (qwFirst != 0 && qwLast != 0 && qwLast >= qwFirst) nDataLength = qwLast - qwFirst + 1;
    const ULONGLONG qwHtml = (*pRecord)[CCommonPointers::HtmlBegin] != 0 ? (*pRecord)[CCommonPointers::HtmlBegin]
                                                                         : qwFirst;
    if (qwFirst != 0 && qwHtml >= qwFirst) nHtmlDataBeginPos = qwHtml - qwFirst;
    pBuffer = pRecord->Address(CCommonPointers::FirstByte);
  }
  CSource* pSource = CSource::CREATE_NEW_INST(pBuffer, nHtmlDataBeginPos, nDataLength);
  if (pSource == nullptr) {
    DebugLog("[CDOMSource::CDOMSource] CSource::CREATE_NEW_INST() failed. nBegin <%d> nEnd <%d>.",
             LogPos(nHtmlDataBeginPos), LogPos(nDataLength));
    return;
  }
  m_spSource = CSourcePtr(pSource);
  m_htmlElement = CDOMElement(m_spSource, nullptr);
  m_headElement = CDOMElement(m_spSource, nullptr);
  m_bodyElement = CDOMElement(m_spSource, nullptr);

  initHtml(PositionOf(*pRecord, CCommonPointers::HtmlStartTag));
  initBodyOrHead(PositionOf(*pRecord, CCommonPointers::BodyStartTag),
                 PositionOf(*pRecord, CCommonPointers::BodyEndTag), true);
  initBodyOrHead(PositionOf(*pRecord, CCommonPointers::HeadStartTag),
                 PositionOf(*pRecord, CCommonPointers::HeadEndTag), false);
}

void CDOMSource::check(const char* pOperation) const {
  if (!m_spSource) {
    throw CDOMParserUndefinedObjectException(std::string("CDOMSource::") + pOperation + "() : m_spSource is 0");
  }
}

CStartTag* CDOMSource::normalStartTagAt(HXPos nPos) const {
  CSource* pSource = m_spSource.get();
  CStartTagType* pNormal = CStartTagTypeSingletonData::getInstance()->m_pNormal;
  // The tag the searches hand out, when it is of the normal type, so that
  // the page keeps one object per tag.
  CTag* pTag = CTag::getTagAt(pSource, nPos);
  if (pTag == nullptr || pTag->getTagType() != pNormal) pTag = pNormal->constructTagAt(pSource, nPos);
  return (pTag != nullptr && pTag->isStartTag()) ? static_cast<CStartTag*>(pTag) : nullptr;
}

CElement* CDOMSource::htmlElementFrom(CStartTag* pStartTag, bool bFromGetter) const {
  CSource* pSource = m_spSource.get();
  CEndTag* pEndTag = findPreviousNormalEndTag(pSource, pSource->getEnd(), kHtml);
  if (pEndTag == nullptr) {
    pEndTag = CEndTag::CREATE_NEW_INST(pSource, pSource->getEnd(), pSource->getEnd(),
                                       CEndTagTypeSingletonData::getInstance()->m_pNormal, kHtml);
    if (pEndTag == nullptr && bFromGetter) {
      DebugLog("[CDOMSource::getHtml()] HTML element initialization: CEndTag::CREATE_NEW_INST() failed when creating "
               "an end tag at the end of the source document. nPos <%d> .",
               LogPos(pSource->getEnd()));
    } else if (pEndTag == nullptr) {
      DebugLog("[CDOMSource::CDOMSource] HTML element initialization: CEndTag::CREATE_NEW_INST() failed when "
               "creating an empty end tag at the end of the source document. nPos <%d> .",
               LogPos(pSource->getEnd()));
    }
  }
  CElement* pElement = CElement::CREATE_NEW_INST(pSource, pStartTag, pEndTag);
  if (pElement == nullptr) {
    DebugLog(bFromGetter ? "[CDOMSource::getHtml()] HTML element initialization: CElement::CREATE_NEW_INST() failed"
                         : "[CDOMSource::CDOMSource] HTML element initialization: CElement::CREATE_NEW_INST() failed.");
  }
  return pElement;
}

void CDOMSource::initHtml(HXPos nStartTagPos) {
  if (nStartTagPos == HX_NPOS) return;
  CStartTag* pStartTag = normalStartTagAt(nStartTagPos);
  if (pStartTag == nullptr) return;
  m_bHtmlInit = true;
  CElement* pElement = htmlElementFrom(pStartTag, false);
  m_htmlElement = CDOMElement(m_spSource, pElement);
}

void CDOMSource::initBodyOrHead(HXPos nStartPos, HXPos nEndPos, bool bBody) {
  if (nStartPos == HX_NPOS) return;
  CStartTag* pStartTag = normalStartTagAt(nStartPos);
  if (pStartTag == nullptr) return;
  (bBody ? m_bBodyInit : m_bHeadInit) = true;
  CSource* pSource = m_spSource.get();
  CEndTag* pEndTag = nullptr;
  if (nEndPos != HX_NPOS) {
    CTag* pTag = CEndTagTypeSingletonData::getInstance()->m_pNormal->constructTagAt(pSource, nEndPos);
    if (pTag != nullptr && !pTag->isStartTag()) pEndTag = static_cast<CEndTag*>(pTag);
  }
  CElement* pElement;
  if (pEndTag != nullptr) {
    pElement = CElement::CREATE_NEW_INST(pSource, pStartTag, pEndTag);
    if (pElement == nullptr) {
      DebugLog(bBody ? "[CDOMSource::CDOMSource] BODY element initialization: CElement::CREATE_NEW_INST() failed"
                     : "[CDOMSource::CDOMSource] HEAD element initialization: CElement::CREATE_NEW_INST() failed");
    }
  } else {
    pElement = pStartTag->getElement();
    if (pElement == nullptr) {
      DebugLog(bBody ? "[CDOMSource::CDOMSource] BODY element initialization: CStartTag::getElement() failed."
                     : "[CDOMSource::CDOMSource] HEAD element initialization: CStartTag::getElement() failed.");
    }
  }
  (bBody ? m_bodyElement : m_headElement) = CDOMElement(m_spSource, pElement);
}

const CDOMElement& CDOMSource::getHtml() {
  if (m_bHtmlInit) return m_htmlElement;
  check("getHtml");
  m_bHtmlInit = true;
  CSource* pSource = m_spSource.get();
  CStartTag* pStartTag = pSource->findNextStartTag(pSource->getBegin(), kHtml);
  if (pStartTag == nullptr) return m_htmlElement;
  CElement* pElement = htmlElementFrom(pStartTag, true);
  m_htmlElement = CDOMElement(m_spSource, pElement);
  return m_htmlElement;
}

const CDOMElement& CDOMSource::getBody() {
  if (m_bBodyInit) return m_bodyElement;
  check("getBody");
  m_bBodyInit = true;
  CSource* pSource = m_spSource.get();
  CStartTag* pStartTag = pSource->findNextStartTag(pSource->getBegin(), kBody);
  if (pStartTag == nullptr) return m_bodyElement;
  CEndTag* pEndTag = findPreviousNormalEndTag(pSource, pSource->getEnd(), kBody);
  CElement* pElement;
  if (pEndTag != nullptr) {
    pElement = CElement::CREATE_NEW_INST(pSource, pStartTag, pEndTag);
    if (pElement == nullptr) {
      DebugLog("[CDOMSource::getBody()] BODY element initialization: CElement::CREATE_NEW_INST() failed");
    }
  } else {
    pElement = pStartTag->getElement();
    if (pElement == nullptr) {
      DebugLog("[CDOMSource::getBody()] BODY element initialization: CStartTag::getElement() failed");
    }
  }
  m_bodyElement = CDOMElement(m_spSource, pElement);
  return m_bodyElement;
}

const CDOMElement& CDOMSource::getHead() {
  if (m_bHeadInit) return m_headElement;
  check("getHead");
  m_bHeadInit = true;
  CSource* pSource = m_spSource.get();
  CStartTag* pStartTag = pSource->findNextStartTag(pSource->getBegin(), kHead);
  if (pStartTag == nullptr) return m_headElement;
  CEndTag* pEndTag;
  if (m_bBodyInit && !m_bodyElement.isUndefined()) {
    pEndTag = findPreviousNormalEndTag(pSource, m_bodyElement.getBeginPos(), kHead);
  } else {
    pEndTag = findNextNormalEndTag(pSource, pStartTag->getEnd(), kHead);
  }
  CElement* pElement;
  if (pEndTag != nullptr) {
    pElement = CElement::CREATE_NEW_INST(pSource, pStartTag, pEndTag);
    if (pElement == nullptr) {
      DebugLog("[CDOMSource::getHead] HEAD element initialization: CElement::CREATE_NEW_INST() failed");
    }
  } else {
    pElement = pStartTag->getElement();
    if (pElement == nullptr) {
      DebugLog("[CDOMSource::getHead] HEAD element initialization: CStartTag::getElement() failed.");
    }
  }
  m_headElement = CDOMElement(m_spSource, pElement);
  return m_headElement;
}

HXPos CDOMSource::getBeginPos() const {
  check("getBeginPos");
  return m_spSource->getBegin();
}

CDOMElement CDOMSource::getElementById(const std::string& id) const {
  check("getElementById");
  return CDOMElement(m_spSource, m_spSource->getElementById(ToCI(id)));
}

CDOMElement CDOMSource::getEnclosingElement(HXPos nPos) const {
  check("getEnclosingElement");
  return CDOMElement(m_spSource, m_spSource->getEnclosingElement(nPos));
}

HXPos CDOMSource::scanForString(const std::string& s, HXPos nPos, HXPos nLength) const {
  check("scanForString");
  HXPos nTo = HX_NPOS;
  // A range whose end cannot be represented runs to the source's end.
  if (nLength != HX_NPOS && nPos <= HX_NPOS - 1 - nLength) nTo = nPos + nLength;
  return DomScanRange(m_spSource.get(), s, nPos, nTo);
}

void CDOMSource::substringData(HXPos nPos, HXPos nLength, std::string& out) const {
  check("substringData");
  out = m_spSource->substring(nPos, nLength);
}

void CDOMSource::substringData(HXPos nPos, HXPos nLength, ci_string& out) const {
  check("substringData");
  m_spSource->substring(nPos, nLength, out);
}

void CDOMSource::getPlainText(HXPos nBegin, HXPos nEnd, std::string& out) const {
  check("getPlainText");
  out.clear();
  CSource* pSource = m_spSource.get();
  CSegment* pSegment = CSegment::CREATE_NEW_INST(pSource, nBegin, nEnd);
  if (pSegment == nullptr) {
    DebugLog("[CDOMSource::getPlainText] CSegment::CREATE_NEW_INST() failed. nBegin <%d> nEnd <%d>.", LogPos(nBegin),
             LogPos(nEnd));
    return;
  }
  if (pSegment->isEmpty()) return;
  std::vector<CTag*> tags;
  pSegment->findAllTags(nullptr, tags);
  const char* pBuffer = pSource->getBuffer();
  HXPos nCursor = nBegin;
  for (CTag* pTag : tags) {
    if (nCursor < pTag->getBegin()) {
      out.append(pBuffer + nCursor, pTag->getBegin() - nCursor);
      nCursor = pTag->getEnd();
    } else if (pTag->getEnd() > nCursor) {
      nCursor = pTag->getEnd();
    }
  }
  if (nCursor < nEnd) out.append(pBuffer + nCursor, nEnd - nCursor);
}

DWORD CDOMSource::insertData(HXPos nPos, const std::string& text, CBufferInstructionList* pList) const {
  check("insertData");
  if (nPos < m_spSource->getBegin() || nPos > m_spSource->getEnd()) {
    throw CDOMParserIllegalArgumentException("CDOMSource::insertData() : invalid nPos value",
                                             static_cast<int64_t>(nPos));
  }
  return RecordInsertion(*m_spSource, nPos, text, pList);
}

DWORD CDOMSource::deleteData(HXPos nPos, HXPos nLength, CBufferInstructionList* pList) const {
  check("deleteData");
  // The length is compared with what is left after nPos, so a huge length
  // cannot wrap the sum around into range.
  if (nPos < m_spSource->getBegin() || nPos > m_spSource->getEnd() || nLength > m_spSource->getEnd() - nPos) {
    throw CDOMParserIllegalArgumentException("CDOMSource::deleteData() : invalid nPos value",
                                             static_cast<int64_t>(nPos));
  }
  return RecordDeletion(*m_spSource, nPos, nLength, pList);
}
