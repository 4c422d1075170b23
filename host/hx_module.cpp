#include "host/hx_module.h"

#include <dlfcn.h>

std::string HxModulePathInInstall(const std::string& installDir) {
  std::string dir = installDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir + "/Quenlith/Pellora/bin/PL_Hexmoor.so";
}

bool HxModule::Load(const std::string& path, std::string& error) {
  Unload();
  // Local binding: the module's symbols never mix with the host's.
  m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (m_handle == nullptr) {
    const char* why = dlerror();
    error = "cannot load " + path + ": " + (why != nullptr ? why : "unknown error");
    return false;
  }
  m_pfnGetFilterVersion = reinterpret_cast<PFN_GetFilterVersion>(dlsym(m_handle, "GetFilterVersion"));
  m_pfnHttpFilterProc = reinterpret_cast<PFN_HttpFilterProc>(dlsym(m_handle, "HttpFilterProc"));
  m_pfnTerminateFilter = reinterpret_cast<PFN_TerminateFilter>(dlsym(m_handle, "TerminateFilter"));
  if (m_pfnGetFilterVersion == nullptr || m_pfnHttpFilterProc == nullptr || m_pfnTerminateFilter == nullptr) {
    error = path + " lacks one of GetFilterVersion, HttpFilterProc, TerminateFilter";
    Unload();
    return false;
  }
  return true;
}

void HxModule::Attach(PFN_GetFilterVersion getFilterVersion, PFN_HttpFilterProc httpFilterProc,
                      PFN_TerminateFilter terminateFilter) {
  Unload();
  m_pfnGetFilterVersion = getFilterVersion;
  m_pfnHttpFilterProc = httpFilterProc;
  m_pfnTerminateFilter = terminateFilter;
}

void HxModule::Unload() {
  if (m_handle != nullptr) dlclose(m_handle);
  m_handle = nullptr;
  m_pfnGetFilterVersion = nullptr;
  m_pfnHttpFilterProc = nullptr;
  m_pfnTerminateFilter = nullptr;
}
