#include "forms_e2e/applied_page.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/hx_module.h"
#include "host/hx_request.h"

namespace {

const std::string kRequestsDir = std::string(HX_SOURCE_DIR) + "/samples/requests";

std::string BodyOf(const std::string& answer) {
  const size_t blank = answer.find("\r\n\r\n");
  return blank == std::string::npos ? std::string() : answer.substr(blank + 4);
}

// The header lines of the answer, without its status line.
std::string HeadersOf(const std::string& answer) {
  const size_t blank = answer.find("\r\n\r\n");
  const size_t first = answer.find("\r\n");
  return blank == std::string::npos || first >= blank ? std::string() : answer.substr(first + 2, blank - first);
}

AppliedPage RunParsed(const HxRequest& request, const std::string& name) {
  AppliedPage applied;
  applied.outcome = SampleHost().Run(request);
  if (!applied.outcome.ok) {
    ADD_FAILURE() << name << " did not run: " << applied.outcome.error;
    return applied;
  }
  applied.page = BodyOf(applied.outcome.answer);
  const std::filesystem::path dir = std::filesystem::path(HX_BINARY_DIR) / "applied_pages";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::filesystem::path file = dir / (std::filesystem::path(name).stem().string() + ".html");
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << applied.page;
  std::ofstream headers(file.string() + ".headers", std::ios::binary | std::ios::trunc);
  headers << HeadersOf(applied.outcome.answer);
  if (out.good() && headers.good()) applied.path = file.string();
  if (applied.path.empty()) ADD_FAILURE() << "cannot save " << file;
  return applied;
}

}  // namespace

HxHost& SampleHost() {
  static HxHost* host = [] {
    auto* h = new HxHost();
    std::string error;
    if (!h->Start(HxModulePathInInstall(std::string(HX_BINARY_DIR) + "/stage"), error)) {
      ADD_FAILURE() << "module did not start: " << error;
    }
    return h;
  }();
  return *host;
}

AppliedPage RunSampleRequest(const std::string& requestFile) {
  HxRequest request;
  std::string error;
  if (!LoadRequestDescription(kRequestsDir + "/" + requestFile, request, error)) {
    ADD_FAILURE() << error;
    return {};
  }
  return RunParsed(request, requestFile);
}

AppliedPage RunRequestText(const std::string& description, const std::string& name) {
  HxRequest request;
  std::string error;
  if (!ParseRequestDescription(description, kRequestsDir, request, error)) {
    ADD_FAILURE() << "bad description: " << error;
    return {};
  }
  return RunParsed(request, name);
}
