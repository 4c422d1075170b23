#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "forms_e2e/applied_page.h"
#include "forms_e2e/browser_check.h"
#include "support/file_text.h"

namespace {

const std::string kGoldenDir = std::string(HX_SOURCE_DIR) + "/tests/forms_e2e/golden/";

// The applied page must equal its golden copy byte for byte. With
// HX_UPDATE_GOLDEN=1 the golden copy is rewritten instead.
void ExpectGolden(const AppliedPage& applied, const std::string& name) {
  const std::string golden = kGoldenDir + name;
  if (std::getenv("HX_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(golden, std::ios::binary | std::ios::trunc) << applied.page;
    return;
  }
  EXPECT_EQ(ReadFile(golden), applied.page) << "applied page " << applied.path << " differs from " << golden;
}

struct BasicSample {
  const char* request;
  const char* golden;
  BrowserExpectations browser;
};

// Each Basic sample page as the client gets it: the golden page, and what the
// browser makes of it. The note's anchor starts right after its span, so its
// binocular link must stand beside the new anchor, not inside it.
TEST(BasicPages, AppliedPagesMatchTheirGoldenCopiesAndLoadInTheBrowser) {
  const std::string menuAnchor = "//span[@id='spnAtmt']/a[img[@src='QLScripts/Pellora/1.9/Find.GIF']]";
  const BasicSample samples[] = {
      {"basic_read_item.txt",
       "basic_read_item.html",
       {{menuAnchor + "/following-sibling::a[1][contains(@onmousedown,'BAAAAAAAAAA2')][contains(@onmousedown,\"O'Brien\")]",
         "//span[@level='1'][@style='text-decoration: underline']/a[contains(@href,'f_ShowExtBlockedMsg()')]",
         "//div[@id='idqlplRMENU']", "count(//span[@class='wvsn']) = 0"},
        {"//a//a", "//a[@id='lnkAtmt'][@href!='#']"},
        {{"g_sQLPLItemID", "RgAAAACk3TdwJ2EAAAAA"},
         {"g_szQLPLCookie", "cadata=\"7HfQ2zLkP0a9x1WcV4nB3Q==\""},
         {"g_szQLPLOWABuild", "8.1.240.5"}}}},
      {"basic_edit_item.txt",
       "basic_edit_item.html",
       {{menuAnchor, "//td/img[contains(@style,'opacity=40')]"},
        {"//a//a", "//a[@id='lnkHdrattachfile']", "//a[contains(@onclick,'attachfile')]"},
        {{"g_sQLPLItemID", "RgAAAACk3TdwJ2EAAAAB"}, {"g_sQLPLItemIDHash", "null"}}}},
      {"basic_attachment_manager.txt",
       "basic_attachment_manager.html",
       {{menuAnchor, "//head/script[contains(@src,'/qlcsm-attchmgr.js')]"},
        {"//a//a"},
        {{"g_sQLPLItemID", "RgAAAACk3TdwJ2EAAAAB"}, {"g_szExtBlocked", "This file type is blocked."}}}},
      {"basic_scheduling_tab.txt",
       "basic_scheduling_tab.html",
       {{"//td/img[contains(@style,'opacity=40')]"}, {"//a[@id='lnkHdrattachfile']"}, {}}},
  };
  for (const BasicSample& sample : samples) {
    SCOPED_TRACE(sample.request);
    const AppliedPage applied = RunSampleRequest(sample.request);
    ASSERT_FALSE(applied.page.empty());
    ExpectGolden(applied, sample.golden);
    ExpectPageInBrowser(applied.path, sample.browser);
  }
}

// A settings set whose block level is 2 removes the compose page's toolbar
// cell with its divider, and the content link.
TEST(BasicPages, AttachButtonsRemovedAtBlockLevelTwo) {
  std::string description = ReadFile(std::string(HX_SOURCE_DIR) + "/samples/requests/basic_edit_item.txt");
  const size_t at = description.find("@criteria 2");
  ASSERT_NE(std::string::npos, at);
  description.replace(at, 11, "@criteria 3");
  const AppliedPage applied = RunRequestText(description, "basic_edit_item_buttons_removed");
  EXPECT_EQ(std::string::npos, applied.page.find("lnkHdrattachfile"));
  EXPECT_EQ(std::string::npos, applied.page.find("attach.gif"));
  EXPECT_EQ(std::string::npos, applied.page.find("onClkTb('attachfile')"));
  EXPECT_EQ(applied.page.find("class=\"dv\""), applied.page.rfind("class=\"dv\"")) << "one divider stays";
  EXPECT_NE(std::string::npos, applied.page.find("onClkTb('checknames')"));
  EXPECT_NE(std::string::npos, applied.page.find("<td class=\"hdtxt\"></td>"));
  ExpectPageInBrowser(applied.path, {{"//a[contains(@onmousedown,'BAAAAAAAAAB1')]"}, {"//a//a"}, {}});
}

// A Mac client gets the anchor's and the menu's handlers in its own order
// and the Mac script, and its cookie, whatever it holds, stays one script
// string; a request without the cached-script prefix gets no
// edit at all, as the product's paths could not be built.
TEST(BasicPages, MacClientOrderAndMissingScriptPrefix) {
  const std::string description = ReadFile(std::string(HX_SOURCE_DIR) + "/samples/requests/basic_read_item.txt");
  std::string mac = description;
  const size_t ua = mac.find("User-Agent: ");
  mac.replace(ua, mac.find('\n', ua) - ua, "User-Agent: Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) Safari/605.1.15");
  // A cookie value that would end the script string stays one string.
  const size_t cookie = mac.find("cadata=");
  mac.replace(cookie, mac.find('\n', cookie) - cookie, "cadata=\"a'b\\\"</script><u>\"");
  const AppliedPage applied = RunRequestText(mac, "basic_read_item_mac");
  EXPECT_NE(std::string::npos, applied.page.find("<a href=\"#\" oncontextmenu=\"return false;\" onclick=\"return "
                                                 "f_QLPLOnClick(event);\" onmousedown='"));
  EXPECT_NE(std::string::npos, applied.page.find("name=\"idqlplRMENU\" onClick=\"f_QLPLAttAction(event);\" oncontextmenu"));
  EXPECT_NE(std::string::npos, applied.page.find("ql_plBasicMac.js"));
  ExpectPageInBrowser(applied.path,
                      {{"//div[@id='idqlplRMENU']"}, {"//a//a", "//u"}, {{"g_szQLPLCookie", "cadata=\"a'b\\\"</script><u>\""}}});

  const AppliedPage bare = RunRequestText("@csm-prefix\n" + description, "basic_read_item_no_prefix");
  EXPECT_EQ(ReadFile(std::string(HX_SOURCE_DIR) + "/samples/pages/basic_read_item.html"), bare.page);
}

}  // namespace
