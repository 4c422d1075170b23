// Script links of the form base: the product's own scripts and style sheets
// appended to HEAD, and the cached-script prefix put in front of the page's
// own script names.
#include "forms/hx_form.h"

#include <exception>
#include <memory>

#include "common/debug_log.h"
#include "filter/notifications.h"
#include "filter/result_codes.h"
#include "forms/cached_script_decorator.h"
#include "forms/hx_form_context.h"
#include "forms/hx_form_script_path.h"
#include "forms/page_values.h"
#include "html/dom_source.h"
#include "html/source.h"

namespace {

const char* const kScriptBefore = "<SCRIPT language=\"javascript\" src=\"";
const char* const kScriptAfter = "\"></SCRIPT>\n";
const char* const kStyleSheetBefore = "<LINK rel=\"stylesheet\" type=\"text/css\" href=\"";
const char* const kStyleSheetAfter = "\">\n";

// The path holds the request's cached-script prefix: it must not end the
// attribute.
std::string LinkElement(const std::string& path, DWORD dwKind, const CPageChars& page) {
  const std::string value = ValueInAnyAttribute(path, page);
  std::string element;
  element.reserve(256);
  if (dwKind == ScriptLinkKind::Script) element.append(kScriptBefore).append(value).append(kScriptAfter);
  if (dwKind == ScriptLinkKind::StyleSheet) element.append(kStyleSheetBefore).append(value).append(kStyleSheetAfter);
  return element;
}

// Where the file name begins inside the "src" value of the tag, or HX_NPOS.
HXPos FileNameInSrc(const CDOMStartTag& tag, const CSource& source, const std::string& fileName) {
  const CDOMAttribute src = tag.getAttribute("src");
  if (src.isUndefined()) return HX_NPOS;
  const HXPos nValueBegin = src.getValueBeginPos();
  if (nValueBegin == HX_NPOS) return HX_NPOS;
  HXPos nValueEnd = src.getValueEndPos();
  if (nValueEnd == HX_NPOS || nValueEnd > source.getEnd()) nValueEnd = source.getEnd();
  const HXPos nSearchBegin = nValueBegin > source.getBegin() ? nValueBegin : source.getBegin();
  if (nSearchBegin >= source.getEnd() || nSearchBegin >= nValueEnd) return HX_NPOS;
  return DomScanRange(&source, fileName, nSearchBegin, nValueEnd);
}

}  // namespace

DWORD CHXForm::PrefixLinkedScripts(CHXFormContext* pFormContext, const std::string& csFileName,
                                   CCachedScriptDecorator* pScriptManager, bool bInHead) {
  if (pFormContext == nullptr) {
    DebugLog("[CHXForm::PrefixLinkedScripts] Error: Invalid parameter: pFormContext is null!");
    return HX_RC_INVALID_DATA;
  }
  if (csFileName.empty()) {
    DebugLog("[CHXForm::PrefixLinkedScripts] Error: Invalid parameter: csFileName is empty!");
    return HX_RC_INVALID_DATA;
  }
  if (pScriptManager == nullptr) {
    DebugLog("[CHXForm::PrefixLinkedScripts] Error: Invalid parameter: csm is not initialized!");
    return HX_RC_INVALID_DATA;
  }
  // The prefix comes from the request and goes into the page's own "src",
  // quoted or not: it must not end that attribute.
  const std::string prefix = ValueInAnyAttribute(pScriptManager->GetPrefix(), pFormContext->m_pageChars);
  CDOMSource& dom = *pFormContext->m_spDom;
  const CDOMElement parent = bInHead ? dom.getHead() : dom.getHtml();
  const CDOMStartTagVector scripts = parent.getStartTagsByTagName("SCRIPT");
  const CSource& source = *dom.getSourcePtr();
  for (size_t i = 0; i < scripts.length(); ++i) {
    const CDOMStartTag tag = scripts.item(i);
    const HXPos nFound = FileNameInSrc(tag, source, csFileName);
    if (nFound == HX_NPOS) continue;
    const CDOMAttribute src = tag.getAttribute("src");
    const DWORD dwRet =
        src.insertValueData(nFound - src.getValueBeginPos(), prefix, pFormContext->m_pcobBufferInstructionList);
    if (dwRet != 0) {
      DebugLog("[CHXForm::PrefixLinkedScripts] Error: InsertHtmlStringAtPosition failed with error: <%lu> !",
               static_cast<unsigned long>(dwRet));
    }
    return dwRet;
  }
  DebugLog("[CHXForm::PrefixLinkedScripts] Error: File name: <%s> not found!", csFileName.c_str());
  return HX_RC_NOT_FOUND;
}

DWORD CHXForm::PrefixLinkedScripts(CHXFormContext* pFormContext, const std::string& csFileName, bool bInHead) {
  std::unique_ptr<CCachedScriptDecorator> manager(GetCachedScriptManager(pFormContext));
  if (!manager) return HX_RC_INVALID_DATA;
  return PrefixLinkedScripts(pFormContext, csFileName, manager.get(), bInHead);
}

DWORD CHXForm::InsertScriptLink(CHXFormContext* pFormContext, const std::string& csFileName, DWORD dwKind,
                                CHXFormScriptPath* pScriptPath, bool bUseScriptManager) {
  DebugLog("[CHXForm::InsertScriptLink] Start ");
  if (csFileName.empty()) {
    DebugLog("[CHXForm::InsertScriptLink] csFileName paramter not found");
    return HX_RC_NOT_FOUND;
  }
  std::string path;
  if (bUseScriptManager) {
    std::unique_ptr<CCachedScriptDecorator> manager(GetCachedScriptManager(pFormContext));
    if (manager) {
      path = pScriptPath->GetScriptPathFromScriptManager(csFileName, manager.get());
    } else {
      DebugLog("[CHXForm::InsertScriptLink] Error: failed to initialize script manager ");
    }
  } else {
    path = pScriptPath->BuildScriptPath(csFileName);
  }
  return CHXForm::InsertScriptLink(pFormContext, path, dwKind);
}

DWORD CHXForm::InsertScriptLink(CHXFormContext* pFormContext, const std::string& csScriptPath, DWORD dwKind) {
  DebugLog("[CHXForm::InsertScriptLink] Start, path: %s", csScriptPath.c_str());
  if (csScriptPath.empty()) {
    DebugLog("[CHXForm::InsertScriptLink] csScriptPath paramter not found");
    return HX_RC_NOT_FOUND;
  }
  const CDOMElement& head = pFormContext->m_spDom->getHead();
  const DWORD dwRet =
      head.appendContentData(LinkElement(csScriptPath, dwKind, pFormContext->m_pageChars), pFormContext->m_pcobBufferInstructionList);
  if (dwRet != 0) DebugLog("[CHXForm::InsertScriptLink] Error: InsertHtmlStringAtPosition for script failed!");
  return dwRet;
}

CCachedScriptDecorator* CHXForm::GetCachedScriptManager(CHXFormContext* pFormContext) {
  std::string prefix;
  if (pFormContext != nullptr)
    CBaseNotifications::GetServerVariable(pFormContext->m_pContext, "HEADER_QL_CSMPREFIX", prefix);
  if (prefix.empty()) {
    DebugLog("[CHXForm::PrefixLinkedScripts] Error: HEADER_QL_CSMPREFIX empty !");
    return nullptr;
  }
  try {
    return CreateCachedScriptDecorator(prefix);
  } catch (const std::exception&) {
    DebugLog("[CHXForm::GetCachedScriptManager] Error: Exception initializing CSM !");
    return nullptr;
  }
}
