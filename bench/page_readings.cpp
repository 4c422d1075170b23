// The readings of a page a browser may take, on shapes an outsider can put
// into a mail page that split them (scripting on and off, the select rules
// of 2025 and before, end tags the elements below foreign content decide)
// or nest without bound, each repeated to 256 KB, 1 MB and 4 MB: the host's
// search for the page's tags and the check of an edit before the page's end.
// The work must grow linearly with the page: the MB/s column stays flat.
#include <benchmark/benchmark.h>

#include <string>

#include "common/page_chars.h"
#include "filter/buffer_instruction.h"
#include "filter/edit_places.h"
#include "filter/util.h"
#include "host/hx_response_buffer.h"

namespace {

struct Shape {
  const char* pName;
  const char* pPrefix;
  const char* pUnit;
};

const Shape kShapes[] = {
    {"noscript with a quoted end tag", "<body>", "<noscript><p title=\"</noscript>\">x</p></noscript>"},
    {"unclosed noscript", "<body><noscript>", "<p title=\"x\">y</p>"},
    {"style in select", "<body>", "<select><option>A<style>x</select>\"</style>"},
    {"unclosed select", "<body><select>", "<style>x</style><title>y</title>"},
    {"end tags below foreign content", "<body>", "<b><svg></x><style>a</style></svg>"},
    {"deep foreign content", "<body><svg>", "<g>"},
    {"deep foreign content with noscript", "<body><svg><foreignObject>", "<svg><foreignObject><noscript>"},
    {"CDATA sections", "<body><svg>", "<![CDATA[ ]] > ]]>"},
    {"splits under raw text of another reading", "<body><noscript>", "<svg></div>"},
    {"end tags that skip deep foreign content", "<body><svg>", "<g></x>"},
};

std::string MakePage(const Shape& shape, size_t nBytes) {
  std::string page = shape.pPrefix;
  while (page.size() < nBytes) page += shape.pUnit;
  return page + "x</body>";
}

void BM_PageReadings(benchmark::State& state) {
  const Shape& shape = kShapes[state.range(0)];
  std::string page = MakePage(shape, static_cast<size_t>(state.range(1)) * 1024);
  CCommonPointers words;
  const auto base = reinterpret_cast<uintptr_t>(page.data());
  words[CCommonPointers::FirstByte] = base;
  words[CCommonPointers::HtmlBegin] = base;
  words[CCommonPointers::LastByte] = base + page.size() - 1;
  CBufferInstructionList edits;
  CUtil::InsertHtmlStringAtPosition(base + page.size() - 7, "<div id=m></div>", &edits);
  const CPageChars chars = CPageChars::ForCharSet("utf-8");
  size_t nResult = 0;
  for (auto _ : state) {
    nResult += HxScanPageTags(page).bodyEnd;
    nResult += CheckEditPlaces(words, chars, edits);
    benchmark::DoNotOptimize(nResult);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
  state.SetLabel(shape.pName);
}

void Args(benchmark::internal::Benchmark* b) {
  for (int nShape = 0; nShape < static_cast<int>(sizeof(kShapes) / sizeof(kShapes[0])); ++nShape) {
    for (int nKb : {256, 1024, 4096}) b->Args({nShape, nKb});
  }
}

}  // namespace

BENCHMARK(BM_PageReadings)->Apply(Args)->Unit(benchmark::kMillisecond)->MinTime(0.05);

BENCHMARK_MAIN();
