// The staged module loaded once into a filter host, and requests run through
// it from short descriptions.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "host/hx_host.h"
#include "host/hx_module.h"
#include "host/hx_request.h"

class PipelineHost {
 public:
  // The module of the staged sample install tree.
  static HxHost& Get() {
    static HxHost* host = Start(std::string(HX_BINARY_DIR) + "/stage");
    return *host;
  }

  // A copy of the staged tree with the pipeline tests' settings files: link
  // criteria 1 to 4 select settings sets 1 to 4, whose attachment-button
  // block levels are 0 to 3; two SIDs are in the bypass list.
  static HxHost& WithTestSettings() {
    static HxHost* host = [] {
      namespace fs = std::filesystem;
      const fs::path tree = fs::path(HX_BINARY_DIR) / "pipeline_stage";
      const fs::path data = fs::path(HX_SOURCE_DIR) / "tests" / "pipeline_e2e" / "data";
      std::error_code ec;
      fs::remove_all(tree, ec);
      fs::copy(fs::path(HX_BINARY_DIR) / "stage", tree, fs::copy_options::recursive, ec);
      if (ec) ADD_FAILURE() << "cannot copy the staged tree: " << ec.message();
      fs::copy_file(data / "HXSettings.xml", tree / "Quenlith" / "Pellora" / "Settings" / "HXSettings.xml",
                    fs::copy_options::overwrite_existing, ec);
      fs::copy_file(data / "LinkCriteriaSettings.xml",
                    tree / "Quenlith" / "Common Files" / "Settings" / "LinkCriteriaSettings.xml",
                    fs::copy_options::overwrite_existing, ec);
      if (ec) ADD_FAILURE() << "cannot place the test settings: " << ec.message();
      return Start(tree.string());
    }();
    return *host;
  }

  static HxHost* Start(const std::string& installDir) {
    auto* h = new HxHost();
    std::string error;
    if (!h->Start(HxModulePathInInstall(installDir), error)) ADD_FAILURE() << "module did not start: " << error;
    return h;
  }

  // Runs a request description (directives, request line, headers, body).
  static HxOutcome Run(const std::string& description) { return Run(Get(), description); }
  static HxOutcome Run(HxHost& host, const std::string& description) {
    HxRequest request;
    std::string error;
    if (!ParseRequestDescription(description, "", request, error)) {
      ADD_FAILURE() << "bad description: " << error;
      return {};
    }
    HxOutcome outcome = host.Run(request);
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
