#include "filter/pl_hx_context.h"

#include "filter/cookie_view.h"

CPLHXContext::CPLHXContext(const std::string& language, WORD lcid, std::string_view cookie)
    : m_sUserLanguage(language), m_wLCID(lcid) {
  // The forms write this pair back into the pages they rewrite.
  std::string_view pair;
  const BOOL found = CadataCookieView(AsCIView(cookie), pair);
  m_sCadataCookie.assign(pair.data(), pair.size());
  m_bHasCadata = (found && !m_sCadataCookie.empty()) ? 1 : 0;
}
