// The product's layer of the settings object: page character sets, the
// temporary directory, the debug-log configuration, the per-user property
// cache, the computer's names and the virtual folder name.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/ci_string.h"
#include "common/event_log.h"
#include "general/ad_searches_in_flight.h"
#include "general/general_settings.h"
#include "general/log_settings.h"
#include "general/owa_ad_config.h"
#include "general/page_char_set.h"
#include "general/ql_cache.h"
#include "general/resource.h"
#include "settings/handle_pl_settings.h"

// The result of a look-up that found no value, and of its cached answer.
constexpr HRESULT kADNoValue = E_FAIL;
// The longest directory value a look-up takes (all the user's values
// joined): a longer one is not used, as if the user had none, so that
// neither the cache nor the copies handed to requests grow with what the
// directory holds.
constexpr size_t kADValueMaxBytes = 4096;

class CPLGeneralSettings : public CGeneralSettings<CHandlePLSettings, CResource, CEventLog> {
 public:
  using Base = CGeneralSettings<CHandlePLSettings, CResource, CEventLog>;

  CPLGeneralSettings();
  ~CPLGeneralSettings() override;

  BOOL Init(const char* productName, const char* moduleName, const char* resourceLibraryName, const char* registryKey,
            int32_t directoryLevels) override;
  DWORD Uninitialize() override;
  bool InitLogging(const char* moduleName, int32_t settingsID) override;
  BOOL LoadSettings(const char* moduleName, const char* resourceLibraryName, std::string& errorText,
                    int32_t directoryLevels) override;

  bool InitLogFiles(const char* moduleName, int32_t settingsID, int32_t logKind);
  // Creates the log file's missing folder; one event report when it cannot.
  void MakeLogFolder(const std::string& logFilePath);
  // After a reload: one warning per change of the debug-log settings from
  // those start-up used, since they take effect only at the next start.
  void ReportLogSettingsChange();
  // Fills the host name and the fully qualified name; true with the host name.
  bool GetComputerName();
  // The OWA configuration of this server's virtual directory.
  HRESULT ReadOWAAD();
  // ReadOWAAD; when it fails, the configuration is read again in the
  // background until a read succeeds: at once, when a directory's probe
  // found it answering again, at a settings reload (NudgeOWARead), and every
  // retry interval. A background read has a time limit of its own, longer
  // than a request's, and no request waits on it. An information event says
  // when it was read.
  HRESULT ReadOWAADOrLater();
  // Asks a background read of the OWA configuration, waiting for one, to
  // try now.
  void NudgeOWARead();

  // One directory property of a user, through the per-user cache. `userName`
  // as the request gives it (domain\\name, name@domain or name), `cookie` the
  // request's cookie header, `sid` the user's SID text (empty when unknown).
  // `report` asks for an event-log entry whenever the directory cannot be
  // read; without it a failure is reported once per back-off. 0 with the
  // value; a failure code leaves the value unchanged. Answers are cached per
  // user (SID, else the whole name), session and property: a value or its
  // absence for the cache's lifetime, an unknown user for a minute; a
  // failure is not cached. Requests that miss the cache for one user and
  // property at once share one search, each waiting at most one directory
  // time limit for it.
  HRESULT GetADProperty(ci_string userName, const std::string& propertyName, std::string& value,
                        ci_string_view cookie, const std::string& sid, bool report);

  // The user's product language and LCID: from the user's directory culture
  // ("msExchUserCulture"), or, when the directory cannot be read, from the
  // browser's language list. "en" and 9 when nothing was looked up; true when
  // a supported language matched. cookie and sid go to GetADProperty.
  bool DetectUserLanguage(const std::string& userName, ci_string_view browserLanguages, std::string& language,
                          uint16_t& lcid, ci_string_view cookie, const std::string& sid);

  BOOL GetUTF8ResourceString(DWORD id, std::string& text, LANGID langId);

  const CPageCharSet& GetPageCharSets() const override { return m_pageCharSet; }
  const std::string& GetTempDirectory() const { return m_strTempDirectory; }
  const std::string& GetLogFilePath() const { return m_strLogFilePath; }
  CQLCache& GetCache() { return m_cache; }
  const std::string& GetHostName() const { return m_strHostName; }
  const std::string& GetFullyQualifiedName() const { return m_strFullyQualifiedName; }
  const ci_string& GetVirtualFolderName() const { return m_strVirtualFolderName; }
  // The configuration start-up read, or the one read again after it failed.
  const COWAADConfig& GetOWAADConfig() const { return *m_pOWAConfig.load(std::memory_order_acquire); }

 protected:
  // Makes the cache component ready and creates the caches of user
  // properties; false when the component or the main cache cannot be made.
  bool InitializeCache();
  // Reports a failed look-up of the calling thread to the event log:
  // always with `report` (a failure the back-off repeats aside), else once
  // per back-off.
  void ReportLookUpFailure(bool report, HRESULT hr, const std::string& propertyName, const std::string& shortName);
  // The directory search of GetADProperty: by address, else by SID, else by
  // short name. `outcome` tells the answers (a value, a user without one,
  // an ambiguous short name, no such user) from a failure to get one.
  static HRESULT LookUp(const std::string& fullName, const std::string& shortName, const std::string& sid,
                        const std::string& propertyName, bool configRead, int32_t configType, std::string& found,
                        ADLookUpOutcome& outcome);
  // Stores a look-up's answer in the cache it belongs in; a failure is not
  // stored.
  void KeepAnswer(const CADLookUpAnswer& answer, const std::string& key, const std::string& session,
                  const std::string& propertyName, const std::string& shortName);
  // Stores one answer; a failure is reported to the event log only.
  void StoreInCache(const char* cacheName, const std::string& key, const std::string& value,
                    const std::string& session, const std::string& propertyName, const std::string& shortName);

  // Once per start-up: a level that is none, a log switched on that writes
  // nothing, and a ring whose records reach the log file only at exit.
  void ReportLogSetUp(const LogSettings& used);
  // Why a log switched on writes nothing, or empty when it writes.
  std::string WhyLogWritesNothing(const LogSettings& used) const;
  std::string ModuleSettingsFile() const;

  // The background read of a configuration that start-up could not read.
  void StartOWAReread();
  // Tells the background read to stop, a read under way to end its waits at
  // once; StopOWAReread then waits for its thread.
  void CutOWAReread();
  void StopOWAReread();
  void RereadOWALoop();
  bool RereadOWAConfig();
  // Forgets that the process has read the OWA configuration (tests).
  static void ForgetOWAConfigRead();

  CPageCharSet m_pageCharSet;
  std::string m_strTempDirectory;
  std::string m_strLogFilePath;
  // The name of the log module's lock the debug log asked for ("General",
  // "Product.<name>"); empty when none was asked.
  std::string m_strLogLockName;
  // The debug-log settings start-up used, and the last change from them
  // that was reported (under the lock; reloads run on request threads).
  LogSettings m_logAtStart;
  std::mutex m_logChangeLock;
  std::optional<LogSettings> m_logChangeReported;
  // Read once at start-up, then only read, without a lock. A configuration
  // read again later is a new object, published once through the pointer
  // and kept for the life of the settings object.
  COWAADConfig m_OWAADConfig;
  std::atomic<const COWAADConfig*> m_pOWAConfig{&m_OWAADConfig};
  std::unique_ptr<COWAADConfig> m_pOWAReread;
  std::mutex m_owaRereadLock;
  std::condition_variable m_owaRereadWake;
  bool m_owaRereadDue = false;
  bool m_owaRereadStop = false;
  std::atomic<bool> m_owaReadCut{false};
  std::thread m_owaRereader;
  CQLCache m_cache;
  CADSearchesInFlight m_searches;
  std::string m_strHostName;
  std::string m_strFullyQualifiedName;
  ci_string m_strVirtualFolderName;
};
