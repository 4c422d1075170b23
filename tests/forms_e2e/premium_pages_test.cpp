#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "forms/form_page.h"
#include "forms/premium/pl_premium_form_read_item.h"
#include "forms_e2e/applied_page.h"
#include "forms_e2e/browser_check.h"
#include "support/temp_dir.h"
#include "support/file_text.h"

namespace {

const std::string kGoldenDir = std::string(HX_SOURCE_DIR) + "/tests/forms_e2e/golden/";

const char* const kPremiumRequests[] = {
    "premium_read_item.txt",          "premium_edit_item.txt",
    "premium_attach_file_dialog.txt", "premium_attach_file_dialog_answer.txt",
    "premium_delete_attachment.txt",  "premium_document_view.txt",
    "premium_document_view_sort.txt", "premium_document_view_refresh.txt",
};

// Every Premium sample goes out exactly as its golden page. With
// HX_UPDATE_GOLDEN set the goldens are written instead (look at the diff).
TEST(PremiumPages, AppliedPagesMatchTheirGoldens) {
  const bool update = std::getenv("HX_UPDATE_GOLDEN") != nullptr;
  for (const char* request : kPremiumRequests) {
    SCOPED_TRACE(request);
    const AppliedPage applied = RunSampleRequest(request);
    ASSERT_FALSE(applied.page.empty());
    EXPECT_NE(applied.outcome.answer.find("X-QLProduct: PL_HX"), std::string::npos);
    const std::string golden = kGoldenDir + std::filesystem::path(request).stem().string() + ".html";
    if (update) {
      std::ofstream(golden, std::ios::binary | std::ios::trunc) << applied.page;
      continue;
    }
    EXPECT_EQ(ReadFile(golden), applied.page) << "compare " << applied.path << " with " << golden;
  }
}

// What the browser builds from the applied pages: the product's attributes,
// links, menus and variables where the product's scripts look for them.
TEST(PremiumPages, BrowserSeesTheProductsMarkup) {
  const struct {
    const char* request;
    BrowserExpectations expected;
  } pages[] = {
      {"premium_read_item.txt",
       {{"//span[@id='spnAtmt'][@_qlplattfilename='Figures Q3.pdf'][@_qlplopenvisible='1']"
         "[@oncontextmenu='return false;']/a[contains(@onclick,'f_viewAttachment')]/img",
         "//span[@_qlplattfilename='Budget 2010.docx']/a[@id='lnkAtmt'][@_e_onclick='atLnk(1);']/img[@class='sI']",
         "//span[@_qlplattfilename='setup.exe']/a[contains(@onclick,'f_ShowExtBlockedMsg')]",
         "//span[@_qlplembitematt='1']/a[@id='lnkAtmt']/img[@id='idPl_Bin_Emb']",
         "//div[@id='divQLPLCM']/div[@id='divQLPLS1']/following-sibling::div[@id='divQLPLText']",
         "//head/script[@src='QLScripts/Pellora/1.9/qlcsmql_plHelper.js']",
         "//head/script[@src='8.1.393.1/scripts/premium/qlcsm-uglobal.js']"},
        {"//a[@id='wvLnk']", "//span[@_qlplembitematt='0']/a[@id='lnkAtmt'][@title]"},
        {{"g_szQLPLCookie", "cadata=\"4QkJ7w8h2kVxE2C1rMZ0oYw==\""},
         {"g_szQLPLItemIDH", "null"},
         {"g_szQLPLOWABuild", "8.1.393.1"},
         {"g_szQLCheckLang", "en"}}}},
      {"premium_edit_item.txt",
       {{"//div[@class='tbBtn']/a[not(@id)][not(@href)]/img[contains(@style,'opacity=35')]",
         "//span[@_qlplattfilename='Figures Q3.pdf'][contains(@onmousedown,'_e_ondblclick')]"},
        {"//a[@id='attachfile']"},
        {{"g_szQLPLItemIDH", "null"}}}},
      {"premium_attach_file_dialog.txt",
       {{"//head/script[@src='8.1.393.1/scripts/premium/qlcsm-dattach.js']"},
        {},
        {{"g_Extensions", "exe;com;bat;cmd;vbs;js;msi"}}}},
      {"premium_attach_file_dialog_answer.txt",
       {{"//div[@id='divResult']/span[@_qlplattfilename='cleanup.bat']/a[@id='lnkAtmt']"}, {}, {}}},
      {"premium_document_view.txt",
       {{"//a[@_qlplfilename='Plan 2011.docx'][@t='17']", "//td[@id='_QLPLViewDocTD']/a[contains(@onclick,'\"wss\"')]",
         "//td[@id='_QLPLBlockedDocTD']",
         "//div[@id='divVwm']/div[@id='divQLPLRich']/following-sibling::div[@id='divS']",
         "//table[@id='tblH']//tr/td[1][@style='width:24;']"},
        {},
        {{"g_iQLPLEnableOWAWebReady", "0"}}}},
  };
  for (const auto& p : pages) {
    SCOPED_TRACE(p.request);
    const AppliedPage applied = RunSampleRequest(p.request);
    ASSERT_FALSE(applied.path.empty());
    ExpectPageInBrowser(applied.path, p.expected);
  }
}

const std::string kReadRequestHead =
    "@client-address 127.0.0.1\n@criteria 1\n@user-account aclerk\n@user-domain EXAMPLE\n@response-page %PAGE%\n"
    "GET /owa/?ae=Item&t=IPM.Note&id=RgAAAAB2cE1k HTTP/1.1\nHost: mail.example.com\n"
    "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1; Trident/4.0)\n";

std::string ReadRequest(const std::string& page, const std::string& cookie) {
  std::string text = kReadRequestHead;
  text.replace(text.find("%PAGE%"), 6, page);
  return text + "Cookie: " + cookie + "\n";
}

// A cookie written to end the string and the script block stays a string.
TEST(PremiumPages, HostileCookieCannotLeaveItsScript) {
  const std::string cookie = "cadata=x'\\</script><script>document.title='owned'</script>";
  const AppliedPage applied =
      RunRequestText(ReadRequest("../pages/premium_read_item.html", "a=1; " + cookie), "premium_hostile_cookie");
  ASSERT_FALSE(applied.path.empty());
  BrowserExpectations expected;
  expected.variables = {{"g_szQLPLCookie", cookie}};
  expected.absentXpaths = {"//title[.='owned']"};
  ExpectPageInBrowser(applied.path, expected);
}

// A line break cannot travel in a request header, but the cookie value is
// the request's: written by the form itself, it stays one string as well.
TEST(PremiumPages, CookieWithLineBreakStaysOneString) {
  CPLHXGeneralSettings::getInstance()->LoadScriptVariables();
  formtest::FormPage page(ReadFile(std::string(HX_SOURCE_DIR) + "/samples/pages/premium_read_item.html"), 1);
  page.Record().m_spRequestInfo->m_mapParams["id"] = "RgAAAAB2cE1k";
  const std::string firstLine = "cadata=x'\\</script><script>document.title='owned'</script>";
  page.Record().m_pMyOwnContext->m_sCadataCookie = firstLine + "\r\n<!--";
  const auto ctx = page.Context();
  CPLPremiumFormReadItem form(ctx.get(), 1);
  ASSERT_TRUE(form.IsInstanceValid());
  ASSERT_EQ(0u, form.Process());
  CTempDir dir;
  const BrowserPage loaded = LoadInBrowser(dir.Write("cookie.html", page.Applied()), {"g_szQLPLCookie"});
  ASSERT_TRUE(loaded.loaded) << loaded.error;
  EXPECT_TRUE(loaded.syntaxErrors.empty()) << loaded.syntaxErrors.front();
  EXPECT_FALSE(DomMatches(loaded.dom, "//title[.='owned']"));
  // The probe reads values line by line: the part before the break.
  EXPECT_EQ(loaded.variables.at("g_szQLPLCookie"), firstLine + "\r");
}

// Markup the samples do not have: capitals, unquoted values, the well inside
// a table, tags inside the file name, a self-closed tag, CR LF line ends.
TEST(PremiumPages, PageOfAnotherShapeIsRewrittenToo) {
  CTempDir dir;
  const std::string page =
      dir.Write("odd.html",
                "<!-- OWAPAGE = ASP.forms_premium_readpost_aspx -->\r\n<HTML><HEAD>\r\n"
                "<LINK REL=stylesheet TYPE=TEXT/CSS HREF=/owa/14.1.218.13/themes/Blue/owafont.css>\r\n"
                "<SCRIPT SRC=14.1.218.13/scripts/premium/UGLOBAL.JS></SCRIPT></HEAD>\r\n"
                "<BODY><TABLE><TR><TD><DIV ID=divAtch>\r\n"
                "<SPAN ID=spnAtmt _LEVEL=3 _ATTID=Q1&amp;2><BR/><A ID=lnkAtmt HREF=a.ashx TITLE=t>"
                "<B>Minutes</B> 2010.TXT</A>&#x200E;<SPAN CLASS=wvsn>(1 KB)</SPAN></SPAN>\r\n"
                "</DIV></TD></TR></TABLE></BODY></HTML>\r\n");
  const AppliedPage applied = RunRequestText(ReadRequest(page, "cadata=abc"), "premium_other_shape");
  ASSERT_FALSE(applied.path.empty());
  EXPECT_NE(applied.outcome.answer.find("_QLPLAttFilename=\"Minutes 2010.TXT\""), std::string::npos) << applied.page;
  BrowserExpectations expected;
  expected.xpaths = {
      "//td/div[@id='divAtch']/span[@_qlplattfilename='Minutes 2010.TXT']/a[contains(@onclick,'\"Q1&2\"')]",
      "//head/script[@src='14.1.218.13/scripts/premium/qlcsm-UGLOBAL.JS']"};
  expected.variables = {{"g_szQLPLOWABuild", "14.1.218.13"}, {"g_szQLPLCurrentOWATheme", "Blue"}};
  ExpectPageInBrowser(applied.path, expected);
}

}  // namespace
