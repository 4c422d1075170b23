// The form context of one response: the host's pointers, the DOM over the
// response buffer, and the template comment read once when it is built.
#include "forms/hx_form_context.h"

#include <exception>
#include <stdexcept>
#include <string>

#include "common/debug_log.h"
#include "common/string_operation.h"
#include "filter/common_pointers.h"
#include "filter/dll_context.h"
#include "forms/hx_form_exception.h"
#include "html/case_insensitive_search.h"
#include "html/dom_source.h"

namespace {

const char* const kOwaPageMarker = "<!-- OwaPage =";
const char* const kOwaSubPageMarker = "<!-- OwaSubPage =";
const char* const kSubPageContainer = "ASP.forms_premium_subpagecontainer_aspx";

// The page's HTML data, [nBegin, nEnd) of the buffer, taken from the record
// as the DOM source takes it.
struct CHtmlData {
  const char* pBuffer = nullptr;
  HXPos nBegin = HX_NPOS;
  HXPos nEnd = 0;
  // Whether the DOM source accepts these positions.
  bool IsSound() const { return nBegin != HX_NPOS && nEnd != HX_NPOS && nBegin <= nEnd; }
};

CHtmlData HtmlDataOf(const CCommonPointers& record) {
  CHtmlData data;
  const ULONGLONG qwFirst = record[CCommonPointers::FirstByte];
  const ULONGLONG qwLast = record[CCommonPointers::LastByte];
  if (qwFirst != 0 && qwLast != 0 && qwLast >= qwFirst) data.nEnd = qwLast - qwFirst + 1;
  const ULONGLONG qwHtml = record[CCommonPointers::HtmlBegin] != 0 ? record[CCommonPointers::HtmlBegin] : qwFirst;
  if (qwFirst != 0 && qwHtml >= qwFirst) data.nBegin = qwHtml - qwFirst;
  data.pBuffer = record.Address(CCommonPointers::FirstByte);
  return data;
}

}  // namespace

CHXFormContext::CHXFormContext(CDLLContext* pContext, CBufferInstructionList* pList) {
  CHXFormContext::Initialize(pContext, pList);
}

CHXFormContext::~CHXFormContext() { m_csTemplateName.clear(); }

bool CHXFormContext::HasDom() const { return !m_spDom.IsBuilt() || (m_spDom && !m_spDom->isUndefined()); }

void CHXFormContext::Initialize(CDLLContext* pContext, CBufferInstructionList* pList) {
  if (pContext == nullptr) throw CHXFormException("Initialize context failed: pContext is NULL");
  if (!pContext->m_spOutboundContext) throw CHXFormException("Initialize context failed: m_pOutboundContext is NULL");
  CCommonPointers* pCommonPointers = pContext->m_spOutboundContext->m_pCommonPointers;
  if (pCommonPointers == nullptr) throw CHXFormException("Initialize context failed: m_pCommonPointers is NULL");

  // The form choice reads only the template comment, so the page is parsed
  // when a form first reads the DOM. With the debug log on it is parsed here,
  // where its complaints have always stood in the log; and positions the DOM
  // would refuse are left to it, so that a context without a page stays one.
  // Out of memory leaves the DOM empty; the factory refuses such a context.
  if (DebugLogEnabled() || !HtmlDataOf(*pCommonPointers).IsSound()) {
    m_spDom.Build(pCommonPointers);
  } else {
    m_spDom.Defer(pCommonPointers);
  }
  m_pContext = pContext;
  m_pcobBufferInstructionList = pList;
  m_pCommonPointers = pCommonPointers;
  UpdateContextWithTemplateComment();
}

void CHXFormContext::ReadTemplateComment(const char* pMarker, ci_string& out) {
  try {
    const CHtmlData page = HtmlDataOf(*m_pCommonPointers);
    if (!page.IsSound() || page.nBegin >= page.nEnd) return;
    const HXPos nMarker = findNoCase(page.pBuffer, pMarker, page.nBegin, page.nEnd - page.nBegin);
    if (nMarker == HX_NPOS) return;
    const HXPos nClose = findNoCase(page.pBuffer, "-->", nMarker, page.nEnd - nMarker);
    if (nClose == HX_NPOS) return;
    const HXPos nValue = nMarker + std::char_traits<char>::length(pMarker);
    ci_string value;
    if (nClose > nValue) value.assign(page.pBuffer + nValue, nClose - nValue);
    CStringOperation::Trim(value, " \r\n\t");
    out = value;
  } catch (...) {
    DebugLog("[CHXForm::UpdateContextWithTemplateComment] Error: Exception when parsing template comment.");
  }
}

void CHXFormContext::UpdateContextWithTemplateComment() {
  // Without a DOM there is nothing to read: a page without a template.
  if (HasDom()) {
    ReadTemplateComment(kOwaPageMarker, m_csTemplateName);
    if (m_csTemplateName == kSubPageContainer) ReadTemplateComment(kOwaSubPageMarker, m_csTemplateName);
  }
  if (m_csTemplateName.empty()) {
    m_dwOWAExperience = OwaExperience::None;
    DebugLog("[CHXForm::UpdateContextWithTemplateComment] Warning: Template comment not found.");
    return;
  }
  const bool premium = m_csTemplateName.find("_premium_") != ci_string::npos;
  const bool basic = m_csTemplateName.find("_basic_") != ci_string::npos;
  const bool error = m_csTemplateName.find("_error_") != ci_string::npos;
  const bool logoff = m_csTemplateName.find("ASP.auth_logoff_aspx") != ci_string::npos;
  if (premium) {
    m_dwOWAExperience = OwaExperience::Premium;
  } else if (basic) {
    m_dwOWAExperience = OwaExperience::Basic;
  } else if (error || logoff) {
    m_dwOWAExperience = OwaExperience::None;
  } else {
    m_dwOWAExperience = OwaExperience::None;
    DebugLog("[CHXForm::UpdateContextWithTemplateComment] Warning: Template comment is invalid.");
    throw std::runtime_error("invalid template");
  }
}
