#include "general/pl_hx_general_settings.h"

#include "common/static_memory.h"

CPLHXGeneralSettings* CPLHXGeneralSettings::getInstance() {
  return Mem_Manager::Static_memory<CPLHXGeneralSettings>::instance();
}

BOOL CPLHXGeneralSettings::Init(const char*, const char*, const char*, const char*) { return TRUE; }

DWORD CPLHXGeneralSettings::Uninitialize() { return 0; }

void CPLHXGeneralSettings::RefreshSettingsIfNeeded() {}
