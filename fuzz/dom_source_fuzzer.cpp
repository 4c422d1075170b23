// libFuzzer target: arbitrary bytes as a response page, through the DOM
// document's construction, the page queries the forms use and a few edits,
// then the instruction list applied the way the filter host applies it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "filter/buffer_instruction.h"
#include "filter/common_pointers.h"
#include "host/hx_buffer_apply.h"
#include "html/dom_source.h"
#include "html/attributes.h"
#include "html/element.h"
#include "html/source.h"
#include "html/tag.h"
#include "html/tag_types.h"

namespace {

ULONGLONG Addr(const std::string& s, size_t nPos) {
  return static_cast<ULONGLONG>(reinterpret_cast<uintptr_t>(s.data() + nPos));
}

// The record's tag words point at the first occurrence of a text, when the
// control byte asks for them.
void SetWord(CCommonPointers& record, CCommonPointers::Word w, const std::string& s, size_t nFrom, const char* pText) {
  const size_t p = s.find(pText, nFrom);
  if (p != std::string::npos) record[w] = Addr(s, p);
}

void Exercise(CDOMSource& dom, const std::string& sBuffer, uint8_t control, CBufferInstructionList& list) {
  const CDOMElement& html = dom.getHtml();
  const CDOMElement& body = (control & 2) ? dom.getBody() : dom.getHead();
  const CDOMElement& head = (control & 2) ? dom.getHead() : dom.getBody();
  for (const CDOMElement* pElement : {&html, &body, &head}) {
    if (pElement->isUndefined()) continue;
    pElement->getContentEndPos();
    CDOMElementVector spans = pElement->getElementsByTagName("span");
    for (size_t i = 0; i < spans.length() && i < 8; ++i) {
      CDOMElement span = spans.item(i);
      span.getAttribute("id").isUndefined();
      CDOMAttribute attid = span.getAttribute("attid");
      if (!attid.isUndefined()) attid.getValue();
      span.nextSibling();
      span.parentNode();
    }
    pElement->getFirstElementByTagName("a");
    pElement->getFirstStartTagByName("hidid");
    pElement->getElementById("lnkAtmt");
    pElement->scanContentForString("onClkTb");
    std::string text;
    dom.getPlainText(pElement->getContentBeginPos(), pElement->getContentEndPos(), text);
  }
  CDOMElement byId = dom.getElementById("divAtt");
  const HXPos nScan = dom.scanForString("attid", 0, HX_NPOS);
  if (nScan != HX_NPOS) {
    CDOMElement enclosing = dom.getEnclosingElement(nScan);
    if (!enclosing.isUndefined()) enclosing.tagName();
  }
  CDOMElement probe = dom.getEnclosingElement(sBuffer.size() / 2);

  // Edits.
  if (!body.isUndefined()) {
    body.getStartTag().insertDataAfter("<script src='x.js'></script>", &list);
    body.appendContentData("<div id=added></div>", &list);
    body.setAttribute("onload", "init()", &list);
  }
  if (!head.isUndefined()) head.getStartTag().insertDataBefore("<!-- before head -->", &list);
  if (!byId.isUndefined()) {
    if (control & 4) byId.remove(&list);
    else byId.removeAttribute("class", &list);
  }
  if (!probe.isUndefined()) {
    CDOMAttribute id = probe.getAttribute("id");
    if (!id.isUndefined()) {
      try {
        id.insertValueData(control & 3, "_x", &list);
      } catch (const CDOMParserException&) {
      }
    }
    probe.getStartTag().setAttribute("disabled", "disabled", &list);
  }
  try {
    dom.deleteData(dom.getBeginPos() + (control >> 4), control & 7, &list);
  } catch (const CDOMParserException&) {
  }
}

// Two answers of the cached and the uncached source are the same segment
// (or both none).
void Agree(const CSegment* a, const CSegment* b) {
  if ((a == nullptr) != (b == nullptr)) __builtin_trap();
  if (a != nullptr && (a->getBegin() != b->getBegin() || a->getEnd() != b->getEnd())) __builtin_trap();
}

// The same element: extent, content and end tag.
void AgreeElements(CElement* a, CElement* b) {
  Agree(a, b);
  if (a == nullptr) return;
  if (a->getContentBegin() != b->getContentBegin() || a->getContentEnd() != b->getContentEnd()) __builtin_trap();
  Agree(a->getEndTag(), b->getEndTag());
}

// Both start tags' elements agree.
void AgreeElementsOf(CStartTag* a, CStartTag* b) {
  Agree(a, b);
  if (a != nullptr) AgreeElements(a->getElement(), b->getElement());
}

// Every kind of search the forms make, through the position cache and
// without it, in the same order on both sources, at positions and in an
// order picked by the input: each answer, and the element of each start tag
// found, is the same. A cached search may only be faster. Names of nested
// elements with required end tags and of elements whose end tags are
// optional are both asked for.
void CompareCachedAndUncached(const std::string& sBuffer, size_t nHtmlBegin, uint8_t control) {
  CSource cached(sBuffer.data(), nHtmlBegin, sBuffer.size());
  CSource uncached(sBuffer.data(), nHtmlBegin, sBuffer.size());
  uncached.setUseCaches(false);
  const HXPos nLength = sBuffer.size() - nHtmlBegin;
  if (nLength == 0) return;
  static const ci_string kNames[] = {ci_string("div"), ci_string("a"),    ci_string("td"),   ci_string("span"),
                                     ci_string("p"),   ci_string("body"), ci_string("head"), ci_string("html")};
  const ci_string kId("id");
  CStartTagType* pComment = CStartTagTypeSingletonData::getInstance()->m_pComment;
  constexpr int kKinds = 12;
  // Uncached searches read the page from the start each time: a large page
  // gets fewer positions, so that it costs about what the rest of the run
  // does (the small pages find the faults).
  const HXPos nPositions = nLength <= 16384 ? 24 : 6;
  // An end tag's element and the element that encloses a position walk back
  // through the start tags before them and match each one; without the cache
  // every matching starts afresh, so on a deeply nested page these cost about
  // the cube of the depth (1,400 nested divs: over half a minute an input,
  // past the run's timeout; 370, in 4 KB: ten seconds). They are compared on
  // pages of up to 2 KB, where the deepest nesting costs about a second.
  const bool bWalksBack = nLength <= 2048;
  for (HXPos i = 0; i < nPositions; ++i) {
    const HXPos p = nHtmlBegin + (i * 7919 + control) % nLength;
    const bool bPrevious = (i & 1) != 0;
    const ci_string& name = kNames[(i + (control >> 5)) % 8];
    const HXPos nLimit = p + (control & 3) * 16 + 1;
    for (int k = 0; k < kKinds; ++k) {
      switch ((k + i * 5 + control) % kKinds) {
        case 0:
          Agree(CTag::findPreviousOrNextTag(&cached, p, bPrevious),
                CTag::findPreviousOrNextTag(&uncached, p, bPrevious));
          break;
        case 1: {
          CTag* a = CTag::getTagAt(&cached, p);
          CTag* b = CTag::getTagAt(&uncached, p);
          Agree(a, b);
          if (a != nullptr && a->isStartTag()) AgreeElementsOf(static_cast<CStartTag*>(a), static_cast<CStartTag*>(b));
          break;
        }
        case 2:
          AgreeElementsOf(cached.findNextStartTag(p, name), uncached.findNextStartTag(p, name));
          break;
        case 3:
          AgreeElementsOf(cached.findNextStartTag(p, name, nLimit), uncached.findNextStartTag(p, name, nLimit));
          break;
        case 4:
          AgreeElementsOf(CStartTag::findPreviousOrNext(&cached, p, name, true, true),
                          CStartTag::findPreviousOrNext(&uncached, p, name, true, true));
          break;
        case 5:
          AgreeElementsOf(cached.findPreviousStartTag(p), uncached.findPreviousStartTag(p));
          break;
        case 6:
          AgreeElementsOf(cached.findNextStartTag(p), uncached.findNextStartTag(p));
          break;
        case 7: {
          CEndTag* a = bPrevious ? findPreviousNormalEndTag(&cached, p, name) : findNextNormalEndTag(&cached, p, name);
          CEndTag* b =
              bPrevious ? findPreviousNormalEndTag(&uncached, p, name) : findNextNormalEndTag(&uncached, p, name);
          Agree(a, b);
          if (a != nullptr && bWalksBack) AgreeElements(a->getElement(), b->getElement());
          break;
        }
        case 8: {
          // By attribute value: the id of the start tag nearest p, so that
          // the search finds something on most pages.
          CStartTag* pNear = uncached.findNextStartTag(p);
          CAttributes* pAttributes = pNear != nullptr ? pNear->getAttributes() : nullptr;
          CAttribute* pIdAttribute = pAttributes != nullptr ? pAttributes->getAttribute(kId) : nullptr;
          const std::string sValue =
              pIdAttribute != nullptr && pIdAttribute->hasValue() ? pIdAttribute->getValue() : std::string("lnkAtmt");
          const ci_string value(sValue.data(), sValue.size());
          const bool bCase = (i & 2) != 0;
          AgreeElementsOf(cached.findNextStartTag(p, kId, value, bCase, (i & 4) != 0 ? nLimit : HX_NPOS),
                          uncached.findNextStartTag(p, kId, value, bCase, (i & 4) != 0 ? nLimit : HX_NPOS));
          break;
        }
        case 9:
          Agree(cached.findEnclosingTag(p, nullptr), uncached.findEnclosingTag(p, nullptr));
          Agree(CTag::findPreviousOrNextTag(&cached, p, pComment, bPrevious),
                CTag::findPreviousOrNextTag(&uncached, p, pComment, bPrevious));
          break;
        case 10:
          if (bWalksBack) AgreeElements(cached.getEnclosingElement(p), uncached.getEnclosingElement(p));
          break;
        default:
          AgreeElementsOf(CStartTag::findNextBefore(&cached, p, nLimit),
                          CStartTag::findNextBefore(&uncached, p, nLimit));
          break;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  if (nSize < 1) return 0;
  const uint8_t control = pData[0];
  const std::string sHeaders = "HTTP/1.1 200 OK\r\n\r\n";
  const std::string sBuffer = sHeaders + std::string(reinterpret_cast<const char*>(pData + 1), nSize - 1);

  CCommonPointers record;
  record[CCommonPointers::FirstByte] = Addr(sBuffer, 0);
  record[CCommonPointers::LastByte] = Addr(sBuffer, sBuffer.size() - 1);
  record[CCommonPointers::HtmlBegin] = Addr(sBuffer, sHeaders.size());
  if (control & 1) {
    SetWord(record, CCommonPointers::HtmlStartTag, sBuffer, sHeaders.size(), "<html");
    SetWord(record, CCommonPointers::HeadStartTag, sBuffer, sHeaders.size(), "<head");
    SetWord(record, CCommonPointers::HeadEndTag, sBuffer, sHeaders.size(), "</head>");
    SetWord(record, CCommonPointers::BodyStartTag, sBuffer, sHeaders.size(), "<body");
    SetWord(record, CCommonPointers::BodyEndTag, sBuffer, sHeaders.size(), "</body>");
  }

  CBufferInstructionList list;
  {
    CDOMSource dom(&record);
    if (dom.isUndefined()) __builtin_trap();
    if (control & 8) dom.getSourcePtr()->fullSequentialParse();
    try {
      Exercise(dom, sBuffer, control, list);
    } catch (const CDOMParserException&) {
      // Forms catch these; the page goes out unchanged.
    }
  }
  std::string sOut;
  HxApplyBufferInstructions(sBuffer.data(), sBuffer.size(), list, sOut);

  CompareCachedAndUncached(sBuffer, sHeaders.size(), control);

  // The full parse of the same bytes: tags in page order, inside the page.
  CSource source(sBuffer.data(), sHeaders.size(), sBuffer.size());
  HXPos nLast = 0;
  for (CTag* pTag : source.fullSequentialParse()) {
    if (pTag->getBegin() < nLast || pTag->getEnd() > sBuffer.size() || pTag->getBegin() >= pTag->getEnd()) {
      __builtin_trap();
    }
    nLast = pTag->getBegin() + 1;
  }
  return 0;
}
