// The form context of one response: the host's pointers, the DOM over the
// response buffer, and the template comment read once when it is built.
#include "forms/hx_form_context.h"

#include <exception>
#include <new>
#include <stdexcept>

#include "common/debug_log.h"
#include "common/string_operation.h"
#include "filter/dll_context.h"
#include "forms/hx_form_exception.h"
#include "html/dom_source.h"

namespace {

const char* const kOwaPageMarker = "<!-- OwaPage =";
const char* const kOwaSubPageMarker = "<!-- OwaSubPage =";
const char* const kSubPageContainer = "ASP.forms_premium_subpagecontainer_aspx";

}  // namespace

CHXFormContext::CHXFormContext(CDLLContext* pContext, CBufferInstructionList* pList) {
  CHXFormContext::Initialize(pContext, pList);
}

CHXFormContext::~CHXFormContext() { m_csTemplateName.clear(); }

bool CHXFormContext::HasDom() const { return m_spDom && !m_spDom->isUndefined(); }

void CHXFormContext::Initialize(CDLLContext* pContext, CBufferInstructionList* pList) {
  if (pContext == nullptr) throw CHXFormException("Initialize context failed: pContext is NULL");
  if (!pContext->m_spOutboundContext) throw CHXFormException("Initialize context failed: m_pOutboundContext is NULL");
  CCommonPointers* pCommonPointers = pContext->m_spOutboundContext->m_pCommonPointers;
  if (pCommonPointers == nullptr) throw CHXFormException("Initialize context failed: m_pCommonPointers is NULL");

  // Out of memory leaves the DOM empty; the factory refuses such a context.
  m_spDom = CCountedPtr<CDOMSource>(new (std::nothrow) CDOMSource(pCommonPointers));
  m_pContext = pContext;
  m_pcobBufferInstructionList = pList;
  m_pCommonPointers = pCommonPointers;
  UpdateContextWithTemplateComment();
}

void CHXFormContext::ReadTemplateComment(const char* pMarker, ci_string& out) {
  try {
    const CDOMSource& dom = *m_spDom;
    const std::string marker(pMarker);
    const HXPos nMarker = dom.scanForString(marker, dom.getBeginPos(), HX_NPOS);
    if (nMarker == HX_NPOS) return;
    const HXPos nClose = dom.scanForString("-->", nMarker, HX_NPOS);
    if (nClose == HX_NPOS) return;
    const HXPos nValue = nMarker + marker.size();
    ci_string value;
    if (nClose > nValue) dom.substringData(nValue, nClose - nValue, value);
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
