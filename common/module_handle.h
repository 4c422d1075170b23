// A loaded library shared through a counted pointer: freed when the last
// reference goes.
#pragma once

#include "common/counted_ptr.h"
#include "platform/library_loader.h"

struct CLoadedModule {
  explicit CLoadedModule(HMODULE module) : m_hModule(module) {}
  ~CLoadedModule() {
    if (m_hModule != nullptr) FreeLibrary(m_hModule);
  }
  CLoadedModule(const CLoadedModule&) = delete;
  CLoadedModule& operator=(const CLoadedModule&) = delete;
  HMODULE m_hModule;
};

using CModuleHandle = CCountedPtr<CLoadedModule>;
