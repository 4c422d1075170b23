// Placeholder for the reader of the document-conversion options (the INI
// file named by setting 1). Until that reader lands, the engines keep the
// option arrays built from the settings file alone; the reader replaces this
// file with its own definition of CPLSettings::LoadEngineIniFiles.
#include "settings/pl_settings.h"

bool CPLSettings::LoadEngineIniFiles(CSettingsStore&) { return true; }
