// The one door to the configuration store: the module settings file and the
// link-criteria file. A load reads and builds outside the lock, holds it only
// to swap the new data in, and then publishes a snapshot of both files;
// reads use the snapshot and take no lock, so they neither wait for a reload
// nor for each other.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "common/ci_string.h"
#include "common/crit_sec.h"
#include "settings/link_criteria.h"
#include "settings/pl_settings.h"
#include "settings/setting_ids.h"
#include "settings/settings_snapshot.h"

class CHandlePLSettings {
 public:
  CHandlePLSettings();
  virtual ~CHandlePLSettings();
  CHandlePLSettings(const CHandlePLSettings&) = delete;
  CHandlePLSettings& operator=(const CHandlePLSettings&) = delete;

  // Start-up load from the product's settings directory (with its trailing
  // separator; "HXSettings.xml" is appended to it in place). The link-criteria
  // file comes first, from "Common Files/Settings/" beside the product's
  // folder; the module settings file is loaded only when that succeeded.
  // When the link-criteria file failed, the directory is replaced by that
  // file's path instead, so that the caller can name the file that failed.
  HRESULT LoadSettings(std::string& settingsDirectory);
  // The same with the link-criteria directory given by the caller.
  HRESULT LoadSettings(std::string& settingsDirectory, const std::string& linkCriteriaDirectory);

  // Per request: reloads whichever file has changed, unless another thread is
  // reloading already. reloaded tells whether a reload was due.
  HRESULT RefreshIfNeeded(bool& reloaded);

  bool GetIntValue(int32_t settingID, int32_t& value, int32_t settingsID, int32_t engineID);
  bool GetStringValue(int32_t settingID, std::string& value, int32_t settingsID, int32_t engineID);
  bool GetStringValueCI(int32_t settingID, ci_string& value, int32_t settingsID, int32_t engineID);
  // Extension, out action, engine identifier, settings identifier.
  bool GetPerKeyValue(const ci_string& extension, int32_t& action, int32_t engineID, int32_t settingsID);
  // A level setting (a small number that selects a behaviour) as its
  // readers must take it: only a plain decimal number is a level; any other
  // text, an empty one included, is invalid, as a number out of range is.
  struct LevelValue {
    enum class Outcome { Missing, Read, Invalid };
    Outcome outcome = Outcome::Missing;
    int32_t level = 0;
    std::string text;  // as the file gives it
    CPLSettings::SettingSource source = CPLSettings::SettingSource::None;
  };
  LevelValue ReadLevel(int32_t settingID, int32_t settingsID, int32_t engineID);
  // True the first time a report of this key is asked for since the last
  // load of the module settings file: a mistake found by requests is
  // reported once per load, not once per request.
  bool FirstReportOfThisLoad(const std::string& key);
  DWORD CheckByPassList(BOOL& isMember);
  // Parses the client address before it takes the lock.
  bool CheckClientIPAgainstDirectAccessIPRange(const std::string& clientIP, bool& found, int32_t settingsID);
  bool GetLinkCriteriaSetting(int32_t criteriaID, int32_t& settingsID);

  void SetRegistryKey(const std::string& key) { m_strRegistryKey = key; }
  const std::string& GetRegistryKey() const { return m_strRegistryKey; }
  int32_t GetHXID() const { return m_nHXID; }
  void SetHXID(int32_t id) { m_nHXID = id; }
  bool IsRefreshEnabled() const { return m_bRefreshEnabled.load(std::memory_order_relaxed); }
  // Counts the loads of the module settings file, start-up included, so that
  // a report about a setting can be made once per load.
  uint32_t GetModuleSettingsLoadCount() const { return m_nModuleSettingsLoads.load(std::memory_order_acquire); }

  // The two files' objects, for the settings object's own start-up steps and
  // for tests. Their lookups are to be called with the lock held; what they
  // load reaches the holder's reads with the next PublishSnapshot.
  CPLSettings& GetPLSettings() { return m_settings; }
  CLinkCriteria& GetLinkCriteria() { return m_linkCriteria; }
  CSync& GetLock() { return m_cs; }
  CSync& GetReloadLock() { return m_csReload; }
  void PublishSnapshot();

 private:
  // After a load of the module settings file: setting 74 may turn the timed
  // reload off for good, and the link-criteria file follows the module
  // file's reload interval.
  void AfterModuleSettingsLoad();
  HRESULT LoadBothFiles(std::string& settingsDirectory, const std::string& linkCriteriaDirectory);
  HRESULT RefreshDueFiles(bool& reloaded);
  // One information event naming what a reload changed of the settings that
  // decide downloads; none when nothing of them changed.
  void ReportDecisionChanges(const std::map<std::string, std::string>& before);

  std::string m_strRegistryKey;
  CPLSettings m_settings;
  CLinkCriteria m_linkCriteria;
  int32_t m_nHXID = kThisModuleHXID;
  CCritSec m_cs;
  // Only one thread reloads at a time; the others skip the reload.
  CCritSec m_csReload;
  std::atomic<bool> m_bRefreshEnabled{true};
  std::atomic<uint32_t> m_nModuleSettingsLoads{0};
  CSettingsSnapshots m_snapshots;
  std::mutex m_reportsLock;
  uint32_t m_nReportsLoad = 0;
  std::set<std::string> m_reports;
};
