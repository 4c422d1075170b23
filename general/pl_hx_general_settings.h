// The process-wide settings object, reached only through getInstance: the
// product's general settings plus the map of localised script variables.
#pragma once

#include <map>
#include <string>

#include "common/ci_string.h"
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

  // The OWA file access level of an extension (without its dot, may be
  // empty) for a public or a private client: 1 blocked, 2 force-save, 3
  // allowed. 0, or 13 for a dotted extension or an unusable unknown-type
  // value; `level` is always written (0 on failure).
  DWORD GetOWAFileAccessLevel(const ci_string& extension, bool publicClient, DWORD& level);
  // The level of a file by its name, as every check of a file takes it
  // (OWAFileAccessLevelOfName): the stricter of its extensions' levels.
  DWORD GetOWAFileAccessLevelOfName(ci_string_view fileName, bool publicClient, DWORD& level);
  // Whether OWA's allow, block or force-save list names a dotted extension,
  // by file type or by its registered MIME type; false for a text that does
  // not begin with ".".
  bool IsExtensionInOWAAllowList(const ci_string& dottedExtension);
  bool IsExtensionInOWABlockList(const ci_string& dottedExtension);
  bool IsExtensionInOWAForceSaveList(const ci_string& dottedExtension);

  // Resource string id -> start of its JavaScript assignment line.
  const std::map<int32_t, std::string>& GetScriptVariableMap() const { return m_scriptVariables; }
  // Fills that map from the table of localised script variables; start-up
  // does it once the settings are loaded.
  void LoadScriptVariables();

 private:
  std::map<int32_t, std::string> m_scriptVariables;
};
