// One whole request through the real module as the filter host drives it:
// pre-process headers, authentication complete, send response, send raw data
// (a page no form claims) and end of request, and the same request without a
// page; and, in the same run, the same requests through the same host driving
// a filter that does nothing, so that the difference is what the module adds.
// Unless told otherwise the repetitions of all four run interleaved at
// random, so that both sides see the same machine, and the run ends with the
// difference of the medians.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "host/hx_host.h"
#include "host/hx_module.h"
#include "host/hx_request.h"
#include "bench/staged_host.h"

namespace {

HxHost& Host() { return StagedHost(); }

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
  HxRequest request = ReadItemRequestFrom("192.0.2.10", withPage ? "@response-page plain_page.html\n" : "");
  ReadResponsePage(request);
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

// The usual table, then what the module adds: the median time of a request
// through it less the median through the do-nothing filter.
class AddedTimeReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        m_medians[run.run_name.str()] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const char* threads : {"1", "8"}) {
      const std::string suffix = std::string("/real_time/threads:") + threads;
      for (const auto& [request, label] : {std::pair{"WholeRequest", "with a page"}, {"NoPageRequest", "without"}}) {
        const auto module = m_medians.find(std::string("BM_") + request + suffix);
        const auto none = m_medians.find(std::string("BM_") + request + "DoNothingFilter" + suffix);
        if (module == m_medians.end() || none == m_medians.end()) continue;
        std::printf("The module adds %.0f ns to a request %s (medians, %s thread%s)\n", module->second - none->second,
                    label, threads, std::string_view(threads) == "1" ? "" : "s");
      }
    }
  }

 private:
  std::map<std::string, double> m_medians;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  bool repetitionsGiven = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]).starts_with("--benchmark_repetitions")) repetitionsGiven = true;
  }
  // Flags given on the command line come later and win.
  static char kRepetitions[] = "--benchmark_repetitions=9";
  static char kInterleaved[] = "--benchmark_enable_random_interleaving=true";
  static char kAggregatesOnly[] = "--benchmark_report_aggregates_only=true";
  static char kMinTime[] = "--benchmark_min_time=0.2";
  if (!repetitionsGiven) args.insert(args.begin() + 1, {kRepetitions, kInterleaved, kAggregatesOnly, kMinTime});
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  AddedTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
