#include "general/general_settings.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/event_log.h"
#include "common/file_utils.h"
#include "general/file_version_info.h"
#include "general/host_probes.h"
#include "general/language_tables.h"
#include "general/resource.h"
#include "general/resource_strings.h"
#include "platform/last_error.h"
#include "platform/module_path.h"
#include "platform/system_messages.h"
#include "settings/handle_pl_settings.h"

namespace {

constexpr size_t kMaxPath = MAX_PATH;

// Where a module file must stand to find its settings, resource library and
// log module.
constexpr const char kModulePlaceWords[] =
    ": the module file must be PL_Hexmoor.so in the Quenlith/Pellora/bin/ folder of an install tree, its path "
    "under 260 characters";

const char* SucceededText(bool ok) { return ok ? "successful" : "failed"; }

// Why a settings file failed at start-up, in words: the system's text for a
// failure to reach the file; a file whose content cannot be used has had its
// reason reported by its reader just before, which this points to.
std::string SettingsLoadReason(HRESULT hr) {
  const bool reaching = (static_cast<DWORD>(hr) & 0xFFFF0000u) == 0x80070000u || hr == E_OUTOFMEMORY;
  if (reaching) return ReasonInWords(static_cast<DWORD>(hr));
  char text[128] = {};
  std::snprintf(text, sizeof text, "the file cannot be used, for the reason the event before this one gives (0x%08X)",
                static_cast<unsigned>(hr));
  return text;
}

}  // namespace

template <class H, class R, class E>
CGeneralSettings<H, R, E>::CGeneralSettings()
    : m_reservedNames(ReservedDeviceNames()) {
  SetModuleEventLog(&m_eventLog);
}

template <class H, class R, class E>
CGeneralSettings<H, R, E>::~CGeneralSettings() {
  if (GetModuleEventLog() == &m_eventLog) SetModuleEventLog(nullptr);
  // The debug log must stop using the log module's lock before the log
  // module (which owns the lock) goes.
  if (!m_spLogModule.IsNull()) SetLogSinkLock(nullptr);
  m_spLogModule.Release();
}

template <class H, class R, class E>
void CGeneralSettings<H, R, E>::InitLanguageLCIDMap() {
  // Insertions keep a tag already there, so filling again changes nothing.
  for (const LanguageLCID& row : kLanguageLCIDs) m_languageMap.emplace(ci_string(row.tag), row.lcid);
}

template <class H, class R, class E>
void CGeneralSettings<H, R, E>::InitSupportedLanguages() {
  // Request threads may be walking a filled table; it is only read from then on.
  if (!m_supportedLanguages.empty()) return;
  for (const SupportedLanguage& row : kSupportedLanguages) {
    m_supportedLanguages.emplace_back(row.browserTag, row.productCode);
  }
}

template <class H, class R, class E>
BOOL CGeneralSettings<H, R, E>::Init(const char* productName, const char* moduleName, const char* resourceLibraryName,
                                     const char* registryKey, int32_t directoryLevels) {
  InitLanguageLCIDMap();
  InitSupportedLanguages();
  if (m_bInitialised != 0) return 1;

  m_eventLog.Register(productName);
  m_settings.SetRegistryKey(registryKey != nullptr ? registryKey : "");
  std::string errorText;
  BOOL result = LoadSettings(moduleName, resourceLibraryName, errorText, directoryLevels);
  if (result) {
    m_strModuleName = moduleName;
    InitLogging(moduleName, -1);
    ReportUnreadableRegistryFile();
    m_dwExchangeVersion = GetExchangeVersion();
    DWORD rsa = m_rsaLoader.Load();
    if (rsa == 0) {
      DebugLog("RSA loaded");
    } else {
      DebugLogError(rsa, "Load RSA QL_RSALoad.dll failed with error %d", static_cast<int>(rsa));
    }
    LogModuleVersions();
    GetRegistryInfo();
  }
  m_bInitialised = result ? 1 : 0;
  DebugLog("General Settings %s initialization %s", SucceededText(result != 0), errorText.c_str());
  if (result) {
    m_eventLog.ReportEvent(4, 0, m_dwSuccessEventID, 0, nullptr);
  } else {
    // A failure always says what failed: an empty event line tells nobody.
    if (errorText.empty()) errorText = std::string("Initialization of ") + (moduleName != nullptr ? moduleName : "") + " failed";
    m_eventLog.ReportEvent(1, 0, m_dwErrorEventID, 0, nullptr, errorText.c_str());
    m_eventLog.ReportEvent(1, 0, m_dwFailureEventID, 0, nullptr);
  }
  return result;
}

template <class H, class R, class E>
BOOL CGeneralSettings<H, R, E>::LoadSettings(const char* moduleName, const char* resourceLibraryName,
                                             std::string& errorText, int32_t directoryLevels) {
  if (moduleName == nullptr) {
    DebugLog("LoadSettings has NULL ModuleName");
    errorText = "No module name";
    return 0;
  }
  if (!::GetModuleDirectory(m_strSettingsDirectory, moduleName, false, directoryLevels)) {
    // The module finds its settings from its own place: say where that is.
    errorText = std::string("Can not get module path ") + moduleName + kModulePlaceWords;
    DebugLog("GetModulePath didn't find the module %s", moduleName);
    WriteEventLog(1, "%s", errorText.c_str());
    return 0;
  }
  const std::string directory = m_strSettingsDirectory;
  if (directory.empty()) {
    DebugLog("Can not get ModulePath %s", moduleName);
    errorText = std::string("Can not get module path ") + moduleName + kModulePlaceWords;
    return 0;
  }
  m_strModuleDirectory = directory;
  m_strCommonFilesDirectory = directory;
  if (directory.size() > 2) {
    const size_t slash = directory.rfind('/', directory.size() - 2);
    if (slash != std::string::npos) {
      m_strModuleFolderName = directory.substr(slash + 1, directory.size() - 1 - (slash + 1));
      m_strCommonFilesDirectory = directory.substr(0, slash + 1) + "Common Files/";
    }
  }
  const std::string resourcePath =
      directory + "Resource/" + (resourceLibraryName != nullptr ? resourceLibraryName : "");
  m_strSettingsDirectory = directory + "Settings/";

  BOOL result = 0;
  if (!m_strSettingsDirectory.empty() && m_strSettingsDirectory.size() <= kMaxPath) {
    std::string loadedFile = m_strSettingsDirectory;
    HRESULT hr = m_settings.LoadSettings(loadedFile);
    if (hr != S_OK) {
      // The holder names the file that failed: the administrator must know
      // which one, and why, in one error event (the start-up failure event
      // carries this text).
      DebugLogError(static_cast<DWORD>(hr), "Failed to load settings from  %s HR 0x%x", loadedFile.c_str(),
                    static_cast<unsigned>(hr));
      errorText = "Loading Settings failed " + loadedFile + ": " + SettingsLoadReason(hr);
    } else {
      ResourceErrorHook.store(&ReportEventCallback, std::memory_order_release);
      ResourceTraceHook.store(&RingFileLogSink, std::memory_order_release);
      if (!m_resource.LoadModule(resourcePath)) {
        errorText = "Load resource file failed " + resourcePath;
        WriteEventLog(1, "%s", errorText.c_str());
      } else {
        result = 1;
      }
    }
    DWORD rsa = m_rsaLoader.Load();
    if (rsa == 0) {
      DebugLog("RSA loaded");
    } else {
      DebugLogError(rsa, "Load RSA failed with error %d", static_cast<int>(rsa));
    }
  } else {
    errorText = "Path length exceeded MAX_PATH ";
    DebugLog(" LoadSettings incorrect path %s", m_strSettingsDirectory.c_str());
  }
  return result;
}

template <class H, class R, class E>
DWORD CGeneralSettings<H, R, E>::Uninitialize() {
  m_bInitialised = 0;
  m_resource.UnloadModule();
  DWORD result = m_eventLog.Deregister() ? 1 : 0;
  m_rsaLoader.Unload();
  return result;
}

template <class H, class R, class E>
bool CGeneralSettings<H, R, E>::GetSettingFromID(int32_t settingID, int32_t& value, int32_t settingsID,
                                                 int32_t engineID) {
  bool ok = m_settings.GetIntValue(settingID, value, settingsID, engineID);
  if (!ok) {
    DebugLog("GetSettingFromID int failed ID %d, SettingID %d, EngineID %d", settingID, settingsID, engineID);
  }
  return ok;
}

template <class H, class R, class E>
bool CGeneralSettings<H, R, E>::GetSettingFromID(int32_t settingID, ci_string& value, int32_t settingsID,
                                                 int32_t engineID) {
  bool ok = m_settings.GetStringValueCI(settingID, value, settingsID, engineID);
  if (!ok) {
    DebugLog("GetSettingFromID ci_string failed ID %d, SettingID %d, EngineID %d", settingID, settingsID, engineID);
  }
  return ok;
}

template <class H, class R, class E>
bool CGeneralSettings<H, R, E>::GetSettingFromID(int32_t settingID, std::string& value, int32_t settingsID,
                                                 int32_t engineID) {
  return m_settings.GetStringValue(settingID, value, settingsID, engineID);
}

template <class H, class R, class E>
bool CGeneralSettings<H, R, E>::GetPerKeyValue(const ci_string& key, int32_t& value, int32_t settingsID,
                                               int32_t engineID) {
  // The holder takes the engine before the settings set.
  return m_settings.GetPerKeyValue(key, value, engineID, settingsID);
}

template <class H, class R, class E>
bool CGeneralSettings<H, R, E>::GetLinkCriteriaSetting(int32_t criteriaID, int32_t& settingsID) {
  return m_settings.GetLinkCriteriaSetting(criteriaID, settingsID);
}

template <class H, class R, class E>
void CGeneralSettings<H, R, E>::WriteEventLog(WORD eventType, const char* format, ...) {
  if (format == nullptr) return;
  char text[2048] = {};
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n <= 0 || text[0] == '\0') return;
  m_eventLog.ReportEvent(eventType, 0, m_dwErrorEventID, 0, nullptr, text);
}

template <class H, class R, class E>
void CGeneralSettings<H, R, E>::LogError(DWORD errorCode, WORD eventType, const char* format, ...) {
  std::string text(24576, '\0');
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    if (n < 0) text[0] = '\0';
  }
  // The system's text ends in a full stop and a line break: the event reads
  // as one line of sentences.
  const std::string system = SystemMessageInLine(errorCode);
  std::string report(25108, '\0');
  std::snprintf(report.data(), report.size(), "ERROR: %s. %s", system.c_str(), text.c_str());
  m_eventLog.ReportEvent(eventType, 0, m_dwErrorEventID, 0, nullptr, report.c_str());
}

template <class H, class R, class E>
DWORD CGeneralSettings<H, R, E>::GetExchangeVersion() {
  return ReadExchangeGeneration();
}

template <class H, class R, class E>
DWORD CGeneralSettings<H, R, E>::GetRegistryInfo() {
  return ReadSSLOffloaded(m_dwSSLOffloaded);
}

template <class H, class R, class E>
bool CGeneralSettings<H, R, E>::ExtractUserName(ci_string& userName) {
  return ExtractUserNameInPlace(userName);
}

template <class H, class R, class E>
void CGeneralSettings<H, R, E>::LogModuleVersions() {
  CFileVersionInfo info;
  if (!info.Open(m_strModuleName.c_str())) {
    DebugLogError(GetLastError(), "Can not open to read FileVer for %s", m_strModuleName.c_str());
    return;
  }
  const std::string fileVersion = info.GetFileVersion(m_strModuleName.c_str());
  const std::string productVersion = info.GetProductVersion(m_strModuleName.c_str());
  std::string dateText;
  FILETIME written{};
  const std::string path = m_strModuleDirectory + ModuleFileNameForPlatform(m_strModuleName.c_str());
  SYSTEMTIME utc{};
  if (CFileVersionInfo::GetLastWriteTime(path.c_str(), written) == S_OK && FileTimeToSystemTime(&written, &utc)) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "DD.MM.YYY H:MM:S:MS %u.%u.%u %u:%u:%u:%u", utc.wDay, utc.wMonth, utc.wYear,
                  utc.wHour, utc.wMinute, utc.wSecond, utc.wMilliseconds);
    dateText = buffer;
  }
  DebugLog("%s FileVer: %s, Product Ver: %s  %s", m_strModuleName.c_str(), fileVersion.c_str(),
           productVersion.c_str(), dateText.c_str());
  info.Close();
}

template <class H, class R, class E>
bool CGeneralSettings<H, R, E>::GetResources(const std::vector<int32_t>& ids, std::map<int32_t, std::string>& out,
                                             DWORD mode, LANGID langId, const std::string& charSet) {
  if (ids.empty()) return true;
  return GetResourceStrings(m_resource, GetPageCharSets(), ids, out, mode, langId, charSet);
}

template class CGeneralSettings<CHandlePLSettings, CResource, CEventLog>;
