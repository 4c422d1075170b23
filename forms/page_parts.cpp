#include "forms/page_parts.h"

#include "common/debug_log.h"
#include "forms/hx_form_context.h"
#include "html/dom_source.h"

bool HasHtmlBodyAndHead(CHXFormContext* pFormContext, const char* pLabel) {
  CDOMSource& dom = *pFormContext->m_spDom;
  const char* pMissing = nullptr;
  if (dom.getHtml().isUndefined()) {
    pMissing = "HTML";
  } else if (dom.getBody().isUndefined()) {
    pMissing = "BODY";
  } else if (dom.getHead().isUndefined()) {
    pMissing = "HEAD";
  }
  if (pMissing != nullptr) DebugLog("%s<%s> element was not found!", pLabel, pMissing);
  return pMissing == nullptr;
}
