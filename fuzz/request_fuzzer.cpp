// libFuzzer target: whole requests through the real module. The input is a
// request description as hxhost reads it (directives, request line, headers,
// body), optionally followed by a line "--page--" and the page the server
// answers with. The staged module is loaded once and driven through every
// notification by the filter host; the invariants below hold for any input.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/hx_host.h"
#include "host/hx_module.h"
#include "host/hx_request.h"

namespace {

constexpr char kPageMarker[] = "\n--page--\n";
constexpr DWORD kErrorInvalidAddress = 487;

[[noreturn]] void Violated(const char* what, const std::string& detail) {
  std::fprintf(stderr, "invariant violated: %s\n%s\n", what, detail.c_str());
  std::abort();
}

HxHost& Host() {
  static HxHost* host = [] {
    auto* h = new HxHost();  // lives until exit: the module keeps process state
    std::string error;
    if (!h->Start(HxModulePathInInstall(std::string(HX_BINARY_DIR) + "/stage"), error)) {
      Violated("the staged module starts", error);
    }
    return h;
  }();
  return *host;
}

// The page goes into a file of this process, as the host reads pages only
// from files.
std::string PageFile(const std::string& page) {
  static const std::string path = "/tmp/hx_fuzz_request_page." + std::to_string(::getpid());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) Violated("the page file can be written", path);
  std::fwrite(page.data(), 1, page.size(), f);
  std::fclose(f);
  return path;
}

bool HasLineBreakOrNul(const std::string& s) { return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

void CheckOutcome(const HxOutcome& out) {
  if (out.notifications.empty() || out.notifications.back().type != SF_NOTIFY_END_OF_REQUEST) {
    Violated("end of request is always delivered", out.error);
  }
  for (const HxHeaderChange& change : out.headerChanges) {
    if (HasLineBreakOrNul(change.name) || HasLineBreakOrNul(change.value)) {
      Violated("no header the module sets or adds holds CR, LF or NUL", change.name + ": " + change.value);
    }
  }
  if (!out.instructionsSubmitted) return;
  if (out.submitResult == kErrorInvalidAddress) Violated("page edits stay inside the buffer", out.answer);
  if (out.submitResult != 0 && out.answerKind == HxAnswerKind::ServerResponse &&
      out.answer != out.serverResponse) {
    Violated("a refused edit list leaves the page unchanged", out.answer);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  std::string text(reinterpret_cast<const char*>(pData), nSize);
  std::string page;
  bool hasPage = false;
  const size_t marker = text.find(kPageMarker);
  if (marker != std::string::npos) {
    page = text.substr(marker + sizeof(kPageMarker) - 1);
    text.resize(marker);
    hasPage = true;
  }
  HxRequest request;
  std::string error;
  if (!ParseRequestDescription(text, "", request, error)) return 0;
  request.responsePagePath.reset();  // only the page of the input
  if (hasPage) request.responsePagePath = PageFile(page);

  const HxOutcome out = Host().Run(request);
  // A head or a path the host refuses with 400 never reaches the module; a
  // line break reaches it through a server variable ("@server-variable").
  if (!out.ok || out.answerKind == HxAnswerKind::HostRefusal) return 0;
  CheckOutcome(out);
  return 0;
}
