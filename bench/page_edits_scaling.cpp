// Premium read pages of 1,000, 4,000 and 16,000 attachments through the real
// module as the filter host drives it, side by side, each with its time per
// attachment: a sender chooses how many attachments a message has, so the
// page form's work (and the edits it records) must grow no faster than the
// attachments. The run ends with each page's time per attachment against the
// smallest page's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "host/hx_host.h"
#include "host/hx_module.h"
#include "host/hx_request.h"
#include "bench/staged_host.h"

namespace {

constexpr int kSizes[] = {1000, 4000, 16000};

HxHost& Host() { return StagedHost(); }

// The sample read page's five kinds of attachment (allowed with OWA's
// anchor, quotes in the name, force-save without anchor, blocked extension,
// embedded message), repeated with identifiers of their own.
std::string Attachment(int i) {
  const std::string id = "RgAAAAB2cE1k" + std::to_string(i);
  const std::string link = "<a id=\"lnkAtmt\" href=\"attachment.ashx?attach=1&amp;id=RgAAAAB2cE1k&amp;attid0=" + id +
                           "&amp;attcnt=1\" target=\"_blank\" title=\"";
  switch (i % 5) {
    case 0:
      return "<span id=\"spnAtmt\" tabindex=\"-1\" _level=\"3\" _attid=\"" + id + "\"><img class=\"sI\" src=\"p.gif\">" +
             link + "Figures " + id + ".pdf\">Figures " + id + ".pdf</a>&#x200E;<span class=\"wvsn\"> (120 KB)" +
             "<a id=\"wvLnk\" href=\"#\" onclick=\"wvAtt(0);\">Open as Web Page</a></span></span>;\n";
    case 1:
      return "<span id=\"spnAtmt\" tabindex=\"-1\" _level=\"3\" _attid=\"" + id + "\"><img class=\"sI\" src=\"x.gif\">" +
             link + "Ada's &quot;" + id + "&quot;.xls\">Ada's &quot;" + id +
             "&quot;.xls</a>&#x200E;<span class=\"wvsn\"> (64 KB)</span></span>;\n";
    case 2:
      return "<span id=\"spnAtmt\" tabindex=\"-1\" _level=\"2\" _attid=\"" + id +
             "\"><img class=\"sI\" src=\"d.gif\">Budget " + id + ".docx&#x200E;<span class=\"wvsn\"> (33 KB)</span></span>;\n";
    case 3:
      return "<span id=\"spnAtmt\" tabindex=\"-1\" _level=\"3\" _attid=\"" + id + "\"><img class=\"sI\" src=\"e.gif\">" +
             link + "setup" + id + ".exe\">setup" + id + ".exe</a>&#x200E;<span class=\"wvsn\"> (2 MB)</span></span>;\n";
    default:
      return "<span id=\"spnAtmt\" tabindex=\"-1\" _level=\"3\" _attid=\"" + id + "\" _qs=\"ae=Item&amp;t=IPM.Note&amp;id=" +
             id + "\"><img class=\"sI\" src=\"m.gif\"><a id=\"lnkAtmt\" href=\"#\" title=\"Re: " + id + "\">Re: " + id +
             "</a></span>\n";
  }
}

std::string ReadPage(int attachments) {
  std::string page =
      "<!-- OwaPage = ASP.forms_premium_readmessage_aspx -->\n<html dir=\"ltr\">\n<head>\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n<title>Many attachments</title>\n"
      "<link type=\"text/css\" rel=\"stylesheet\" href=\"/owa/8.1.393.1/themes/base/premium.css\">\n"
      "<script type=\"text/javascript\" src=\"8.1.393.1/scripts/premium/uglobal.js\"></script>\n</head>\n"
      "<body class=\"rdFrmBody\">\n<div id=\"divAtch\" class=\"atchWll\">\n";
  for (int i = 0; i < attachments; ++i) page += Attachment(i);
  page += "</div>\n<div id=\"divBdy\" class=\"bdy\"><p>Hello team,</p></div>\n</body>\n</html>\n";
  return page;
}

HxRequest ReadItemRequest(int attachments) {
  HxRequest request = ReadItemRequestFrom("127.0.0.1", "");
  request.responsePage = ReadPage(attachments);
  return request;
}

void BM_PremiumReadPage(benchmark::State& state) {
  const int attachments = static_cast<int>(state.range(0));
  const HxRequest request = ReadItemRequest(attachments);
  for (auto _ : state) {
    HxOutcome outcome = Host().Run(request);
    // At least one edit per attachment, or the form did not do its work.
    if (!outcome.ok || !outcome.instructionsSubmitted || outcome.submitResult != 0 ||
        outcome.instructionCount < static_cast<unsigned long long>(attachments)) {
      state.SkipWithError("the page's edits were not applied");
      break;
    }
    benchmark::DoNotOptimize(outcome);
  }
  state.counters["per_attachment"] =
      benchmark::Counter(static_cast<double>(attachments), benchmark::Counter::kIsIterationInvariantRate |
                                                               benchmark::Counter::kInvert);
}
BENCHMARK(BM_PremiumReadPage)->Arg(kSizes[0])->Arg(kSizes[1])->Arg(kSizes[2])->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The usual table, then each page's time per attachment against the
// smallest page's (1.00 or less: no slower per attachment).
class PerAttachmentReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      const auto counter = run.counters.find("per_attachment");
      if (counter != run.counters.end()) m_perAttachment[run.run_name.args] = counter->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto smallest = m_perAttachment.find(std::to_string(kSizes[0]));
    if (smallest == m_perAttachment.end()) return;
    for (int size : kSizes) {
      const auto it = m_perAttachment.find(std::to_string(size));
      if (it == m_perAttachment.end()) continue;
      std::printf("%6d attachments: %8.2f us per attachment, %.2f x the %d-attachment page's\n", size, it->second * 1e6,
                  it->second / smallest->second, kSizes[0]);
    }
  }

 private:
  std::map<std::string, double> m_perAttachment;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  PerAttachmentReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
