// Hostile pages: shapes an outsider can put into a mail page, each repeated
// to 256 KB, 1 MB and 4 MB. Every page gets a page form's on-demand DOM work
// (document elements, lookups, the element enclosing a position) and the
// full parse with the element tree. The work must grow linearly with the
// page: the MB/s column stays flat from 256 KB to 4 MB.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "filter/common_pointers.h"
#include "html/dom_source.h"
#include "html/element.h"
#include "html/source.h"
#include "html/tag.h"

namespace {

struct Shape {
  const char* pName;
  const char* pPrefix;
  const char* pUnit;
  const char* pSuffix;
};

const Shape kShapes[] = {
    {"unterminated comments", "<html><body>", "<!--", ""},
    {"unterminated server tags", "<html><body>", "<%", ""},
    {"bare '<'", "<html><body>", "<", ""},
    {"unterminated CDATA sections", "<html><body>", "<![cdata[", ""},
    {"unterminated attribute values", "<html><body>", "<a b=\"", ""},
    {"unclosed b elements", "<html><body>", "<b>x", ""},
    {"unterminated script", "<html><body><p id=x>text</p><script>", "if (a<b) { s = '<div>' + x; }\n", ""},
    {"closed nesting", "<html><body>", "<b>", "x"},
    {"unterminated end tags", "<html><body>", "</a ", ""},
    {"unterminated processing instructions", "<html><body>", "<?x ", ""},
    {"unclosed paragraphs", "<html><body>", "<p>x", ""},
    {"unclosed list items", "<html><body><ul>", "<li>x", ""},
    {"comments closed at the end", "<html><body>", "<!--", "-->"},
    {"server tags closed at the end", "<html><body>", "<%", "%>"},
    {"doctype subsets closed at the end", "<html><body>", "<!doctype [", ">"},
    {"declaration quotes closed at the end", "<html><body>", "<!ELEMENT \"", ">"},
    {"quoted doctypes closed at the end", "<html><body>", "<!doctype \"", ">"},
    {"end tags closed at the end", "<html><body>", "</ ", ">"},
    {"head elements", "<html>", "<head>", ""},
    {"end tags with attributes", "<html><body>", "</b x='>'", ""},
    {"partial script end tags", "<html><body><script>", "</scr", ""},
    {"almost comments", "<html><body>", "<!-", ""},
    {"unclosed table cells", "<html><body>", "<table><tr><td>", ""},
    {"unterminated style", "<html><body><style>", "a<b{c:d}", ""},
    {"unterminated textarea", "<html><body><textarea>", "<b>x", ""},
    {"misnested pairs", "<html><body>", "<b><i></b></i>", ""},
    {"stray end tags", "<html><body>", "</b>", ""},
};

// The page of a shape at about nBytes, in a response buffer after headers.
struct HostilePage {
  std::string sBuffer;
  size_t nHtmlBegin;
};

HostilePage MakePage(const Shape& shape, size_t nBytes) {
  HostilePage page;
  const std::string sHeaders = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
  page.nHtmlBegin = sHeaders.size();
  page.sBuffer = sHeaders + shape.pPrefix;
  const std::string sUnit = shape.pUnit;
  size_t nUnits = 0;
  while (page.sBuffer.size() < sHeaders.size() + nBytes) {
    page.sBuffer += sUnit;
    ++nUnits;
  }
  page.sBuffer += shape.pSuffix;
  // The closed nesting closes every level it opened.
  if (std::string(shape.pName) == "closed nesting") {
    for (size_t i = 0; i < nUnits; ++i) page.sBuffer += "</b>";
  }
  return page;
}

size_t FormWork(const HostilePage& page) {
  CCommonPointers record;
  record[CCommonPointers::FirstByte] = reinterpret_cast<uintptr_t>(page.sBuffer.data());
  record[CCommonPointers::LastByte] = reinterpret_cast<uintptr_t>(page.sBuffer.data() + page.sBuffer.size() - 1);
  record[CCommonPointers::HtmlBegin] = reinterpret_cast<uintptr_t>(page.sBuffer.data() + page.nHtmlBegin);
  CDOMSource dom(&record);
  size_t nFound = 0;
  const CDOMElement& body = dom.getBody();
  nFound += dom.getHead().isUndefined() ? 0 : 1;
  nFound += dom.getElementById("x").isUndefined() ? 0 : 1;
  if (!body.isUndefined()) nFound += body.getElementsByTagName("span").length();
  const HXPos nMiddle = page.nHtmlBegin + (page.sBuffer.size() - page.nHtmlBegin) / 2;
  nFound += dom.getEnclosingElement(nMiddle).isUndefined() ? 0 : 1;
  nFound += dom.getEnclosingElement(page.sBuffer.size() - 1).isUndefined() ? 0 : 1;
  return nFound;
}

size_t ElementTree(const HostilePage& page) {
  CSource source(page.sBuffer.data(), page.nHtmlBegin, page.sBuffer.size());
  size_t nElements = 0;
  for (CTag* pTag : source.fullSequentialParse()) {
    if (pTag->isStartTag() && static_cast<CStartTag*>(pTag)->getElement() != nullptr) ++nElements;
  }
  nElements += source.getChildElements().size();
  nElements += source.getEnclosingElement(page.sBuffer.size() - 1) != nullptr ? 1 : 0;
  return nElements;
}

void BM_HostilePage(benchmark::State& state) {
  const Shape& shape = kShapes[state.range(0)];
  const HostilePage page = MakePage(shape, static_cast<size_t>(state.range(1)) * 1024);
  size_t nResult = 0;
  for (auto _ : state) {
    nResult = state.range(2) == 0 ? FormWork(page) : ElementTree(page);
    benchmark::DoNotOptimize(nResult);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(page.sBuffer.size() - page.nHtmlBegin));
  state.SetLabel(std::string(shape.pName) + (state.range(2) == 0 ? ", form DOM work" : ", parse + element tree"));
}

void HostileArgs(benchmark::internal::Benchmark* b) {
  for (int nShape = 0; nShape < static_cast<int>(sizeof(kShapes) / sizeof(kShapes[0])); ++nShape) {
    for (int nWork = 0; nWork < 2; ++nWork) {
      for (int nKb : {256, 1024, 4096}) b->Args({nShape, nKb, nWork});
    }
  }
}

}  // namespace

BENCHMARK(BM_HostilePage)->Apply(HostileArgs)->Unit(benchmark::kMillisecond)->MinTime(0.05);

BENCHMARK_MAIN();
