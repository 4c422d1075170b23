// The staged module loaded once into a filter host, and requests run through
// it from short descriptions.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "host/hx_host.h"
#include "host/hx_module.h"
#include "host/hx_request.h"

class PipelineHost {
 public:
  static HxHost& Get() {
    static HxHost* host = [] {
      auto* h = new HxHost();
      std::string error;
      const std::string module = HxModulePathInInstall(std::string(HX_BINARY_DIR) + "/stage");
      if (!h->Start(module, error)) ADD_FAILURE() << "module did not start: " << error;
      return h;
    }();
    return *host;
  }

  // Runs a request description (directives, request line, headers, body).
  static HxOutcome Run(const std::string& description) {
    HxRequest request;
    std::string error;
    if (!ParseRequestDescription(description, "", request, error)) {
      ADD_FAILURE() << "bad description: " << error;
      return {};
    }
    HxOutcome outcome = Get().Run(request);
    if (!outcome.ok) ADD_FAILURE() << "request did not run: " << outcome.error;
    return outcome;
  }
};

// The record after the notification of that type, or null when it was not
// delivered.
inline const HxNotificationRecord* After(const HxOutcome& outcome, DWORD type) {
  for (const auto& n : outcome.notifications) {
    if (n.type == type) return &n;
  }
  return nullptr;
}
