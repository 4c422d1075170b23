// Seam: the user's language is not looked up yet. The handler's defaults
// stand, as they do when the settings object cannot decide.
#include "common/debug_log.h"
#include "filter/auth_complete_helper.h"

DWORD CAuthCompleteHelper::DetectUserLanguage(CDLLContext* pContext, std::string& language, WORD& lcid) {
  DebugLog("[CAuthCompleteHelper::DetectUserLanguage] Starts.");
  DebugLog("[CAuthCompleteHelper::DetectUserLanguage] User <%s> user lang <%s> user lang id <%d>.", "",
           language.c_str(), static_cast<int>(lcid));
  DebugLog("[CAuthCompleteHelper::DetectUserLanguage] returned dwRet <%d>.", 0);
  return 0;
}
