#include "filter/pl_hx_context.h"

#include "common/ci_string.h"

CPLHXContext::CPLHXContext(const std::string& language, WORD lcid, const std::string& cookie)
    : m_sUserLanguage(language), m_wLCID(lcid) {
  // The forms-based-authentication pair, found without case, up to the next
  // ";" or the end of the cookie.
  const ci_string_view ci(cookie.data(), cookie.size());
  const size_t at = ci.find("cadata=");
  if (at == ci_string_view::npos) return;
  const size_t end = cookie.find(';', at);
  m_sCadataCookie = cookie.substr(at, end == std::string::npos ? std::string::npos : end - at);
  m_bHasCadata = m_sCadataCookie.empty() ? 0 : 1;
}
