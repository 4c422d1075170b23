// The page forms ask the settings object's OWA file-access rules, the same
// ones the redirects and the download checks ask; a form that counts OWA's
// direct file access as off for the client gets the blocked level at once.
#include "forms/owa_file_access_level.h"

#include "common/debug_log.h"
#include "general/owa_file_access.h"
#include "general/pl_hx_general_settings.h"

DWORD GetOWAFileAccessLevel(const ci_string& csExtension, bool bDirectFileAccessEnabled, bool bPublicClient,
                            DWORD& dwLevel) {
  if (!bDirectFileAccessEnabled) {
    DebugLog("[CPLHXGeneralSettings::GetOWAFileAccessLevel] Direct file access is disabled for <%s> clients.",
             bPublicClient ? "public" : "private");
    dwLevel = OWAFileAccessLevel::Blocked;
    return 0;
  }
  return CPLHXGeneralSettings::getInstance()->GetOWAFileAccessLevel(csExtension, bPublicClient, dwLevel);
}
