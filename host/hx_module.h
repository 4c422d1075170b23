// The module as the host loads it: a shared library with three C entry
// points, opened from a staged install tree.
#pragma once

#include <string>

#include "filter/dll_context.h"
#include "platform/http_filter.h"

// Where the module sits below an install tree: the product family's folder,
// the product folder, its module folder.
std::string HxModulePathInInstall(const std::string& installDir);

class HxModule {
 public:
  using PFN_GetFilterVersion = BOOL (*)(HTTP_FILTER_VERSION*);
  using PFN_HttpFilterProc = DWORD (*)(CDLLContext*);
  using PFN_TerminateFilter = DWORD (*)();

  HxModule() = default;
  HxModule(const HxModule&) = delete;
  HxModule& operator=(const HxModule&) = delete;
  ~HxModule() { Unload(); }

  // dlopen and resolve the three entry points; false with a message.
  bool Load(const std::string& path, std::string& error);
  // Uses entry points already in the process (a filter linked into a test).
  void Attach(PFN_GetFilterVersion getFilterVersion, PFN_HttpFilterProc httpFilterProc,
              PFN_TerminateFilter terminateFilter);
  void Unload();
  bool IsLoaded() const { return m_pfnHttpFilterProc != nullptr; }

  BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer) const { return m_pfnGetFilterVersion(pVer); }
  DWORD HttpFilterProc(CDLLContext* pContext) const { return m_pfnHttpFilterProc(pContext); }
  DWORD TerminateFilter() const { return m_pfnTerminateFilter(); }

 private:
  void* m_handle = nullptr;
  PFN_GetFilterVersion m_pfnGetFilterVersion = nullptr;
  PFN_HttpFilterProc m_pfnHttpFilterProc = nullptr;
  PFN_TerminateFilter m_pfnTerminateFilter = nullptr;
};
