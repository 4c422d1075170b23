#include <string>

#include "common/debug_log.h"
#include "filter/dll_context.h"
#include "filter/notifications.h"
#include "filter/notifications_helper.h"
#include "filter/result_codes.h"
#include "general/pl_hx_general_settings.h"
#include "settings/setting_ids.h"

std::string CBaseNotifications::GetClientIP(CDLLContext* pContext) {
  std::string address;
  int32_t source = 0;
  CPLHXGeneralSettings* pSettings = CPLHXGeneralSettings::getInstance();
  if (pSettings->GetSettingFromID(SettingClientIPSource, source, -1, -1) && source == 1) {
    GetServerVariable(pContext, "HTTP_X_Forwarded_For", address);
  }
  if (address.empty()) GetServerVariable(pContext, "HTTP_X_Remote_Client_IP", address);
  if (address.empty()) GetServerVariable(pContext, "REMOTE_ADDR", address);
  return address;
}

DWORD CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange(CDLLContext* pContext, bool& allowed) {
  DWORD dwRet = 0;
  DebugLog("[CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange] Starts.");
  allowed = false;
  if (pContext == nullptr) {
    DebugLog("[CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange] pContext is NULL");
    dwRet = HX_RC_MISSING;
  } else {
    const std::string address = CBaseNotifications::GetClientIP(pContext);
    DebugLog("[CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange] Client IP: <%s>.", address.c_str());
    CPLHXGeneralSettings::getInstance()->GetHandleSettings().CheckClientIPAgainstDirectAccessIPRange(
        address, allowed, static_cast<int32_t>(pContext->m_dwSettingsID));
  }
  DebugLog("[CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange] returned dwRet <%d> bClientIPAllowed <%s>.",
           dwRet, allowed ? "TRUE" : "FALSE");
  return dwRet;
}
