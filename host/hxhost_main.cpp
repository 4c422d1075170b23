// hxhost: runs request descriptions through the module of a staged install
// tree and prints what the module decided.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/hx_host.h"
#include "host/hx_report.h"

namespace {

void Usage() {
  std::fputs(
      "usage: hxhost [--install DIR | --module FILE] [--virtual-folder NAME] [--no-answer] REQUEST...\n"
      "  --install DIR          staged install tree (default: $HX_INSTALL_DIR, else ./stage);\n"
      "                         the module is DIR/Quenlith/Pellora/bin/PL_Hexmoor.so\n"
      "  --module FILE          load this module file instead\n"
      "  --virtual-folder NAME  the product's virtual folder of the URL rule (default X-Pellora)\n"
      "  --no-answer            print the decisions only, not the answer's text\n"
      "  REQUEST                a request description file (see README)\n",
      stderr);
}

}  // namespace

int main(int argc, char** argv) {
  const char* envInstall = std::getenv("HX_INSTALL_DIR");
  std::string install = envInstall != nullptr ? envInstall : "stage";
  std::string module;
  std::string virtualFolder = "X-Pellora";
  HxReportOptions options;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    if (arg == "--install") {
      if (!value(install)) return Usage(), 2;
    } else if (arg == "--module") {
      if (!value(module)) return Usage(), 2;
    } else if (arg == "--virtual-folder") {
      if (!value(virtualFolder)) return Usage(), 2;
    } else if (arg == "--no-answer") {
      options.showAnswer = false;
    } else if (arg == "-h" || arg == "--help") {
      Usage();
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      Usage();
      return 2;
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    Usage();
    return 2;
  }
  if (module.empty()) module = HxModulePathInInstall(install);

  HxHost host;
  host.virtualFolder = virtualFolder;
  std::string error;
  if (!host.Start(module, error)) {
    std::fprintf(stderr, "hxhost: %s\n", error.c_str());
    return 1;
  }
  const HTTP_FILTER_VERSION& v = host.Version();
  std::printf("module %s\n  GetFilterVersion: version 0x%X, flags 0x%08X, \"%s\"\n\n", module.c_str(),
              v.dwFilterVersion, v.dwFlags, v.lpszFilterDesc);

  int status = 0;
  for (const std::string& file : files) {
    HxRequest request;
    if (!LoadRequestDescription(file, request, error)) {
      std::fprintf(stderr, "hxhost: %s\n", error.c_str());
      status = 1;
      continue;
    }
    const HxOutcome outcome = host.Run(request);
    std::fputs(HxFormatOutcome(request, outcome, options).c_str(), stdout);
    std::fputs("\n", stdout);
    if (!outcome.ok) status = 1;
  }
  std::printf("TerminateFilter: %u\n", host.Stop());
  return status;
}
