// The process-wide settings object, reached only through getInstance: the
// product's general settings plus the map of localised script variables.
#pragma once

#include <map>
#include <string>

#include "general/pl_general_settings.h"

class CPLHXGeneralSettings : public CPLGeneralSettings {
 public:
  CPLHXGeneralSettings() = default;
  ~CPLHXGeneralSettings() override;

  // Never null; built on first use in static storage.
  static CPLHXGeneralSettings* getInstance();

  // Start-up with the module's directory one level above the module file.
  BOOL Init(const char* productName, const char* moduleName, const char* resourceLibraryName, const char* registryKey);
  using CPLGeneralSettings::Init;

  // The settings holder's per-request reload check.
  void RefreshSettingsIfNeeded();

  // The character-set name of a Content-Type value.
  bool DetectCharSet(const char* contentType, int32_t length, std::string& charSet) const {
    return CPageCharSet::DetectCharSet(contentType, length, charSet);
  }

  // Resource string id -> start of its JavaScript assignment line.
  const std::map<int32_t, std::string>& GetScriptVariableMap() const { return m_scriptVariables; }
  // Fills that map from the table of localised script variables; start-up
  // does it once the settings are loaded.
  void LoadScriptVariables();

 private:
  std::map<int32_t, std::string> m_scriptVariables;
};
