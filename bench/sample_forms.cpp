// The page forms of the sample requests, each a whole request through the
// real module as the filter host drives it, side by side: Basic read and
// edit, attachment manager, Premium read and edit, document view. Each
// request's page is the sample page; the forms' escaping of every name, id
// and path is part of what is measured. Builds of other revisions run the
// same program to compare form by form.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/staged_host.h"
#include "host/hx_host.h"
#include "host/hx_request.h"

namespace {

HxRequest SampleRequest(const char* pName) {
  const std::string path = std::string(HX_SOURCE_DIR) + "/samples/requests/" + pName + ".txt";
  HxRequest request;
  std::string error;
  if (!LoadRequestDescription(path, request, error)) {
    std::fprintf(stderr, "bad description %s: %s\n", path.c_str(), error.c_str());
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

void SampleForm(benchmark::State& state, const char* pName) {
  const HxRequest request = SampleRequest(pName);
  for (auto _ : state) {
    HxOutcome outcome = StagedHost().Run(request);
    if (!outcome.ok) {
      state.SkipWithError("the request did not complete");
      break;
    }
    benchmark::DoNotOptimize(outcome);
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(SampleForm, BasicRead, "basic_read_item");
BENCHMARK_CAPTURE(SampleForm, BasicEdit, "basic_edit_item");
BENCHMARK_CAPTURE(SampleForm, AttachmentManager, "basic_attachment_manager");
BENCHMARK_CAPTURE(SampleForm, PremiumRead, "premium_read_item");
BENCHMARK_CAPTURE(SampleForm, PremiumEdit, "premium_edit_item");
BENCHMARK_CAPTURE(SampleForm, DocumentView, "premium_document_view");

}  // namespace

BENCHMARK_MAIN();
