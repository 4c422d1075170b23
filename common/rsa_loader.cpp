#include "common/rsa_loader.h"

#include "platform/last_error.h"

CRSALoader::~CRSALoader() { m_spLibrary.Release(); }

void CRSALoader::ClearEntryPoints() {
  m_pfnCookieInitializeFilt = nullptr;
  m_pfnGetUserName = nullptr;
  m_pfnGetLastError = nullptr;
  m_pfnFreeMemory = nullptr;
  m_pfnCookieInitializeExtNoMFC = nullptr;
}

DWORD CRSALoader::Load() {
  HMODULE module = LoadLibraryA("QL_RSALoad64.dll");
  if (module == nullptr) {
    DWORD error = GetLastError();
    ClearEntryPoints();
    m_bAvailable = 0;
    return error;
  }
  if (!m_spLibrary.IsNull() && m_spLibrary->m_hModule == module) {
    // Loaded again under the same handle: keep one reference only.
    FreeLibrary(module);
  } else {
    m_spLibrary = CModuleHandle(new CLoadedModule(module));
  }
  HMODULE held = m_spLibrary->m_hModule;
  DWORD lastError = 0;
  auto find = [&](const char* name) {
    FARPROC p = GetProcAddress(held, name);
    if (p == nullptr) lastError = GetLastError();
    return p;
  };
  m_pfnCookieInitializeFilt = find("QL_RSACookieInitializeFilt");
  m_pfnGetUserName = find("QL_RSAGetUserName");
  m_pfnGetLastError = find("QL_RSAGetLastError");
  m_pfnFreeMemory = find("QL_RSAFreeMemory");
  m_pfnCookieInitializeExtNoMFC = find("QL_RSACookieInitializeExtNoMFC");
  m_bAvailable = (m_pfnCookieInitializeFilt != nullptr && m_pfnGetUserName != nullptr &&
                  m_pfnGetLastError != nullptr && m_pfnFreeMemory != nullptr &&
                  m_pfnCookieInitializeExtNoMFC != nullptr)
                     ? 1
                     : 0;
  if (m_bAvailable != 0) return 0;
  return lastError != 0 ? lastError : 1;
}

void CRSALoader::Unload() {
  m_bAvailable = 0;
  m_spLibrary.Release();
  ClearEntryPoints();
}
