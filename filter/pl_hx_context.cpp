#include "filter/pl_hx_context.h"

#include "common/ci_string.h"
#include "filter/notifications_helper.h"

CPLHXContext::CPLHXContext(const std::string& language, WORD lcid, const std::string& cookie)
    : m_sUserLanguage(language), m_wLCID(lcid) {
  // The forms write this pair back into the pages they rewrite.
  const BOOL found = CNotificationsHelper::GetCadataCookie(ToCI(cookie), m_sCadataCookie);
  m_bHasCadata = (found && !m_sCadataCookie.empty()) ? 1 : 0;
}
