// Parsing the sample pages completely (every tag and its attributes) with our
// parser and, on the same bytes in the same run, with libxml2's HTML parser.
// The threaded runs show whether parsing scales: pages on different threads
// share only the read-only tag-type tables.
#include <benchmark/benchmark.h>
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "html/attributes.h"
#include "html/source.h"
#include "html/tag.h"

namespace {

const char* const kPages[] = {"premium_readmessage.html", "basic_readmessage.html", "premium_readmessage_long.html",
                              "premium_editmessage_malformed.html"};

// A response buffer: a header block, then the page.
struct SamplePage {
  std::string sBuffer;
  size_t nHtmlBegin;
};

const SamplePage& Page(int nIndex) {
  static std::vector<SamplePage> pages = [] {
    std::vector<SamplePage> v;
    for (const char* pName : kPages) {
      std::ifstream in(std::string(HX_SOURCE_DIR) + "/samples/pages/" + pName, std::ios::binary);
      std::ostringstream body;
      body << in.rdbuf();
      const std::string sHeaders = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n";
      v.push_back({sHeaders + body.str(), sHeaders.size()});
    }
    return v;
  }();
  return pages[static_cast<size_t>(nIndex)];
}

void SetLabel(benchmark::State& state) { state.SetLabel(kPages[state.range(0)]); }

void BM_HexmoorFullParse(benchmark::State& state) {
  const SamplePage& page = Page(static_cast<int>(state.range(0)));
  size_t nTags = 0;
  size_t nAttributes = 0;
  for (auto _ : state) {
    CSource source(page.sBuffer.data(), page.nHtmlBegin, page.sBuffer.size());
    const std::vector<CTag*>& tags = source.fullSequentialParse();
    nTags = tags.size();
    nAttributes = 0;
    for (CTag* pTag : tags) {
      CAttributes* pAttributes = pTag->parseAttributes();
      if (pAttributes != nullptr) nAttributes += pAttributes->size();
    }
    benchmark::DoNotOptimize(nAttributes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(page.sBuffer.size() - page.nHtmlBegin));
  state.counters["tags"] = static_cast<double>(nTags);
  state.counters["attributes"] = static_cast<double>(nAttributes);
  SetLabel(state);
}

void BM_Libxml2HtmlReadMemory(benchmark::State& state) {
  const SamplePage& page = Page(static_cast<int>(state.range(0)));
  const char* pHtml = page.sBuffer.data() + page.nHtmlBegin;
  const int nSize = static_cast<int>(page.sBuffer.size() - page.nHtmlBegin);
  for (auto _ : state) {
    htmlDocPtr pDoc = htmlReadMemory(pHtml, nSize, nullptr, "UTF-8",
                                     HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    benchmark::DoNotOptimize(pDoc);
    xmlFreeDoc(pDoc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * nSize);
  SetLabel(state);
}

void PageArgs(benchmark::internal::Benchmark* b) {
  for (int i = 0; i < static_cast<int>(sizeof(kPages) / sizeof(kPages[0])); ++i) b->Arg(i);
}

}  // namespace

BENCHMARK(BM_HexmoorFullParse)->Apply(PageArgs);
BENCHMARK(BM_Libxml2HtmlReadMemory)->Apply(PageArgs);
// Eight threads at once on the long page and on the typical one.
BENCHMARK(BM_HexmoorFullParse)->Arg(0)->Arg(2)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_Libxml2HtmlReadMemory)->Arg(0)->Arg(2)->Threads(1)->Threads(8)->UseRealTime();

int main(int argc, char** argv) {
  xmlInitParser();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  xmlCleanupParser();
  return 0;
}
