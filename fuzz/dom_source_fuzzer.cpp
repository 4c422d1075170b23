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
#include "html/element.h"
#include "html/source.h"
#include "html/tag.h"

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

// Searches through the position cache answer as the uncached searches do, at
// positions picked by the input, and elements end at the same end tags.
void CompareCachedAndUncached(const std::string& sBuffer, size_t nHtmlBegin, uint8_t control) {
  CSource cached(sBuffer.data(), nHtmlBegin, sBuffer.size());
  CSource uncached(sBuffer.data(), nHtmlBegin, sBuffer.size());
  uncached.setUseCaches(false);
  const HXPos nLength = sBuffer.size() - nHtmlBegin;
  if (nLength == 0) return;
  const ci_string div("div");
  for (HXPos i = 0; i < 24; ++i) {
    const HXPos p = nHtmlBegin + (i * 7919 + control) % nLength;
    const bool bPrevious = (i & 1) != 0;
    if (CTag::findPreviousOrNextTag(&cached, p, bPrevious) != nullptr) {
      CTag* a = CTag::findPreviousOrNextTag(&cached, p, bPrevious);
      CTag* b = CTag::findPreviousOrNextTag(&uncached, p, bPrevious);
      if (b == nullptr || a->getBegin() != b->getBegin() || a->getEnd() != b->getEnd()) __builtin_trap();
    } else if (CTag::findPreviousOrNextTag(&uncached, p, bPrevious) != nullptr) {
      __builtin_trap();
    }
    CStartTag* s = cached.findNextStartTag(p, div);
    CStartTag* t = uncached.findNextStartTag(p, div);
    if ((s == nullptr) != (t == nullptr)) __builtin_trap();
    if (s == nullptr) continue;
    if (s->getBegin() != t->getBegin()) __builtin_trap();
    CElement* e = s->getElement();
    CElement* f = t->getElement();
    if ((e == nullptr) != (f == nullptr)) __builtin_trap();
    if (e != nullptr && e->getEnd() != f->getEnd()) __builtin_trap();
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
