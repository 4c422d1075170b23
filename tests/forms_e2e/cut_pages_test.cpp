// Pages the server cut in the middle of a tag, through the host: none is
// rewritten, whatever the form and wherever its edits would land.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "forms_e2e/applied_page.h"
#include "support/temp_dir.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// An attachment's text and links end in the middle of one of its tags (an
// open attribute value, a name, between attributes, an end tag): the menu,
// scripts and variables a form appends would land inside that tag.
TEST(CutPages, PageEndingInsideATagGoesOutAsReceived) {
  const struct {
    const char* request;
    const char* cutAfter;
  } cuts[] = {
      {"premium_read_item.txt", "title=\"Ada"},
      {"premium_read_item.txt", "_attid=\"RgAAAAB2cE1kAAAN\" _q"},
      {"premium_read_item.txt", "<span id=\"spnAtmt\" tabindex=\"-1\" _level=\"3\" _attid=\"RgAAAAB2cE1kAAAK\"><img "},
      {"basic_read_item.txt", "onclick=\"return onClkEmbItem('RgAAAACk3TdwJ2EAAAAA','BAAA"},
      {"basic_read_item.txt", "Plan.docx</a"},
      {"premium_document_view.txt", "<table id=\"tblIL\" class=\"lvTbl\" cellpadding=\"0\" cellspacing=\"0\">\n<col"},
  };
  const std::string samples = std::string(HX_SOURCE_DIR) + "/samples/";
  const std::regex pageLine("@response-page ../pages/(\\S+)");
  CTempDir dir;
  for (const auto& cut : cuts) {
    SCOPED_TRACE(std::string(cut.request) + " cut after " + cut.cutAfter);
    const std::string request = ReadFile(samples + "requests/" + cut.request);
    std::smatch page;
    ASSERT_TRUE(std::regex_search(request, page, pageLine));
    const std::string whole = ReadFile(samples + "pages/" + page[1].str());
    const size_t at = whole.find(cut.cutAfter);
    ASSERT_NE(std::string::npos, at);
    const std::string cutPage = whole.substr(0, at + std::string(cut.cutAfter).size());
    const std::string path = dir.Write("cut.html", cutPage);
    const AppliedPage applied = RunRequestText(std::regex_replace(request, pageLine, "@response-page " + path),
                                               std::string("cut_") + cut.request);
    EXPECT_EQ(HxAnswerKind::ServerResponse, applied.outcome.answerKind);
    EXPECT_EQ(cutPage, applied.page);
  }
}

}  // namespace
