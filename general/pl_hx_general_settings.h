// The process-wide settings object, reached only through getInstance.
// Minimal form: start-up and shutdown succeed and the per-request refresh has
// nothing to refresh, until the settings store and the start-up sequence are
// built behind the same members.
#pragma once

#include "platform/win_types.h"

class CPLHXGeneralSettings {
 public:
  CPLHXGeneralSettings() = default;
  CPLHXGeneralSettings(const CPLHXGeneralSettings&) = delete;
  CPLHXGeneralSettings& operator=(const CPLHXGeneralSettings&) = delete;
  virtual ~CPLHXGeneralSettings() = default;

  // Never null; built on first use in static storage.
  static CPLHXGeneralSettings* getInstance();

  BOOL Init(const char* productName, const char* moduleName, const char* resourceLibName, const char* registryKey);
  virtual DWORD Uninitialize();
  // The settings holder's per-request reload check.
  void RefreshSettingsIfNeeded();

  DWORD m_dwSuccessEventID = 0;  // reported when start-up succeeds
  DWORD m_dwFailureEventID = 0;  // reported when start-up fails
  DWORD m_dwErrorEventID = 0;    // every event that carries an error text
};
