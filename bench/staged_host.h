// The filter host with the real module of the staged install tree, started
// once per benchmark program and never stopped: benchmarks may still run
// requests while the program ends.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/hx_host.h"
#include "host/hx_module.h"

inline HxHost& StagedHost() {
  static HxHost* host = [] {
    auto* h = new HxHost();
    std::string error;
    if (!h->Start(HxModulePathInInstall(std::string(HX_BINARY_DIR) + "/stage"), error)) {
      std::fprintf(stderr, "module did not start: %s\n", error.c_str());
      std::exit(1);
    }
    return h;
  }();
  return *host;
}
