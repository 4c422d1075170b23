// The cost of a request's parameter list as it grows: a POST without a body
// to the viewer's menu pseudo-request whose query holds N parameters, and
// one whose form body holds as many again, through the host into the staged
// module, for N and 4N; and the
// module's own readings of such a list (a deciding parameter looked up, the
// viewer's levels taken out) without the host. Four times the parameters
// should cost about four times the time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/staged_host.h"
#include "common/ci_string.h"
#include "filter/decision_params.h"
#include "filter/request_info.h"
#include "host/hx_host.h"
#include "host/hx_request.h"
#include "host/hx_request_info.h"

namespace {

// "p0=v0&p1=v1&...", N pairs.
std::string Pairs(int count, const char* prefix) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    if (i != 0) text += '&';
    text += prefix + std::to_string(i) + "=v" + std::to_string(i);
  }
  return text;
}

HxRequest LongPost(int count, bool withBody) {
  const std::string body = withBody ? Pairs(count, "b") : std::string();
  const std::string description =
      "@criteria 11\n@user-account aclerk\n@user-domain EXAMPLE\n"
      "POST /X-Pellora/cmd/menu?" + Pairs(count, "q") + " HTTP/1.1\n"
      "Host: mail.example.com\n"
      "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1)\n"
      "Content-Type: application/x-www-form-urlencoded\n"
      "Content-Length: " + std::to_string(body.size()) + "\n\n" + body;
  return ParsedRequest(description);
}

void LongPostToPseudoRequest(benchmark::State& state, bool withBody) {
  const HxRequest request = LongPost(static_cast<int>(state.range(0)), withBody);
  HxHost& host = StagedHost();
  for (auto _ : state) {
    HxOutcome outcome = host.Run(request);
    if (!outcome.ok) {
      state.SkipWithError("the request did not run");
      break;
    }
    benchmark::DoNotOptimize(outcome);
  }
  state.SetComplexityN(state.range(0));
}
void BM_LongQueryPost(benchmark::State& state) { LongPostToPseudoRequest(state, false); }
void BM_LongQueryAndBodyPost(benchmark::State& state) { LongPostToPseudoRequest(state, true); }
BENCHMARK(BM_LongQueryPost)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_LongQueryAndBodyPost)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond)->Complexity();

void BM_ParamReadings(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  CRequestInfo info;
  const std::string query = Pairs(count, "q");
  HxAddParameters(query, info);
  HxAddParameters(Pairs(count, "b"), info);
  info.m_mapHeaders["QUERY_STRING"] = query;
  info.m_mapHeaders["HTTP_METHOD"] = "POST";
  info.m_mapHeaders["HTTP_CONTENT_LENGTH"] = "1";
  info.m_mapHeaders["HTTP_COOKIE"] = "s=1; " + Pairs(count / 10, "c");
  const ci_string ciQuery = ToCI(query);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReadDecisionParam(info, "fn"));
    benchmark::DoNotOptimize(DecisionParamsReadOneWay(info));
    benchmark::DoNotOptimize(WithoutParamNamed(ciQuery, "owaal"));
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ParamReadings)->Arg(1000)->Arg(4000)->Unit(benchmark::kMicrosecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();
