// Message bodies whose sender wrote the page's end tag where the browser
// does not read one (an attribute value, a textarea, a script's string),
// through the host and in Chromium beside the page without the module: the
// module's menu goes in before the body's real end, no payload runs and no
// script breaks, on the Basic and Premium read pages.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "forms_e2e/applied_page.h"
#include "forms_e2e/browser_check.h"
#include "support/temp_dir.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void ExpectNothingRuns(const BrowserPage& page, const char* what) {
  EXPECT_TRUE(page.exercised) << what << ": " << page.error;
  EXPECT_TRUE(page.syntaxErrors.empty()) << what << ": " << page.syntaxErrors.front();
  EXPECT_TRUE(page.sentinelWrites.empty()) << what << ": " << page.sentinelWrites.front();
}

TEST(BodyEndPages, TheSendersEndTagIsNoPlaceForTheMenu) {
  const struct {
    const char* request;
    const char* menu;
  } kinds[] = {
      {"basic_read_item.txt", "//div[@id='idqlplRMENU']"},
      {"premium_read_item.txt", "//div[@id='divQLPLCM']"},
  };
  const char* const bodies[] = {
      "<p title=\"x</body><img src=x onerror=pwn(5)>y\">hi</p>",
      "<P TITLE=\"x</BODY><img src=x onerror=pwn(6)>y\">hi</P>",
      "<textarea></body><img src=x onerror=pwn(7)></textarea>",
      "<script>var s = \"</body>\"; pwn.length;</script>",
      "<svg><style><a title=\"</style></body><img src=x onerror=pwn(8)>\"></a></style></svg>",
      "<math><title><a title=\"</title></body><img src=x onerror=pwn(9)>\"></a></title></math>",
  };
  const std::string samples = std::string(HX_SOURCE_DIR) + "/samples/";
  const std::regex pageLine("@response-page ../pages/(\\S+)");
  CTempDir dir;
  for (const auto& kind : kinds) {
    const std::string request = ReadFile(samples + "requests/" + kind.request);
    std::smatch page;
    ASSERT_TRUE(std::regex_search(request, page, pageLine));
    const std::string whole = ReadFile(samples + "pages/" + page[1].str());
    const size_t at = whole.find("<p>Hello team,</p>");
    ASSERT_NE(std::string::npos, at) << kind.request;
    for (const char* body : bodies) {
      SCOPED_TRACE(std::string(kind.request) + " " + body);
      const std::string hostile = whole.substr(0, at) + body + whole.substr(at);
      const std::string path = dir.Write("hostile.html", hostile);
      ExpectNothingRuns(ExerciseInBrowser(path), "without the module");
      const AppliedPage applied = RunRequestText(std::regex_replace(request, pageLine, "@response-page " + path),
                                                 std::string("body_end_") + kind.request);
      ASSERT_EQ(HxAnswerKind::RewrittenPage, applied.outcome.answerKind);
      const BrowserPage shown = ExerciseInBrowser(applied.path);
      ExpectNothingRuns(shown, "with the module");
      EXPECT_TRUE(DomMatches(shown.dom, kind.menu)) << applied.page;
      EXPECT_TRUE(DomMatches(shown.dom, "count(//img[@src='x']) = 0"));
    }
  }
}

}  // namespace
