// The page forms of the sample requests, each a whole request through the
// real module as the filter host drives it, side by side: Basic read and
// edit, attachment manager, Premium read and edit, document view. Each
// request's page is the sample page; the forms' escaping of every name, id
// and path is part of what is measured. The read pages also run in
// Shift_JIS with Japanese names whose characters end in byte 0x5C, where the
// escaping reads the pairs of the set. Builds of other revisions run the
// same program to compare form by form.
#include <benchmark/benchmark.h>
#include <unicode/ucnv.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

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
  ReadResponsePage(request);
  return request;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The sample request with its page in Shift_JIS, the attachments named in
// Japanese (表, ソ and 予 end in byte 0x5C).
HxRequest InShiftJis(HxRequest request) {
  std::string page = Replaced(*request.responsePage, "charset=utf-8", "charset=shift_jis");
  for (const auto& [from, to] : {std::pair{"Budget 2026", "予算表2026"}, {"O'Brien notes", "ソフト表の注記"},
                                 {"Plan", "計画表"}, {"Figures Q3", "集計表Q3"}, {"final", "最終表"}}) {
    page = Replaced(page, from, to);
  }
  std::string bytes(page.size() * 2, '\0');
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n = ucnv_convert("windows-932", "UTF-8", bytes.data(), static_cast<int32_t>(bytes.size()), page.data(),
                                 static_cast<int32_t>(page.size()), &status);
  if (U_FAILURE(status)) {
    std::fprintf(stderr, "cannot write the page in Shift_JIS\n");
    std::exit(1);
  }
  bytes.resize(static_cast<size_t>(n));
  request.responsePage = std::move(bytes);
  request.responseContentType = "text/html; charset=shift_jis";
  return request;
}

void Run(benchmark::State& state, const HxRequest& request) {
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

void SampleForm(benchmark::State& state, const char* pName) { Run(state, SampleRequest(pName)); }
void SampleFormInShiftJis(benchmark::State& state, const char* pName) { Run(state, InShiftJis(SampleRequest(pName))); }

BENCHMARK_CAPTURE(SampleForm, BasicRead, "basic_read_item");
BENCHMARK_CAPTURE(SampleForm, BasicEdit, "basic_edit_item");
BENCHMARK_CAPTURE(SampleForm, AttachmentManager, "basic_attachment_manager");
BENCHMARK_CAPTURE(SampleForm, PremiumRead, "premium_read_item");
BENCHMARK_CAPTURE(SampleForm, PremiumEdit, "premium_edit_item");
BENCHMARK_CAPTURE(SampleForm, DocumentView, "premium_document_view");
BENCHMARK_CAPTURE(SampleFormInShiftJis, BasicRead, "basic_read_item");
BENCHMARK_CAPTURE(SampleFormInShiftJis, PremiumRead, "premium_read_item");

}  // namespace

BENCHMARK_MAIN();
