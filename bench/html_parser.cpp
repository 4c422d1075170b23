// Our parser next to libxml2's HTML parser (htmlReadMemory, which builds the
// whole tree) on the same bytes in the same run, on the sample pages and on a
// generated 1 MB mail page. Three kinds of work are compared: the tag parse
// (every tag and its attributes), the full parse with the element tree (what
// every page form needs) and a page form's DOM work. Each iteration runs both
// parsers, one after the other, so a loaded machine slows both alike;
// the counters give each one's MB/s of thread CPU time, the ratio (ours over
// libxml2's) and the memory in use per page byte once the parse is done.
// The threaded runs show whether parsing scales: pages on different threads
// share only the read-only tag-type tables. Files named on the command line
// (any argument that is not a benchmark flag) are compared as well, after the
// sample pages, so that a page of one's own can be put side by side.
#include <benchmark/benchmark.h>
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <malloc.h>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "filter/buffer_instruction.h"
#include "filter/common_pointers.h"
#include "html/attributes.h"
#include "html/dom_source.h"
#include "html/element.h"
#include "html/source.h"
#include "html/tag.h"

namespace {

const char* const kSamplePages[] = {"premium_readmessage.html", "basic_readmessage.html",
                                    "premium_readmessage_long.html", "premium_editmessage_malformed.html"};
constexpr int kGeneratedPage = 4;

// The pages' names: the samples, the generated page, then the command line's.
std::vector<std::string>& PageNames() {
  static std::vector<std::string> names = [] {
    std::vector<std::string> v(std::begin(kSamplePages), std::end(kSamplePages));
    v.push_back("generated 1 MB page");
    return v;
  }();
  return names;
}

// A response buffer: a header block, then the page.
struct SamplePage {
  std::string sBuffer;
  size_t nHtmlBegin;
};

// A mail page of about 1 MB: a head with scripts and styles, then a message
// list of table rows with links, spans, inputs, images and comments, in the
// shapes the client's pages use.
std::string GeneratedPage() {
  std::mt19937 rng(20261207);
  std::string s =
      "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">\n<html dir=\"ltr\"><head><title>Inbox</title>\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
      "<link type=\"text/css\" rel=\"stylesheet\" href=\"8.1/themes/base/premium.css\">\n"
      "<script type=\"text/javascript\">var a_fIE = true; function onClkRw(e) { if (e.x < 10 && e.y > 2) "
      "return false; }</script>\n<style>.rw td { padding: 2px; }</style></head>\n"
      "<body class=\"owaBdy\" onload=\"init();\"><form name=\"frm\" method=\"POST\" action=\"?ae=Folder\">\n"
      "<div id=\"divHdr\"><span id=\"spnTtl\">Inbox</span></div>\n<div id=\"divBdy\"><table class=\"lvw\" "
      "cellspacing=0 cellpadding=0>\n";
  int nRow = 0;
  while (s.size() < 1024 * 1024) {
    const int n = nRow++;
    s += "<tr class=\"rw\" id=\"r" + std::to_string(n) + "\" onclick=\"return onClkRw(event);\">";
    s += "<td class=\"sel\"><input type=checkbox name=chkmsg value=\"RgAAAAB" + std::to_string(rng()) + "\"></td>";
    s += "<td class=\"ic\"><img src=\"8.1/themes/base/msg-unrd.gif\" alt=\"\"></td>";
    s += "<td class=\"frm\"><span title=\"sender" + std::to_string(n % 97) + "@example.com\">Sender " +
         std::to_string(n % 97) + "</span></td>";
    s += "<td class=\"sbj\"><a href=\"?ae=Item&amp;t=IPM.Note&amp;id=" + std::to_string(rng()) +
         "\" target=_blank>Re: report " + std::to_string(n) + " &amp; notes</a>";
    if (n % 7 == 0) s += "<!-- flagged --><b>!</b>";
    if (n % 11 == 0) s += "<p>preview text<br>second line";
    s += "</td><td class=\"dt\" nowrap>12/07/2026 " + std::to_string(8 + n % 10) + ":" +
         std::to_string(10 + n % 50) + "</td></tr>\n";
  }
  s += "</table></div><input type=hidden name=hidid value=\"LgAAAAAB\"></form>\n"
       "<script type=\"text/javascript\">if (a_fIE) { document.write('<div id=\"divMn\"></div>'); }</script>\n"
       "</body></html>\n";
  return s;
}

const SamplePage& Page(int nIndex) {
  static std::vector<SamplePage> pages = [] {
    std::vector<SamplePage> v;
    const std::string sHeaders = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n";
    auto read = [&](const std::string& path) {
      std::ifstream in(path, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(1);
      }
      std::ostringstream body;
      body << in.rdbuf();
      v.push_back({sHeaders + body.str(), sHeaders.size()});
    };
    for (const char* name : kSamplePages) read(std::string(HX_SOURCE_DIR) + "/samples/pages/" + name);
    v.push_back({sHeaders + GeneratedPage(), sHeaders.size()});
    for (size_t i = kGeneratedPage + 1; i < PageNames().size(); ++i) read(PageNames()[i]);
    return v;
  }();
  return pages[static_cast<size_t>(nIndex)];
}

size_t PageBytes(const SamplePage& page) { return page.sBuffer.size() - page.nHtmlBegin; }

size_t HeapInUse() { return mallinfo2().uordblks; }

// The work compared, on our side.
enum Work { TagParse = 0, ElementTree = 1, PageForm = 2 };
const char* const kWorkNames[] = {"tag parse", "full parse + element tree", "page-form DOM work"};

size_t TagParseOf(CSource& source) {
  size_t nAttributes = 0;
  for (CTag* pTag : source.fullSequentialParse()) {
    CAttributes* pAttributes = pTag->parseAttributes();
    if (pAttributes != nullptr) nAttributes += pAttributes->size();
  }
  return nAttributes;
}

size_t ElementTreeOf(CSource& source) {
  size_t nElements = 0;
  for (CTag* pTag : source.fullSequentialParse()) {
    if (pTag->isStartTag() && static_cast<CStartTag*>(pTag)->getElement() != nullptr) ++nElements;
  }
  return nElements + source.getChildElements().size();
}

// What a typical page form does: the DOM over the host's record, a full
// parse, HEAD and BODY, ten lookups by id and tag name, five edits recorded
// into an instruction list.
size_t PageFormOf(const SamplePage& page) {
  CCommonPointers record;
  record[CCommonPointers::FirstByte] = reinterpret_cast<uintptr_t>(page.sBuffer.data());
  record[CCommonPointers::LastByte] = reinterpret_cast<uintptr_t>(page.sBuffer.data() + page.sBuffer.size() - 1);
  record[CCommonPointers::HtmlBegin] = reinterpret_cast<uintptr_t>(page.sBuffer.data() + page.nHtmlBegin);
  CBufferInstructionList list;
  CDOMSource dom(&record);
  dom.getSourcePtr()->fullSequentialParse();
  const CDOMElement& head = dom.getHead();
  const CDOMElement& body = dom.getBody();
  size_t nFound = 0;
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
  return nFound + list.size();
}

// Our work on the page. With pnBytesInUse (an untimed run: reading the
// heap's figures is slow) it gets the heap the work holds when done.
size_t OurWork(Work work, const SamplePage& page, size_t* pnBytesInUse = nullptr) {
  if (work == PageForm) return PageFormOf(page);
  const size_t nBefore = pnBytesInUse != nullptr ? HeapInUse() : 0;
  CSource source(page.sBuffer.data(), page.nHtmlBegin, page.sBuffer.size());
  const size_t n = work == TagParse ? TagParseOf(source) : ElementTreeOf(source);
  if (pnBytesInUse != nullptr) *pnBytesInUse = HeapInUse() - nBefore;
  return n;
}

size_t Libxml2Work(const SamplePage& page, size_t* pnBytesInUse = nullptr) {
  const size_t nBefore = pnBytesInUse != nullptr ? HeapInUse() : 0;
  htmlDocPtr pDoc = htmlReadMemory(page.sBuffer.data() + page.nHtmlBegin, static_cast<int>(PageBytes(page)), nullptr,
                                   "UTF-8", HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                                HTML_PARSE_NONET);
  if (pnBytesInUse != nullptr) *pnBytesInUse = HeapInUse() - nBefore;
  const size_t n = pDoc != nullptr ? 1 : 0;
  xmlFreeDoc(pDoc);
  return n;
}

// CPU time of the calling thread: on a machine shared with other work it
// counts only what this thread did.
double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Each iteration runs our work kRounds times, then libxml2's kRounds times:
// the allocator's clean-up after one side's frees then falls mostly on that
// side, and both see the same load.
constexpr int kRounds = 4;

void BM_VersusLibxml2(benchmark::State& state) {
  const SamplePage& page = Page(static_cast<int>(state.range(0)));
  const auto work = static_cast<Work>(state.range(1));
  double dOurs = 0, dTheirs = 0;
  size_t nOurBytes = 0, nTheirBytes = 0;
  size_t nResult = OurWork(work, page, &nOurBytes) + Libxml2Work(page, &nTheirBytes);
  for (auto _ : state) {
    const double t0 = ThreadSeconds();
    for (int i = 0; i < kRounds; ++i) nResult += OurWork(work, page);
    const double t1 = ThreadSeconds();
    for (int i = 0; i < kRounds; ++i) nResult += Libxml2Work(page);
    dOurs += t1 - t0;
    dTheirs += ThreadSeconds() - t1;
  }
  benchmark::DoNotOptimize(nResult);
  const double dMB = static_cast<double>(PageBytes(page)) * static_cast<double>(state.iterations() * kRounds) / 1e6;
  state.counters["ours_MBps"] = dMB / dOurs;
  state.counters["libxml2_MBps"] = dMB / dTheirs;
  state.counters["ratio"] = dTheirs / dOurs;
  if (work != PageForm) {
    state.counters["ours_B_per_B"] = static_cast<double>(nOurBytes) / static_cast<double>(PageBytes(page));
    state.counters["libxml2_B_per_B"] = static_cast<double>(nTheirBytes) / static_cast<double>(PageBytes(page));
  }
  state.SetLabel(PageNames()[static_cast<size_t>(state.range(0))] + ", " + kWorkNames[work]);
}

void BM_HexmoorFullParse(benchmark::State& state) {
  const SamplePage& page = Page(static_cast<int>(state.range(0)));
  size_t nAttributes = 0;
  for (auto _ : state) {
    CSource source(page.sBuffer.data(), page.nHtmlBegin, page.sBuffer.size());
    nAttributes = TagParseOf(source);
    benchmark::DoNotOptimize(nAttributes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(PageBytes(page)));
  state.SetLabel(PageNames()[static_cast<size_t>(state.range(0))]);
}

void BM_Libxml2HtmlReadMemory(benchmark::State& state) {
  const SamplePage& page = Page(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(Libxml2Work(page));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(PageBytes(page)));
  state.SetLabel(PageNames()[static_cast<size_t>(state.range(0))]);
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

void VersusArgs(benchmark::internal::Benchmark* b) {
  const int nPages = static_cast<int>(PageNames().size());
  for (int nWork = 0; nWork < 3; ++nWork) {
    for (int nPage = 0; nPage < nPages; ++nPage) b->Args({nPage, nWork});
  }
}

}  // namespace

BENCHMARK(BM_HexmoorDeepUnclosed)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
// Eight threads at once on the long page and on the typical one.
BENCHMARK(BM_HexmoorFullParse)->Arg(0)->Arg(2)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_Libxml2HtmlReadMemory)->Arg(0)->Arg(2)->Threads(1)->Threads(8)->UseRealTime();

int main(int argc, char** argv) {
  xmlInitParser();
  // Page files are taken out before the benchmark library reads its flags.
  int nKept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]).starts_with("--")) {
      argv[nKept++] = argv[i];
    } else {
      PageNames().push_back(argv[i]);
    }
  }
  argc = nKept;
  // Registered here: the pages named on the command line are known only now.
  benchmark::RegisterBenchmark("BM_VersusLibxml2", BM_VersusLibxml2)->Apply(VersusArgs);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  xmlCleanupParser();
  return 0;
}
