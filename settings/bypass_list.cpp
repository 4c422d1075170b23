// The bypass list: callers whose identity holds one of the configured SIDs
// are left alone by the module.
#include "common/debug_log.h"
#include "common/string_operation.h"
#include "platform/last_error.h"
#include "platform/security_sid.h"
#include "settings/pl_settings.h"
#include "settings/setting_ids.h"
#include "settings/settings_text.h"

void CPLSettings::ParseBuildByPassList(CSettingsStore& store) {
  std::string list;
  GetStringValue(store, SettingBypassSidList, list, 0, kGeneralEngineID);
  std::string more;
  if (GetStringValue(store, SettingBypassSidListMore, more, 0, kGeneralEngineID)) {
    if (!list.empty() && list.back() != ';') list += ';';
    list += more;
  }
  if (list.empty()) return;
  std::vector<ci_string> entries;
  CStringOperation::Parse(ToCI(list), ";", entries, true);
  for (const ci_string& entryCI : entries) {
    const std::string entry = ToStd(entryCI);
    try {
      PSID sid = nullptr;
      if (ConvertStringSidToSidA(entry.c_str(), &sid)) {
        CCountedPtr<CBypassSid> holder(new CBypassSid(sid));
        store.m_byPassList.push_back(holder);
      } else {
        const DWORD err = GetLastError();
        DebugLogError(err, "Reading Groups from Global settings got an error %d . This group %s will be ignored",
                      static_cast<int>(err), entry.c_str());
      }
    } catch (...) {
      constexpr DWORD kExceptionCode = 1064;
      DebugLogError(kExceptionCode, "ParseBuildByPassList got an EXCEPTION for user/group %s", entry.c_str());
      DebugLogError(kExceptionCode,
                    "Reading Groups from Global settings got an error %d . This group %s will be ignored",
                    static_cast<int>(kExceptionCode), entry.c_str());
    }
  }
}

DWORD CPLSettings::CheckByPassList(BOOL& isMember) const {
  const CCallerSids caller;
  return CheckByPassList(*m_pStore, caller, isMember);
}

DWORD CPLSettings::CheckByPassList(const CSettingsStore& store, const CCallerSids& caller, BOOL& isMember) {
  DebugLog("CheckByPassList ");
  const auto& list = store.m_byPassList;
  if (list.empty()) return ERROR_SUCCESS;
  DWORD lastError = ERROR_SUCCESS;
  for (const auto& sid : list) {
    if (isMember != FALSE) break;
    if (!caller.CheckMembership(sid->m_pSid, &isMember)) {
      lastError = GetLastError();
      DebugLogError(lastError, "CheckByPassList  CheckTokeMembership failed error %d for Criteria",
                    static_cast<int>(lastError));
    }
  }
  if (isMember != FALSE) {
    DebugLog("CheckByPassList found a match user is excluded from PL");
  } else {
    DebugLog("CheckByPassList didn't find a match user is allow to PL");
  }
  return lastError;
}
