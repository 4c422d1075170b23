#include "settings/handle_pl_settings.h"

#include <new>

#include "common/debug_log.h"
#include "common/event_log.h"
#include "platform/file_system.h"
#include "settings/decision_changes.h"
#include "settings/setting_ids.h"
#include "settings/settings_paths.h"
#include "settings/settings_text.h"

namespace {

// Releases a lock that was taken with TryLock.
class CAdoptedLock {
 public:
  explicit CAdoptedLock(CSync& lock) : m_lock(lock) {}
  ~CAdoptedLock() { m_lock.Unlock(); }
  CAdoptedLock(const CAdoptedLock&) = delete;
  CAdoptedLock& operator=(const CAdoptedLock&) = delete;

 private:
  CSync& m_lock;
};

// A settings file others may change lets them decide what the module lets
// through; the module still reads it (it is the administrator's), but says so.
void WarnIfOthersMayChange(const std::string& path, const char* decides) {
  const std::string why = WhyOthersMayChange(path);
  if (why.empty()) return;
  LogEventF(EVENTLOG_WARNING_TYPE,
            "The settings file %s may be changed by users other than the server's: %s; whoever changes it sets %s. "
            "Close the file and its folders to other users.",
            path.c_str(), why.c_str(), decides);
}

}  // namespace

CHandlePLSettings::CHandlePLSettings() {
  m_cs.Init();
  m_csReload.Init();
  m_settings.SetSwapLock(&m_cs);
  m_linkCriteria.SetSwapLock(&m_cs);
}

CHandlePLSettings::~CHandlePLSettings() {
  m_csReload.Term();
  m_cs.Term();
}

void CHandlePLSettings::PublishSnapshot() {
  CLockGuard guard(m_cs);
  m_snapshots.Publish(m_settings, m_linkCriteria);
}

void CHandlePLSettings::AfterModuleSettingsLoad() {
  if (m_bRefreshEnabled.load(std::memory_order_relaxed)) {
    int32_t enabled = kDefaultRefreshEnabled;
    m_settings.GetIntValue(SettingRefreshEnabled, enabled, kDefaultSettingsID, kNoEngineID);
    m_bRefreshEnabled.store(enabled != 0, std::memory_order_relaxed);
    if (enabled == 0) {
      // From here on no edit of either file takes effect: an administrator
      // who tightens a level later must be able to see why nothing changes.
      const std::string path = m_settings.GetPath();
      DebugLog("Setting 74 of %s is 0: the settings files are no longer checked for changes", path.c_str());
      LogEventF(EVENTLOG_WARNING_TYPE,
                "Setting 74 of the settings file %s is 0: the settings files are no longer checked for changes, and "
                "no edit of them takes effect until the module starts again.",
                path.c_str());
    }
  }
  m_linkCriteria.SetReloadInterval(m_settings.GetReloadInterval());
  // Whoever sees the new count must read the new settings.
  PublishSnapshot();
  m_nModuleSettingsLoads.fetch_add(1, std::memory_order_acq_rel);
}

HRESULT CHandlePLSettings::LoadSettings(std::string& settingsDirectory) {
  try {
    return LoadSettings(settingsDirectory,
                        settingsDirectory.empty() ? std::string() : GetCommonSettingsDirectory(settingsDirectory));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CHandlePLSettings::LoadSettings(std::string& settingsDirectory, const std::string& linkCriteriaDirectory) {
  try {
    const HRESULT result = LoadBothFiles(settingsDirectory, linkCriteriaDirectory);
    PublishSnapshot();
    return result;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CHandlePLSettings::LoadBothFiles(std::string& settingsDirectory, const std::string& linkCriteriaDirectory) {
  HRESULT linkResult = S_OK;
  std::string linkPath;
  if (!settingsDirectory.empty()) {
    linkPath = linkCriteriaDirectory;
    if (!linkPath.empty() && linkPath.back() != '/' && linkPath.back() != '\\') linkPath += '/';
    linkPath += kLinkCriteriaFileName;
    WarnIfOthersMayChange(linkPath, "which settings set serves each request");
    linkResult = m_linkCriteria.LoadLinkCriteria(linkPath);
  }

  HRESULT result;
  if (settingsDirectory.empty()) {
    DebugLog("HandleHXSettings::LoadSettings got a NULL path to hexmoor settings");
    result = E_FAIL;
  } else {
    if (FAILED(linkResult)) {
      settingsDirectory = linkPath;
      result = linkResult;
    } else {
      settingsDirectory += kModuleSettingsFileName;
      WarnIfOthersMayChange(settingsDirectory, "every download level");
      result = m_settings.LoadSettings(settingsDirectory);
      AfterModuleSettingsLoad();
      return result;
    }
  }
  DebugLogError(static_cast<DWORD>(result), "HandleHXSettings::LoadSettings failed to load HX settings %s",
                settingsDirectory.c_str());
  return result;
}

HRESULT CHandlePLSettings::RefreshIfNeeded(bool& reloaded) {
  try {
    return RefreshDueFiles(reloaded);
  } catch (const std::bad_alloc&) {
    // The due file stays due and is reloaded by a later request.
    return E_OUTOFMEMORY;
  }
}

HRESULT CHandlePLSettings::RefreshDueFiles(bool& reloaded) {
  if (!m_bRefreshEnabled.load(std::memory_order_relaxed)) return S_OK;

  // The two files are checked, and reloaded, each on its own: a failed check
  // or reload of one does not hold back the other.
  HRESULT result = S_OK;
  bool moduleDue = false;
  bool linksDue = false;
  HRESULT hr = m_settings.IsReloadNeeded(&moduleDue);
  if (FAILED(hr)) {
    DebugLogError(static_cast<DWORD>(hr), "CHandlePLSettings Check for HX  Refresh failed 0x%x",
                  static_cast<unsigned>(hr));
    result = hr;
  }
  hr = m_linkCriteria.IsReloadNeeded(&linksDue);
  if (FAILED(hr)) {
    DebugLogError(static_cast<DWORD>(hr), "CHandlePLSettings Check for LinkSettings Refresh failed 0x%x",
                  static_cast<unsigned>(hr));
    if (SUCCEEDED(result)) result = hr;
  }
  if (!moduleDue && !linksDue) {
    reloaded = false;
    return result;
  }

  if (m_csReload.TryLock() == 0) {
    // The change stays due and is picked up by a later request.
    DebugLog("CHandlePLSettings Refresh was necessary but Critical Section was locked decided to skip the Refresh");
    reloaded = true;
    return result;
  }
  CAdoptedLock guard(m_csReload);
  const DecisionDigest before = DigestOfDecisions(m_snapshots.Current(), m_nHXID);
  // Another thread may have reloaded the file between the check and the lock.
  if (moduleDue && m_settings.IsFileNewerThanLoaded()) {
    hr = m_settings.Refresh();
    if (FAILED(hr)) {
      if (SUCCEEDED(result)) result = hr;
    } else {
      AfterModuleSettingsLoad();
    }
  }
  if (linksDue && m_linkCriteria.IsFileNewerThanLoaded()) {
    hr = m_linkCriteria.Refresh();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  // A failed load kept the old data, so publishing is right either way.
  PublishSnapshot();
  ReportDecisionChanges(before);
  reloaded = true;
  return result;
}

void CHandlePLSettings::ReportDecisionChanges(const DecisionDigest& before) {
  const std::string changes = DescribeDecisionChanges(before, DigestOfDecisions(m_snapshots.Current(), m_nHXID));
  if (changes.empty()) return;
  DebugLog("A reload changed the settings that decide downloads: %s", changes.c_str());
  LogEventF(EVENTLOG_INFORMATION_TYPE, "The settings files %s and %s were reloaded; what decides downloads changed: %s.",
            m_settings.GetPath().c_str(), m_linkCriteria.GetPath().c_str(), changes.c_str());
}

bool CHandlePLSettings::GetIntValue(int32_t settingID, int32_t& value, int32_t settingsID, int32_t engineID) {
  return CPLSettings::GetIntValue(m_snapshots.Current().store, settingID, value, settingsID, engineID);
}

bool CHandlePLSettings::GetStringValue(int32_t settingID, std::string& value, int32_t settingsID, int32_t engineID) {
  return CPLSettings::GetStringValue(m_snapshots.Current().store, settingID, value, settingsID, engineID);
}

bool CHandlePLSettings::GetStringValueCI(int32_t settingID, ci_string& value, int32_t settingsID, int32_t engineID) {
  return CPLSettings::GetStringValueCI(m_snapshots.Current().store, settingID, value, settingsID, engineID);
}

bool CHandlePLSettings::GetPerKeyValue(const ci_string& extension, int32_t& action, int32_t engineID,
                                       int32_t settingsID) {
  return CPLSettings::GetHighSpeedAction(m_snapshots.Current().store, extension, action, engineID, settingsID);
}

CHandlePLSettings::LevelValue CHandlePLSettings::ReadLevel(int32_t settingID, int32_t settingsID, int32_t engineID) {
  LevelValue result;
  const CPLSettings::SettingItem* item =
      CPLSettings::FindItem(m_snapshots.Current().store, settingID, settingsID, engineID, &result.source);
  if (item == nullptr) return result;
  if (item->value.vt == VT_I4) {
    result.level = item->value.lVal;
    result.text = std::to_string(result.level);
    result.outcome = LevelValue::Outcome::Read;
    return result;
  }
  CBasicSettings::VariantToString(&result.text, item->value);
  result.outcome = ReadPlainDecimal(result.text, &result.level) ? LevelValue::Outcome::Read
                                                                 : LevelValue::Outcome::Invalid;
  return result;
}

bool CHandlePLSettings::FirstReportOfThisLoad(const std::string& key) {
  const uint32_t load = GetModuleSettingsLoadCount();
  std::lock_guard<std::mutex> guard(m_reportsLock);
  if (load != m_nReportsLoad) {
    m_nReportsLoad = load;
    m_reports.clear();
  }
  return m_reports.insert(key).second;
}

DWORD CHandlePLSettings::CheckByPassList(BOOL& isMember) {
  // The caller's identity is converted once, whatever the list's length.
  const CCallerSids caller;
  return CPLSettings::CheckByPassList(m_snapshots.Current().store, caller, isMember);
}

bool CHandlePLSettings::CheckClientIPAgainstDirectAccessIPRange(const std::string& clientIP, bool& found,
                                                                 int32_t settingsID) {
  IPAddress address;
  ParseIPAddress(clientIP, address);
  found = CPLSettings::IsInDirectAccessRange(m_snapshots.Current().store, address, settingsID);
  return found;
}

bool CHandlePLSettings::GetLinkCriteriaSetting(int32_t criteriaID, int32_t& settingsID) {
  if (m_nHXID == 0) {
    DebugLog("HX is not LinkCriteria settings %d", 0);
    return false;
  }
  const CLinkCriteria::LinkMap& links = m_snapshots.Current().links;
  const auto hx = links.find(m_nHXID);
  if (hx == links.end() || !hx->second) {
    DebugLog("HX is not LinkCriteria settings %d", m_nHXID);
    return false;
  }
  const auto link = hx->second->m_criteria.find(criteriaID);
  if (link == hx->second->m_criteria.end()) {
    settingsID = 0;
    DebugLog("Criteria %d for HX %d is not LinkCriteria settings", criteriaID, m_nHXID);
    return false;
  }
  settingsID = link->second;
  DebugLog("Criteria %d is SETTING ID %d for HX %d", criteriaID, settingsID, m_nHXID);
  return true;
}
