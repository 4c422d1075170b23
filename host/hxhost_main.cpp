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

// --help prints this to standard output; a mistake prints it to standard
// error after naming the mistake.
void Usage(FILE* out) {
  std::fputs(
      "usage: hxhost [--install DIR | --module FILE] [--virtual-folder NAME] [--no-answer] REQUEST...\n"
      "  --install DIR          install tree (default: $HX_INSTALL_DIR, else ./stage);\n"
      "                         the module is DIR/Quenlith/Pellora/bin/PL_Hexmoor.so\n"
      "  --module FILE          load this module file instead; it must stand in the\n"
      "                         Quenlith/Pellora/bin/ folder of an install tree, which\n"
      "                         holds its settings, resources and log module\n"
      "  --virtual-folder NAME  the product's virtual folder of the URL rule (default X-Pellora)\n"
      "  --no-answer            print the decisions only, not the answer's text\n"
      "  REQUEST                a request description file (see README)\n"
      "\n"
      "environment:\n"
      "  HX_INSTALL_DIR         the install tree when --install is not given\n"
      "  HX_EVENTLOG_FILE       a file that receives every event report, one line each\n"
      "                         (besides syslog)\n"
      "  HX_REGISTRY_FILE       the registry, a .reg file (default: registry.reg at the\n"
      "                         top of the install tree)\n"
      "  HX_SYSTEM_DIRECTORY    the system directory; the debug log's default folder is\n"
      "                         <dir>/LogFiles/QuenlithLogs (default /var/lib/quenlith)\n"
      "  HX_DEBUG_OUTPUT        anything but 0: the debug-output channel goes to stderr\n"
      "  LDAPURI, LDAPCONF      the directory (OpenLDAP's own settings, as in ldap.conf)\n"
      "  HX_LDAP_GC_URI         the global catalog users are looked up in (default: the\n"
      "                         directory)\n"
      "  HX_LDAP_BINDDN, HX_LDAP_PASSWORD_FILE\n"
      "                         a simple bind with this name and the first line of the\n"
      "                         file (an absolute path; a regular file of at most 4096\n"
      "                         bytes, reached through entries of this user or root\n"
      "                         that no other user may replace)\n",
      out);
}

// Names what was wrong, then how it is done.
int UsageError(const std::string& what) {
  std::fprintf(stderr, "hxhost: %s\n", what.c_str());
  Usage(stderr);
  return 2;
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
      if (!value(install)) return UsageError("--install needs a directory");
    } else if (arg == "--module") {
      if (!value(module)) return UsageError("--module needs a file");
    } else if (arg == "--virtual-folder") {
      if (!value(virtualFolder)) return UsageError("--virtual-folder needs a name");
    } else if (arg == "--no-answer") {
      options.showAnswer = false;
    } else if (arg == "-h" || arg == "--help") {
      Usage(stdout);
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      return UsageError("unknown option " + arg);
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) return UsageError("no request description given");
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
    // Written whole: a request line or an answer may hold a NUL.
    const std::string report = HxFormatOutcome(request, outcome, options);
    std::fwrite(report.data(), 1, report.size(), stdout);
    std::fputs("\n", stdout);
    if (!outcome.ok) status = 1;
  }
  std::printf("TerminateFilter: %u\n", host.Stop());
  return status;
}
