// What every product of the family keeps in its process-wide settings
// object: the resource library, the event log, the settings holder, the
// module's directories, the cookie loader, host facts and the language
// tables. The three policy classes are the holder, resource and event-log
// classes of the product.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/ci_string.h"
#include "common/debug_log.h"
#include "common/module_handle.h"
#include "common/rsa_loader.h"
#include "general/page_char_set.h"
#include "platform/win_types.h"

template <class THandleSettings, class TResource, class TEventLog>
class CGeneralSettings {
 public:
  CGeneralSettings();
  virtual ~CGeneralSettings();
  CGeneralSettings(const CGeneralSettings&) = delete;
  CGeneralSettings& operator=(const CGeneralSettings&) = delete;

  // The start-up sequence; non-zero when it succeeded.
  virtual BOOL Init(const char* productName, const char* moduleName, const char* resourceLibraryName,
                    const char* registryKey, int32_t directoryLevels);
  // Shutdown; the result of closing the event source.
  virtual DWORD Uninitialize();
  virtual bool InitLogging(const char* moduleName, int32_t settingsID) = 0;
  virtual void InitSupportedLanguages();
  virtual BOOL LoadSettings(const char* moduleName, const char* resourceLibraryName, std::string& errorText,
                            int32_t directoryLevels);

  bool GetSettingFromID(int32_t settingID, int32_t& value, int32_t settingsID, int32_t engineID);
  bool GetSettingFromID(int32_t settingID, ci_string& value, int32_t settingsID, int32_t engineID);
  bool GetSettingFromID(int32_t settingID, std::string& value, int32_t settingsID, int32_t engineID);
  bool GetPerKeyValue(const ci_string& key, int32_t& value, int32_t settingsID, int32_t engineID);
  bool GetLinkCriteriaSetting(int32_t criteriaID, int32_t& settingsID);

  // Reports a formatted text (at most 2,047 characters) with the error event
  // identifier; an empty text is not reported.
  void WriteEventLog(WORD eventType, const char* format, ...) HX_PRINTF(3, 4);
  // Reports "ERROR: <system text of code>. <text>" with the error event
  // identifier.
  void LogError(DWORD errorCode, WORD eventType, const char* format, ...) HX_PRINTF(4, 5);

  // Host probes.
  DWORD GetExchangeVersion();
  DWORD GetRegistryInfo();
  bool ExtractUserName(ci_string& userName);
  void LogModuleVersions();

  // Localised strings of ids for a page (English fallback, converted to the
  // page's character set); see GetResourceStrings.
  bool GetResources(const std::vector<int32_t>& ids, std::map<int32_t, std::string>& out, DWORD mode, LANGID langId,
                    const std::string& charSet);

  const std::string& GetModuleDirectory() const { return m_strModuleDirectory; }
  const std::string& GetCommonFilesDirectory() const { return m_strCommonFilesDirectory; }
  const std::string& GetSettingsDirectory() const { return m_strSettingsDirectory; }
  const std::string& GetModuleFolderName() const { return m_strModuleFolderName; }
  const std::string& GetModuleName() const { return m_strModuleName; }
  DWORD GetExchangeGeneration() const { return m_dwExchangeVersion; }
  DWORD IsSSLOffloaded() const { return m_dwSSLOffloaded; }
  bool IsInitialised() const { return m_bInitialised != 0; }
  const std::map<ci_string, uint16_t, std::less<>>& GetLanguageMap() const { return m_languageMap; }
  const std::vector<std::pair<std::string, std::string>>& GetSupportedLanguages() const {
    return m_supportedLanguages;
  }
  const std::vector<std::string>& GetReservedNames() const { return m_reservedNames; }

  // User-language resolution over the two language tables, which are only
  // read after Init; safe on any number of threads.
  // The LCID of the tag cut before its first "," (the tag is cut in place);
  // 0 and false when the map has no such tag.
  bool GetLCID(ci_string& tag, uint16_t& lcid) const;
  // The product language and LCID of an Accept-Language text: "en" and 9
  // when the text is empty; the LCID from the text before the first "," or
  // ";", the language from the first ";"-piece that begins with a supported
  // tag. True when a language matched.
  bool GetBrowserLanguage(ci_string_view languages, std::string& language, uint16_t& lcid) const;
  TResource& GetResource() { return m_resource; }
  TEventLog& GetEventLog() { return m_eventLog; }
  THandleSettings& GetHandleSettings() { return m_settings; }
  CRSALoader& GetRSALoader() { return m_rsaLoader; }

 protected:
  // Language tag -> LCID.
  void InitLanguageLCIDMap();
  virtual const CPageCharSet& GetPageCharSets() const = 0;

  TResource m_resource;
  TEventLog m_eventLog;
  THandleSettings m_settings;
  std::string m_strModuleFolderName;
  std::string m_strCommonFilesDirectory;
  std::string m_strModuleDirectory;
  std::string m_strSettingsDirectory;
  DWORD m_bInitialised = 0;
  CRSALoader m_rsaLoader;
  DWORD m_dwExchangeVersion = 0;
  DWORD m_dwSSLOffloaded = 0;

 public:
  // Set by GetFilterVersion before Init.
  DWORD m_dwSuccessEventID = 0;
  DWORD m_dwFailureEventID = 0;
  DWORD m_dwErrorEventID = 0;

 protected:
  // Looked up by views of the request's text, without copies.
  std::map<ci_string, uint16_t, std::less<>> m_languageMap;
  std::vector<std::pair<std::string, std::string>> m_supportedLanguages;
  std::string m_strModuleName;
  CModuleHandle m_spLogModule;
  std::vector<std::string> m_reservedNames;
};
