// One whole request through the real module as the filter host drives it:
// pre-process headers, authentication complete, send response, send raw data
// (a page no form claims) and end of request, and the same request without a
// page; and, in the same run, the same requests through the same host driving
// a filter that does nothing, so that the difference is what the module adds.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/hx_host.h"
#include "host/hx_module.h"
#include "host/hx_request.h"

namespace {

HxHost& Host() {
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

// The filter that does nothing: it asks for the module's notifications and
// lets every one pass.
BOOL NullGetFilterVersion(HTTP_FILTER_VERSION* pVersion) {
  *pVersion = Host().Version();
  return TRUE;
}
DWORD NullHttpFilterProc(CDLLContext*) { return 0; }
DWORD NullTerminateFilter() { return 0; }

HxHost& NullHost() {
  static HxHost* host = [] {
    auto* h = new HxHost();
    std::string error;
    if (!h->Start(&NullGetFilterVersion, &NullHttpFilterProc, &NullTerminateFilter, error)) {
      std::fprintf(stderr, "the do-nothing filter did not start: %s\n", error.c_str());
      std::exit(1);
    }
    return h;
  }();
  return *host;
}

// The same request with and without the page a server sends back.
HxRequest ReadItemRequest(bool withPage) {
  static const char kDescription[] =
      "@client-address 192.0.2.10\n"
      "@criteria 1\n"
      "@user-account aclerk\n"
      "@user-domain EXAMPLE\n"
      "@user-sid S-1-5-21-1004336348-1177238915-682003330-1107\n"
      "GET /owa/?ae=Item&t=IPM.Note&id=RgAAAAB2cE1kq2tKT5bYpZ0wVQrXBwC5 HTTP/1.1\n"
      "Host: mail.example.com\n"
      "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1; Trident/4.0)\n"
      "Accept-Language: en-GB,en;q=0.8\n"
      "Cookie: sessionid=3f2a9c1e; UserContext=a81c5d0e; cadata=\"4QkJ7w8h2kVxE2C1rMZ0oYw==\"\n";
  std::string description = kDescription;
  if (withPage) description.insert(0, "@response-page plain_page.html\n");
  HxRequest request;
  std::string error;
  if (!ParseRequestDescription(description, std::string(HX_SOURCE_DIR) + "/bench", request, error)) {
    std::fprintf(stderr, "bad description: %s\n", error.c_str());
    std::exit(1);
  }
  if (request.responsePagePath) {
    std::string page;
    if (!ReadWholeFile(*request.responsePagePath, page)) {
      std::fprintf(stderr, "cannot read %s\n", request.responsePagePath->c_str());
      std::exit(1);
    }
    request.responsePage = std::move(page);
  }
  return request;
}

void WholeRequest(benchmark::State& state, HxHost& host, bool withPage) {
  const HxRequest request = ReadItemRequest(withPage);
  const size_t expected = withPage ? 5 : 4;
  for (auto _ : state) {
    HxOutcome outcome = host.Run(request);
    if (!outcome.ok || outcome.notifications.size() != expected) {
      state.SkipWithError("the request did not reach every notification");
      break;
    }
    benchmark::DoNotOptimize(outcome);
  }
  state.SetItemsProcessed(state.iterations());
}
void BM_WholeRequest(benchmark::State& state) { WholeRequest(state, Host(), true); }
void BM_WholeRequestDoNothingFilter(benchmark::State& state) { WholeRequest(state, NullHost(), true); }
void BM_NoPageRequest(benchmark::State& state) { WholeRequest(state, Host(), false); }
void BM_NoPageRequestDoNothingFilter(benchmark::State& state) { WholeRequest(state, NullHost(), false); }

BENCHMARK(BM_WholeRequest)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_WholeRequestDoNothingFilter)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_NoPageRequest)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_NoPageRequestDoNothingFilter)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
