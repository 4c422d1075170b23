// Loads the product family's cookie loader library at start-up and keeps it
// loaded until shutdown. Nothing calls into it; its presence is reported.
#pragma once

#include "common/module_handle.h"
#include "platform/win_types.h"

class CRSALoader {
 public:
  CRSALoader() = default;
  ~CRSALoader();
  CRSALoader(const CRSALoader&) = delete;
  CRSALoader& operator=(const CRSALoader&) = delete;

  // 0 when the library and all five entry points were found.
  DWORD Load();
  void Unload();
  bool IsAvailable() const { return m_bAvailable != 0; }
  bool IsLoaded() const { return !m_spLibrary.IsNull(); }

 private:
  void ClearEntryPoints();

  FARPROC m_pfnCookieInitializeFilt = nullptr;
  FARPROC m_pfnGetUserName = nullptr;
  FARPROC m_pfnGetLastError = nullptr;
  FARPROC m_pfnFreeMemory = nullptr;
  FARPROC m_pfnCookieInitializeExtNoMFC = nullptr;
  DWORD m_bAvailable = 0;
  CModuleHandle m_spLibrary;
};
