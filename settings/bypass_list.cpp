// The bypass list: callers whose identity holds one of the configured SIDs
// are left alone by the module.
#include "common/debug_log.h"
#include "common/string_operation.h"
#include "common/string_utils.h"
#include "platform/last_error.h"
#include "platform/security_sid.h"
#include "settings/pl_settings.h"
#include "settings/setting_ids.h"
#include "settings/settings_text.h"

void CPLSettings::ParseBuildByPassList(CSettingsStore& store, CSettingsMistakes* mistakes, const std::string& path) {
  std::string list;
  GetStringValue(store, SettingBypassSidList, list, 0, kGeneralEngineID);
  std::string more;
  if (GetStringValue(store, SettingBypassSidListMore, more, 0, kGeneralEngineID)) {
    if (!list.empty() && list.back() != ';') list += ';';
    list += more;
  }
  if (list.empty()) return;
  // Every entry stands on its own: an empty one (";;") is skipped, not the
  // end of the list, so the SIDs written after it are still read.
  const std::vector<std::string> entries = SplitAll(list, ';');
  for (size_t i = 0; i < entries.size(); ++i) {
    // Blanks around an entry are ignored, as around an address of setting
    // 45: "S-1-5-32-544; S-1-5-21-...-512" names two SIDs.
    const std::string entry(TrimBlanks(entries[i]));
    if (entry.empty()) {
      if (i + 1 == entries.size()) break;  // a trailing ";" ends the list
      if (mistakes != nullptr) {
        mistakes->Add("The settings file %s has an empty entry in the bypass list (settings 48 and 49); it is "
                      "skipped, and the entries after it are read.",
                      path.c_str());
      }
      continue;
    }
    try {
      PSID sid = nullptr;
      if (ConvertStringSidToSidA(entry.c_str(), &sid)) {
        CCountedPtr<CBypassSid> holder(new CBypassSid(sid));
        store.m_byPassList.push_back(holder);
        continue;
      }
      const DWORD err = GetLastError();
      DebugLogError(err, "Reading Groups from Global settings got an error %d . This group %s will be ignored",
                    static_cast<int>(err), entry.c_str());
    } catch (...) {
      constexpr DWORD kExceptionCode = 1064;
      DebugLogError(kExceptionCode, "ParseBuildByPassList got an EXCEPTION for user/group %s", entry.c_str());
      DebugLogError(kExceptionCode,
                    "Reading Groups from Global settings got an error %d . This group %s will be ignored",
                    static_cast<int>(kExceptionCode), entry.c_str());
    }
    // Nobody is let past the module on an entry that cannot be read.
    if (mistakes != nullptr) {
      mistakes->Add("The settings file %s has the entry \"%s\" in the bypass list (settings 48 and 49), which is "
                    "not a SID (S-1-...); it is ignored, and nobody bypasses the module by it.",
                    path.c_str(), entry.c_str());
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
