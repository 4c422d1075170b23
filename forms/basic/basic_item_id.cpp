// The item ID that Basic compose and attachment-manager pages carry in their
// hidden "hidid" input, and the product scripts those pages link.
#include "common/debug_log.h"
#include "filter/dll_context.h"
#include "filter/request_flags.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "forms/basic/pl_basic_form_with_attachments.h"
#include "forms/hx_form_context.h"
#include "forms/hx_form_script_path.h"
#include "html/dom_source.h"

namespace {
const char kItemIDInputName[] = "hidid";
}  // namespace

DWORD CPLBasicFormWithAttachments::InitItemIDFromHiddenInputTag_CalculateItemIDHash(bool bEmptyIDAllowed) {
  m_sItemID.clear();
  m_sItemIDHash.clear();
  const CDOMStartTag input = m_pFormContext->m_spDom->getBody().getFirstStartTagByName(kItemIDInputName);
  if (input.isUndefined()) {
    DebugLog("[CPLBasicFormWithAttachments::InitItemIDFromHiddenInputTag_CalculateItemIDHash] "
             "CDOMElement::getFirstStartTagByName() returned an undefined start tag. Name <%s>.",
             kItemIDInputName);
    return HX_RC_INVALID_DATA;
  }
  const CDOMAttribute value = input.getAttribute("value");
  if (value.isUndefined() || !value.hasValue()) {
    DebugLog("[CPLBasicFormWithAttachments::InitItemIDFromHiddenInputTag_CalculateItemIDHash] "
             "CDOMStartTag::getAttribute() failed. <%s> element's value attribute was not found.",
             kItemIDInputName);
    return HX_RC_INVALID_DATA;
  }
  m_sItemID = value.getValue();
  DebugLog("[CPLBasicFormWithAttachments::InitItemIDFromHiddenInputTag_CalculateItemIDHash] Item ID <%s>.",
           m_sItemID.c_str());
  if (m_sItemID.empty()) {
    if (bEmptyIDAllowed) return 0;
    DebugLog("[CPLBasicFormWithAttachments::InitItemIDFromHiddenInputTag_CalculateItemIDHash] Empty Item ID is not "
             "allowed on this form.");
    return HX_RC_INVALID_DATA;
  }
  m_sItemIDHash = CUtil::HashString(m_sItemID.c_str());
  return 0;
}

DWORD CPLBasicFormWithAttachments::InsertProductScriptLink(const char* pFileName) {
  CHXFormScriptPath path(kProductWord, kProductScriptsVersion);
  return InsertScriptLink(m_pFormContext, pFileName, ScriptLinkKind::Script, &path, true);
}

const char* CPLBasicFormWithAttachments::BasicScriptFileName() const {
  return IsMacClient() ? "ql_plBasicMac.js" : "ql_plBasic.js";
}
