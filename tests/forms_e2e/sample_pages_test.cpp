#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "forms_e2e/applied_page.h"
#include "forms_e2e/browser_check.h"
#include "support/temp_dir.h"

namespace {

// Every sample request runs through the host; the page that goes to the
// client loads in the browser without a script syntax error.
TEST(SamplePages, EveryAppliedPageLoadsInTheBrowser) {
  std::vector<std::string> requests;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(HX_SOURCE_DIR) + "/samples/requests")) {
    if (entry.path().extension() == ".txt") requests.push_back(entry.path().filename().string());
  }
  std::sort(requests.begin(), requests.end());
  ASSERT_FALSE(requests.empty());
  for (const std::string& request : requests) {
    const AppliedPage applied = RunSampleRequest(request);
    if (applied.page.empty()) continue;
    SCOPED_TRACE(request);
    ExpectPageInBrowser(applied.path);
  }
}

// The check itself: syntax errors fail, missing scripts and the errors they
// cause do not; the DOM and the variables are what the browser made of them.
TEST(SamplePages, BrowserCheckSeesWhatTheBrowserSees) {
  CTempDir dir;
  const std::string good = dir.Write(
      "good.html",
      "<html><head><script src=\"missing/uglobal.js\"></script>"
      "<script language='javascript'>\r\n//QUENLITH PELLORA\r\nvar g_szOpenText = \"Op&quot;en\";\r\n"
      "\r\n//QUENLITH PELLORA\r\n</script></head>"
      "<body onload=\"Load();\"><span id=spnAtmt style=\"text-decoration: underline\"><a href='x'>a</a></span>"
      "<script>undefinedFunction();</script></body></html>");
  const BrowserPage page = LoadInBrowser(good, {"g_szOpenText", "g_szAbsent"});
  ASSERT_TRUE(page.loaded) << page.error;
  EXPECT_TRUE(page.syntaxErrors.empty());
  EXPECT_EQ(page.variables.at("g_szOpenText"), "Op&quot;en");
  EXPECT_EQ(page.variables.at("g_szAbsent"), "<undefined>");
  EXPECT_TRUE(DomMatches(page.dom, "//span[@id='spnAtmt'][@style='text-decoration: underline']/a[@href='x']"));
  EXPECT_TRUE(DomMatches(page.dom, "count(//head/script[@src='missing/uglobal.js']) = 1"));
  EXPECT_FALSE(DomMatches(page.dom, "//span[@id='spnAtmt']/span"));

  // A handler, and a javascript: link once percent-decoded, are compiled too.
  const std::string broken = dir.Write("broken.html",
                                       "<html><body><script>var a = ;</script><span onclick='f(\"a)'></span>"
                                       "<a href='javascript:f(\"a%22b\")'>x</a><a href='javascript:f(\"a%2522\")'>y</a>"
                                       "</body></html>");
  const BrowserPage bad = LoadInBrowser(broken);
  ASSERT_TRUE(bad.loaded) << bad.error;
  EXPECT_EQ(bad.syntaxErrors.size(), 3u);

  // Exercised: the link is clicked and the handler fired with the recorders
  // in place; the sentinel sees the handler's write.
  const std::string lively = dir.Write("lively.html",
                                       "<html><head><title>t</title></head><body>"
                                       "<a href='javascript:f_viewAttachment(\"a%2522\",1);'>x</a>"
                                       "<span onmousedown='if(event.button==2)document.title=\"w\"'>y</span>"
                                       "</body></html>");
  const BrowserPage run = ExerciseInBrowser(lively);
  ASSERT_TRUE(run.loaded) << run.error;
  EXPECT_TRUE(run.exercised);
  EXPECT_TRUE(HasCall(run, "f_viewAttachment", {"a%22", "1"}));
  EXPECT_EQ(run.sentinelWrites, std::vector<std::string>{"\"w\""});
}

}  // namespace
