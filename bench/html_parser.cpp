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

#include "filter/buffer_instruction.h"
#include "filter/common_pointers.h"
#include "html/attributes.h"
#include "html/dom_source.h"
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

// What a typical page form does: the DOM over the host's record, a full
// parse, HEAD and BODY, ten lookups by id and tag name, five edits recorded
// into an instruction list.
void BM_HexmoorPageForm(benchmark::State& state) {
  const SamplePage& page = Page(static_cast<int>(state.range(0)));
  CCommonPointers record;
  record[CCommonPointers::FirstByte] = reinterpret_cast<uintptr_t>(page.sBuffer.data());
  record[CCommonPointers::LastByte] = reinterpret_cast<uintptr_t>(page.sBuffer.data() + page.sBuffer.size() - 1);
  record[CCommonPointers::HtmlBegin] = reinterpret_cast<uintptr_t>(page.sBuffer.data() + page.nHtmlBegin);
  size_t nInstructions = 0;
  size_t nFound = 0;
  for (auto _ : state) {
    CBufferInstructionList list;
    CDOMSource dom(&record);
    dom.getSourcePtr()->fullSequentialParse();
    const CDOMElement& head = dom.getHead();
    const CDOMElement& body = dom.getBody();
    nFound = 0;
    for (const char* pId : {"divAtt", "divHdr", "divBdy", "lnkAtmt", "lnkAttach"}) {
      nFound += dom.getElementById(pId).isUndefined() ? 0 : 1;
    }
    CDOMElementVector spans = body.getElementsByTagName("span");
    CDOMElementVector links = body.getElementsByTagName("a");
    CDOMElementVector scripts = head.getElementsByTagName("script");
    CDOMElement table = body.getFirstElementByTagName("table");
    CDOMElement form = body.getFirstElementByTagName("form");
    nFound += spans.length() + links.length() + scripts.length() + (table.isUndefined() ? 0 : 1) +
              (form.isUndefined() ? 0 : 1);
    head.appendContentData("<script type='text/javascript' src='QLScripts/Pellora/1.9/pl.js'></script>", &list);
    body.getStartTag().insertDataAfter("<script language='javascript'>\r\n//QUENLITH PELLORA\r\n</script>", &list);
    if (spans.length() > 0) spans.item(0).setAttribute("oncontextmenu", "return plMenu(this);", &list);
    if (links.length() > 0) links.item(0).removeAttribute("onclick", &list);
    if (!table.isUndefined()) table.getStartTag().insertDataBefore("<div id=plMenu></div>", &list);
    nInstructions = list.size();
    benchmark::DoNotOptimize(nFound);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(page.sBuffer.size() - page.nHtmlBegin));
  state.counters["instructions"] = static_cast<double>(nInstructions);
  state.counters["found"] = static_cast<double>(nFound);
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

// Hostile pages: tens of thousands of levels whose end tags never come (the
// last one: but for the innermost). Every element is asked for, as a page
// form walking the page would.
const char* const kDeepUnits[] = {"<div>", "<a>", "<table><tr><td>", "<ul><li>", "<div>"};
const char* const kDeepClosing[] = {"", "", "", "", "</div>"};
const int kDeepLevels[] = {50000, 50000, 33000, 33000, 50000};

void BM_HexmoorDeepUnclosed(benchmark::State& state) {
  const size_t nKind = static_cast<size_t>(state.range(0));
  const std::string sHeaders = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
  std::string sBuffer = sHeaders + "<html><body>";
  for (int i = 0; i < kDeepLevels[nKind]; ++i) sBuffer += kDeepUnits[nKind];
  sBuffer += "core";
  sBuffer += kDeepClosing[nKind];
  sBuffer += "</body></html>";
  size_t nElements = 0;
  for (auto _ : state) {
    CSource source(sBuffer.data(), sHeaders.size(), sBuffer.size());
    const std::vector<CTag*>& tags = source.fullSequentialParse();
    nElements = 0;
    for (CTag* pTag : tags) {
      if (pTag->isStartTag() && static_cast<CStartTag*>(pTag)->getElement() != nullptr) ++nElements;
    }
    nElements += source.getChildElements().size();
    benchmark::DoNotOptimize(nElements);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(sBuffer.size() - sHeaders.size()));
  state.counters["elements"] = static_cast<double>(nElements);
  state.SetLabel(std::to_string(kDeepLevels[nKind]) + " x " + kDeepUnits[nKind] + kDeepClosing[nKind]);
}

void PageArgs(benchmark::internal::Benchmark* b) {
  for (int i = 0; i < static_cast<int>(sizeof(kPages) / sizeof(kPages[0])); ++i) b->Arg(i);
}

}  // namespace

BENCHMARK(BM_HexmoorFullParse)->Apply(PageArgs);
BENCHMARK(BM_Libxml2HtmlReadMemory)->Apply(PageArgs);
BENCHMARK(BM_HexmoorPageForm)->Apply(PageArgs);
BENCHMARK(BM_HexmoorDeepUnclosed)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
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
