#include "filter/notifications_helper.h"

#include <array>
#include <string>

#include "common/debug_log.h"
#include "filter/notifications.h"
#include "filter/response_headers.h"

namespace {

struct CHeaderText {
  std::string name;
  std::string value;
};

// The header table as the header calls take it, made once rather than on
// every response.
const std::array<CHeaderText, g_ResponseHeaderCount>& NoCacheHeaderTexts() {
  static const std::array<CHeaderText, g_ResponseHeaderCount> texts = [] {
    std::array<CHeaderText, g_ResponseHeaderCount> made;
    for (size_t i = 0; i < g_ResponseHeaderCount; ++i) {
      made[i] = {g_ResponseHeaders[i].m_pszName, g_ResponseHeaders[i].m_pszValue};
    }
    return made;
  }();
  return texts;
}

}  // namespace

BOOL CNotificationsHelper::AddNoCacheHeaders(CDLLContext* pContext) {
  BOOL allAdded = TRUE;
  for (const CHeaderText& header : NoCacheHeaderTexts()) {
    if (!CBaseNotifications::AddWorkerHeader(pContext, header.name, header.value)) {
      allAdded = FALSE;
      break;
    }
  }
  DebugLog("[CNotificationsHelper::AddNoCacheHeaders] returns <%s>", allAdded ? "TRUE" : "FALSE");
  return allAdded;
}
