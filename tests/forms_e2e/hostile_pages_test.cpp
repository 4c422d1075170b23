// Pages whose attachment names, ids and file names a sender chose to break
// out of the markup the forms write: each sample page gets hostile
// attachments in place of its own, goes through the host, and is exercised
// in the browser. Every handler and link must still compile, no payload may
// run (it would write document.title), and each recorder must receive the
// attachment's id exactly and its name as the browser shows it, a double
// quote read as an apostrophe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "forms_e2e/applied_page.h"
#include "forms_e2e/browser_check.h"
#include "forms_e2e/page_spelling.h"
#include "support/temp_dir.h"
#include "support/file_text.h"

namespace {

struct HostileName {
  const char* markup;  // as the page's text spells it
  const char* shown;   // as the browser shows it
};

// Each tries one spelling of a way out of the script string or the
// attribute; a payload that got out sets document.title.
const HostileName kNames[] = {
    {"n1\");document.title=(\"N1.txt", "n1\");document.title=(\"N1.txt"},
    {"n2&#34;);document.title=(&#34;N2.txt", "n2\");document.title=(\"N2.txt"},
    {"n3&#x22;);document.title=(&quot;N3.txt", "n3\");document.title=(\"N3.txt"},
    {"n4%22);document.title=(%22N4.txt", "n4%22);document.title=(%22N4.txt"},
    {"n5');document.title=('N5.txt", "n5');document.title=('N5.txt"},
    {"n6\\\");document.title=(\\\"N6.txt\\", "n6\\\");document.title=(\\\"N6.txt\\"},
    {"n7\tx\ny.txt", "n7\tx\ny.txt"},
    {"n8&lt;/script&gt;&lt;img src=x onerror=document.title=&#39;N8&#39;&gt;.txt",
     "n8</script><img src=x onerror=document.title='N8'>.txt"},
    {"n9\xE2\x80\xA8\");document.title=(\"N9.txt", "n9\xE2\x80\xA8\");document.title=(\"N9.txt"},
    {"n10&QUOT;);document.title=(&quot,N10&bsol;&percnt;22&#0000034;&NewLine;&Tab;.txt",
     "n10\");document.title=(\",N10\\%22\"\n\t.txt"},
    {"n11\" onmouseover=\"document.title='N11'\" x=\".txt", "n11\" onmouseover=\"document.title='N11'\" x=\".txt"},
};

// Attachment ids as the forms read them (decoded).
const char* const kIds[] = {
    "I1\");document.title=(\"I1",
    "I2'><img src=x onerror=document.title='I2'>&quot;",
    "I3\\\");document.title=(\\\"I3\\",
    "I4%22);document.title=(%22I4",
    "I5\t\n\xE2\x80\xA8</script><script>document.title='I5'</script>",
};

std::string IdOf(size_t i) { return kIds[i % std::size(kIds)]; }

void ReplaceOnce(std::string& text, const std::string& what, const std::string& with) {
  const size_t at = text.find(what);
  ASSERT_NE(std::string::npos, at) << what;
  text.replace(at, what.size(), with);
}

std::string BasicSpan(const std::string& itemId, size_t i) {
  return "<span id=\"spnAtmt\" level=\"3\"><img src=\"/owa/8.1.240.5/themes/base/doc.gif\" alt=\"\"> "
         "<a id=\"lnkAtmt\" href=\"attachment.ashx?attach=1&id=" +
         itemId + "&attcnt=1&attid0=" + PercentEncoded(IdOf(i)) + "\" target=\"_blank\">" + kNames[i].markup +
         "</a>&#x200E;(1 KB)</span>";
}

// What the recorders must have received for one attachment: {fn, args}.
using RecorderCalls = std::vector<std::pair<std::string, std::vector<std::string>>>;

// Both Basic forms: the view link and the menu anchor's mouse-down handler.
RecorderCalls BasicCalls(size_t i) {
  return {{"f_viewAttachment", {IdOf(i), ScriptName(kNames[i].shown)}},
          {"f_QLPLOnMouseDown", {IdOf(i), ScriptName(kNames[i].shown)}}};
}

// The hostile document's folder, and its path as the browser reads it.
const char kFolderMarkup[] = "fs01.example.com/d&lt;/script&gt;\\&#34;%22&#39;";
const char kFolderShown[] = "fs01.example.com/d</script>\\\"%22'";

struct PageKind {
  const char* request;     // the sample request whose page is made hostile
  const char* firstLine;   // the page's attachment lines start with this text
  const char* itemIdInput;  // the page's item id input, made hostile too, or null
  std::function<std::string(size_t)> line;  // the hostile line of attachment i
  std::function<RecorderCalls(size_t)> calls;  // what attachment i must have sent
};

const PageKind kKinds[] = {
    {"premium_read_item.txt", "<span id=\"spnAtmt\"", nullptr,
     [](size_t i) {
       return "<span id=\"spnAtmt\" tabindex=\"-1\" _level=\"3\" _attid=\"" + InDoubleQuotes(IdOf(i)) +
              "\"><img class=\"sI\" src=\"8.1.393.1/themes/base/doc.gif\"><a id=\"lnkAtmt\" "
              "href=\"attachment.ashx?attach=1&amp;id=RgAAAAB2cE1k&amp;attcnt=1\" target=\"_blank\">" +
              kNames[i].markup + "</a>&#x200E;<span class=\"wvsn\"> (1 KB)</span></span>;";
     },
     [](size_t i) {
       return RecorderCalls{{"f_viewAttachment", {IdOf(i), ScriptName(kNames[i].shown)}},
                            {"attr", {"_qlplattfilename", kNames[i].shown}}};
     }},
    {"basic_read_item.txt", "<span id=\"spnAtmt\"", nullptr,
     [](size_t i) { return BasicSpan("RgAAAACk3TdwJ2EAAAAA", i) + ";"; }, BasicCalls},
    {"basic_attachment_manager.txt", "<tr><td><input type=\"checkbox\"",
     "<input type=\"hidden\" name=\"hidid\" value=\"RgAAAACk3TdwJ2EAAAAB\">",
     [](size_t i) {
       return "<tr><td><input type=\"checkbox\" name=\"chkAtt\" value=\"" + std::to_string(i) + "\"></td><td>" +
              BasicSpan("RgAAAACk3TdwJ2EAAAAB", i) + "</td></tr>";
     },
     BasicCalls},
    {"premium_document_view.txt", "<tr id=\"us\">", nullptr,
     [](size_t i) {
       return std::string("<tr id=\"us\"><a t=\"18\" id='bfile://") + kFolderMarkup + "/" +
              InSingleQuotes(kNames[i].markup) + "' href=\"#\" onclick=\"return opnDoc(this);\"></a>" +
              "<td class=\"ic\"></td><td>" + kNames[i].markup + "</td><td>2010-10-15</td></tr>";
     },
     [](size_t i) {
       // The file name is what follows the path's last "/".
       const std::string shown = kNames[i].shown;
       const std::string file = shown.substr(shown.rfind('/') + 1);
       return RecorderCalls{
           {"f_viewAttachment", {std::string("file://") + kFolderShown + "/" + shown, ScriptName(file), "unc"}},
           {"attr", {"_qlplfilename", file}}};
     }},
};

// An item id the form writes as the page spells it (no apostrophe: it sits
// in a single-quoted attribute).
const char kHostileItemId[] = "R\"+(document.title=\"T\")+\"</script><script>document.title=\"T2\"</script>";

// The sample page with the hostile attachments in place of its own lines.
std::string HostilePage(const PageKind& kind, const std::string& samplePage) {
  std::string page = samplePage;
  if (kind.itemIdInput != nullptr) {
    ReplaceOnce(page, kind.itemIdInput, std::string("<input type=hidden name=hidid value='") + kHostileItemId + "'>");
  }
  const size_t first = page.find(kind.firstLine);
  const size_t last = page.rfind(kind.firstLine);
  EXPECT_NE(std::string::npos, first);
  const size_t end = page.find('\n', last);
  std::string lines;
  for (size_t i = 0; i < std::size(kNames); ++i) lines += kind.line(i) + "\n";
  page.replace(first, end + 1 - first, lines);
  return page;
}

// Request values a client controls reach the script block too: the host
// name in the root URL, the base path and the cached-script prefix.
const char kHostileHost[] = "mail.example.com\"+(document.title=\"H\")+\"</script><script>document.title='H2'</script>";
const char kHostileBasePath[] = "/owa/\\\"+(document.title='B')+\"";
const char kHostilePrefix[] = "\" onerror=\"document.title='C'\" x=\"";

TEST(HostilePages, NoNameOrIdLeavesItsScriptStringAndEachReachesTheRecorders) {
  CTempDir dir;
  for (const PageKind& kind : kKinds) {
    SCOPED_TRACE(kind.request);
    std::string description = ReadFile(std::string(HX_SOURCE_DIR) + "/samples/requests/" + kind.request);
    const size_t pageLine = description.find("@response-page ");
    ASSERT_NE(std::string::npos, pageLine);
    const std::string pageName = description.substr(pageLine + 15, description.find('\n', pageLine) - pageLine - 15);
    const std::string sample = ReadFile(std::string(HX_SOURCE_DIR) + "/samples/requests/" + pageName);
    const std::string hostile = dir.Write(std::string("hostile_") + kind.request + ".html", HostilePage(kind, sample));
    ReplaceOnce(description, "@response-page " + pageName, "@response-page " + hostile);
    ReplaceOnce(description, "Host: mail.example.com", std::string("Host: ") + kHostileHost);
    // The hostile base path names no folder the page lies in, so the page's
    // kind is given rather than left to the host's URL rule.
    description = std::string("@exchange-base-path ") + kHostileBasePath + "\n@csm-prefix " + kHostilePrefix +
                  "\n@subscription 2\n" + description;

    const AppliedPage applied = RunRequestText(description, std::string("hostile_") + kind.request);
    ASSERT_FALSE(applied.path.empty());
    const BrowserPage page = ExerciseInBrowser(applied.path, {"g_szRootURL", "g_szBasePath", "g_sQLPLItemID"});
    ASSERT_TRUE(page.loaded) << page.error;
    EXPECT_TRUE(page.exercised) << "the page was replaced or its script stopped: " << applied.path;
    for (const std::string& error : page.syntaxErrors) ADD_FAILURE() << applied.path << ": " << error;
    for (const std::string& write : page.sentinelWrites) ADD_FAILURE() << "a payload ran: " << write;
    EXPECT_EQ(page.variables.at("g_szRootURL"), std::string("https://") + kHostileHost + "/owa/");
    EXPECT_EQ(page.variables.at("g_szBasePath"), kHostileBasePath);
    if (kind.itemIdInput != nullptr) {
      EXPECT_EQ(page.variables.at("g_sQLPLItemID"), kHostileItemId);
    }
    for (size_t i = 0; i < std::size(kNames); ++i) {
      for (const auto& [fn, args] : kind.calls(i)) {
        EXPECT_TRUE(HasCall(page, fn, args)) << fn << " of attachment " << i << " in " << applied.path;
      }
    }
  }
}

}  // namespace
