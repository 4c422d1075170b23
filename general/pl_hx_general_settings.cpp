#include "general/pl_hx_general_settings.h"

#include "common/debug_log.h"
#include "common/static_memory.h"
#include "general/resource_strings.h"

CPLHXGeneralSettings::~CPLHXGeneralSettings() { m_scriptVariables.clear(); }

CPLHXGeneralSettings* CPLHXGeneralSettings::getInstance() {
  return Mem_Manager::Static_memory<CPLHXGeneralSettings>::instance();
}

BOOL CPLHXGeneralSettings::Init(const char* productName, const char* moduleName, const char* resourceLibraryName,
                                const char* registryKey) {
  DebugLog("[CPLHXGeneralSettings::Init] Starts.");
  m_scriptVariables.clear();
  BOOL result = CPLGeneralSettings::Init(productName, moduleName, resourceLibraryName, registryKey, 1);
  if (result) {
    LoadScriptVariables();
    DebugLog("[CPLHXGeneralSettings::Init] returned bRet <%s>.", "TRUE");
    return result;
  }
  DebugLog("[CPLHXGeneralSettings::Init] CPLGeneralSettings::Init() failed.");
  DebugLog("[CPLHXGeneralSettings::Init] returned bRet <%s>.", "FALSE");
  return result;
}

void CPLHXGeneralSettings::RefreshSettingsIfNeeded() {
  bool reloaded = false;
  m_settings.RefreshIfNeeded(reloaded);
  if (!reloaded) return;
  ReportLogSettingsChange();
  // A configuration start-up could not read from the directory is tried
  // again: the settings may have been reloaded for just that.
  NudgeOWARead();
}

void CPLHXGeneralSettings::LoadScriptVariables() {
  m_scriptVariables.clear();
  for (const ResourceScriptVariable& row : ResourceScriptVariableTable) m_scriptVariables.emplace(row.id, row.prefix);
}
