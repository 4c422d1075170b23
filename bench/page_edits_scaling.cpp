// The product's pages (Basic read, Premium read and edit, attachment manager,
// document library) with 1,000, 4,000 and 16,000 repeated units through the
// real module as the filter host drives it, side by side. A sender chooses
// how many attachments a message has and a library how many files it lists,
// so a page form's work (and the edits it records) must grow no faster than
// the units. Each unit of a sample page (an attachment with or without its
// optional parts: WebReady link, size span without one, embedded item,
// blocked file; a row of the attachment manager or the library) is repeated
// alone, for a search that stops at the next unit's part in a mixed page
// runs on to the page's end in a page without that part; the sample's units
// in turn make one more page. The run ends with each page's time per unit
// against the smallest page's of its kind.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "host/hx_host.h"
#include "host/hx_module.h"
#include "host/hx_request.h"
#include "bench/staged_host.h"

namespace {

constexpr int kSizes[] = {1000, 4000, 16000};

HxHost& Host() { return StagedHost(); }

// A sample page and its request, with the lines that repeat in it: each
// line is one unit, labelled in the order the page has them.
struct PageShape {
  const char* pLabel;
  const char* pSample;  // the name in samples/pages and samples/requests
  const char* pUnitLine;  // how a unit's line begins
  std::vector<const char*> vecUnits;
};

const std::vector<PageShape>& Shapes() {
  static const std::vector<PageShape> shapes = {
      {"PremiumRead", "premium_read_item", "<span id=\"spnAtmt\"",
       {"webready_link", "size_span_without_link", "force_save_without_link", "blocked_file", "embedded_item"}},
      {"PremiumEdit", "premium_edit_item", "<span id=\"spnAtmt\"", {"size_span_without_link", "embedded_item"}},
      {"BasicRead", "basic_read_item", "<span id=\"spnAtmt\"",
       {"link", "link_without_image", "embedded_item", "webready_link", "blocked_file"}},
      {"BasicAttachmentManager", "basic_attachment_manager", "<tr><td><input type=\"checkbox\"",
       {"allowed", "force_save"}},
      {"DocumentLibrary", "premium_document_view", "<tr id=\"us\">",
       {"folder", "document", "file_share", "blocked_file", "pdf"}},
  };
  return shapes;
}

std::string ReadText(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    std::exit(1);
  }
  std::string text;
  char buffer[8192];
  for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), file)) > 0;) text.append(buffer, n);
  std::fclose(file);
  return text;
}

// A sample page cut into what comes before its units, the units, and what
// follows them.
struct CutPage {
  std::string head;
  std::vector<std::string> units;
  std::string tail;
};

CutPage Cut(const PageShape& shape) {
  const std::string page = ReadText(std::string(HX_SOURCE_DIR) + "/samples/pages/" + shape.pSample + ".html");
  CutPage cut;
  size_t pos = 0;
  while (pos < page.size()) {
    size_t end = page.find('\n', pos);
    end = end == std::string::npos ? page.size() : end + 1;
    const std::string line = page.substr(pos, end - pos);
    if (line.rfind(shape.pUnitLine, 0) == 0) {
      cut.units.push_back(line);
    } else {
      (cut.units.empty() ? cut.head : cut.tail) += line;
    }
    pos = end;
  }
  if (cut.units.size() != shape.vecUnits.size()) {
    std::fprintf(stderr, "%s: %zu units in the sample, %zu labelled\n", shape.pSample, cut.units.size(),
                 shape.vecUnits.size());
    std::exit(1);
  }
  return cut;
}

// The i-th copy of a unit, with identifiers (attachment, embedded item,
// file, check box) of its own: the number goes after each identifier's
// value, or at the start of a file's name.
std::string Copy(const std::string& unit, int i) {
  static const std::regex ids(R"re((attid0=|_attid="|_qs="[^"]*id=|name="chkAtt" value=")[A-Za-z0-9]*|id="b[^"]*/)re");
  const std::string n = std::to_string(i);
  std::string copy;
  auto last = unit.cbegin();
  for (std::sregex_iterator it(unit.begin(), unit.end(), ids), end; it != end; ++it) {
    copy.append(last, (*it)[0].second).append(n);
    last = (*it)[0].second;
  }
  return copy.append(last, unit.cend());
}

// nUnit: the unit repeated alone; -1: the sample's units in turn.
std::string Page(const CutPage& cut, int nUnit, int units) {
  std::string page = cut.head;
  for (int i = 0; i < units; ++i) {
    page += Copy(cut.units[nUnit < 0 ? i % cut.units.size() : nUnit], i);
  }
  return page + cut.tail;
}

HxRequest Request(const PageShape& shape, const std::string& page) {
  const std::string dir = std::string(HX_SOURCE_DIR) + "/samples/requests";
  const std::string description = ReadText(dir + "/" + shape.pSample + ".txt");
  HxRequest request;
  std::string error;
  if (!ParseRequestDescription(description, dir, request, error)) {
    std::fprintf(stderr, "bad description %s: %s\n", shape.pSample, error.c_str());
    std::exit(1);
  }
  request.responsePage = page;
  return request;
}

bool EditsApplied(const HxOutcome& outcome) {
  return outcome.ok && outcome.instructionsSubmitted && outcome.submitResult == 0;
}

// The edits a page of n units gets, from pages of one and two of each unit:
// what the form records per unit must not get lost on a large page. More
// than any page gets when those small pages fail.
unsigned long long ExpectedEdits(const PageShape& shape, const CutPage& cut, int nUnit, int units) {
  const int kinds = static_cast<int>(cut.units.size());
  std::vector<unsigned long long> perUnit;
  unsigned long long base = 0;
  for (int k = 0; k < kinds; ++k) {
    const HxOutcome one = Host().Run(Request(shape, Page(cut, k, 1)));
    const HxOutcome two = Host().Run(Request(shape, Page(cut, k, 2)));
    if (!EditsApplied(one) || !EditsApplied(two)) return std::numeric_limits<unsigned long long>::max();
    perUnit.push_back(two.instructionCount - one.instructionCount);
    base = one.instructionCount - perUnit.back();
  }
  unsigned long long expected = base;
  for (int i = 0; i < units; ++i) expected += perUnit[nUnit < 0 ? i % kinds : nUnit];
  return expected;
}

void RunPage(benchmark::State& state, const PageShape& shape, const CutPage& cut, int nUnit) {
  const int units = static_cast<int>(state.range(0));
  const HxRequest request = Request(shape, Page(cut, nUnit, units));
  const unsigned long long expected = ExpectedEdits(shape, cut, nUnit, units);
  for (auto _ : state) {
    HxOutcome outcome = Host().Run(request);
    if (!EditsApplied(outcome) || outcome.instructionCount < expected) {
      state.SkipWithError("the page's edits were not applied");
      break;
    }
    benchmark::DoNotOptimize(outcome);
  }
  state.counters["per_unit"] =
      benchmark::Counter(static_cast<double>(units), benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

void RegisterPages() {
  for (const PageShape& shape : Shapes()) {
    const CutPage cut = Cut(shape);
    for (int nUnit = -1; nUnit < static_cast<int>(cut.units.size()); ++nUnit) {
      const std::string name =
          std::string(shape.pLabel) + "/" + (nUnit < 0 ? "sample_units_in_turn" : shape.vecUnits[nUnit]);
      auto* bench = benchmark::RegisterBenchmark(
          name.c_str(), [&shape, cut, nUnit](benchmark::State& state) { RunPage(state, shape, cut, nUnit); });
      for (int size : kSizes) bench->Arg(size);
      bench->Unit(benchmark::kMillisecond)->UseRealTime();
    }
  }
}

// The usual table, then each page's time per unit against the smallest page
// of its kind (1.00 or less: no slower per unit).
class PerUnitReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      const auto counter = run.counters.find("per_unit");
      if (counter != run.counters.end()) {
        m_perUnit[run.run_name.function_name][std::stoi(run.run_name.args)] = counter->second.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& [page, sizes] : m_perUnit) {
      const auto smallest = sizes.begin();
      for (const auto& [size, perUnit] : sizes) {
        std::printf("%-50s %6d units: %8.2f us per unit, %5.2f x the %d-unit page's\n", page.c_str(), size,
                    perUnit * 1e6, perUnit / smallest->second, smallest->first);
      }
    }
  }

 private:
  std::map<std::string, std::map<int, double>> m_perUnit;
};

}  // namespace

int main(int argc, char** argv) {
  RegisterPages();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  PerUnitReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
