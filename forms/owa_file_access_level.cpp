// The module reads no OWA configuration from the directory yet: direct file
// access counts as off (see owa_direct_file_access.cpp), so every extension
// is blocked for direct access; and without the allow, block and force-save
// lists no other level can be settled.
#include "forms/owa_file_access_level.h"

#include "common/debug_log.h"
#include "filter/result_codes.h"

DWORD GetOWAFileAccessLevel(const ci_string& csExtension, bool bDirectFileAccessEnabled, bool bPublicClient,
                            DWORD& dwLevel) {
  dwLevel = 0;
  if (!csExtension.empty() && csExtension[0] == '.') return HX_RC_INVALID_DATA;
  if (!bDirectFileAccessEnabled) {
    DebugLog("[CPLHXGeneralSettings::GetOWAFileAccessLevel] Direct file access is disabled for <%s> clients.",
             bPublicClient ? "public" : "private");
    dwLevel = 1;
    return 0;
  }
  DebugLog("[CPLHXGeneralSettings::GetOWAFileAccessLevel] OWA's file lists are not available. Extension <%s>.",
           csExtension.c_str());
  return HX_RC_INVALID_DATA;
}
