// Paths of the staged install tree the end-to-end tests run against.
#pragma once

#include <string>

#include "host/hx_module.h"

inline std::string StageDir() { return std::string(HX_BINARY_DIR) + "/stage"; }
inline std::string StagedModule() { return HxModulePathInInstall(StageDir()); }
inline std::string SampleRequest(const char* name) { return std::string(HX_SOURCE_DIR) + "/samples/requests/" + name; }
