#include <gtest/gtest.h>

#include <string>

#include "filter/result_codes.h"
#include "filter/util.h"
#include "forms/basic/pl_basic_form_read_item.h"
#include "forms/form_page.h"

namespace {

using formtest::FormPage;

std::string ReadPage(const std::string& attachments) {
  return "<!-- OwaPage = ASP.forms_basic_basicreadmessage_aspx -->\n<html><head>"
         "<link type=\"text/css\" rel=\"stylesheet\" href=\"/owa/8.1.240.5/themes/base/basic.css\"></head><body>"
         "<input type=hidden name=hidid value=\"PAGEID\"><div id=divAtt>" + attachments + "</div></body></html>";
}

void SetParams(FormPage& page, const std::string& query) {
  for (size_t begin = 0; begin < query.size();) {
    size_t end = query.find('&', begin);
    if (end == std::string::npos) end = query.size();
    const std::string pair = query.substr(begin, end - begin);
    const size_t eq = pair.find('=');
    page.Record().m_spRequestInfo->m_mapParams[ToCI(pair.substr(0, eq))] = ToCI(pair.substr(eq + 1));
    begin = end + 1;
  }
}

// The attachment IDs as the three kinds of OWA link carry them: the last
// "attid" of a URL (the count says which), the URL inside a WebReady call,
// the decoded argument of an embedded item's call.
TEST(BasicAttachmentIDs, EachLinkKindYieldsItsID) {
  FormPage page(ReadPage(""));
  SetParams(page, "id=X");
  auto ctx = page.Context();
  CPLBasicFormReadItem form(ctx.get(), 1);
  ASSERT_TRUE(form.IsInstanceValid());
  std::string id;
  EXPECT_EQ(0u, form.GetLastAttachmentIDFromURL("a.ashx?attach=1&attcnt=3&attid0=a&attid1=b&attid2=c", id));
  EXPECT_EQ("c", id);
  EXPECT_EQ(HX_RC_INVALID_DATA, form.GetLastAttachmentIDFromURL("a.ashx?attcnt=0&attid0=a", id));
  EXPECT_EQ(HX_RC_INVALID_DATA, form.GetLastAttachmentIDFromURL("a.ashx?attcnt=3&attid0=a&attid1=b", id));
  EXPECT_EQ(HX_RC_INVALID_DATA, form.GetLastAttachmentIDFromURL("a.ashx?attcnt=x1&attid0=a", id));
  EXPECT_EQ("", id);
  EXPECT_EQ(0u, form.GetLastAttachmentIDFromWebReadyLinkOnClickAttr("opnWin('?ae=Item&attcnt=1&attid0=W%2B1')", id));
  EXPECT_EQ("W+1", id);
  EXPECT_EQ(HX_RC_INVALID_DATA, form.GetLastAttachmentIDFromWebReadyLinkOnClickAttr("opnWin('')", id));
  EXPECT_EQ(0u, form.GetAttachmentIDFromEmbeddedItemOnClickAttr("return onClkEmbItem('RgA','a%20b');", id));
  EXPECT_EQ("a b", id);
  EXPECT_EQ(HX_RC_INVALID_DATA, form.GetAttachmentIDFromEmbeddedItemOnClickAttr("return onClkEmbItem('RgA');", id));
}

// The read page's item ID by the route the request takes; the hash covers
// the request's attachment IDs joined and shortened by one character, as the
// request checks recompute it.
TEST(BasicReadItem, ItemIDRouteAndHash) {
  const std::string link =
      "<span id=spnAtmt level=3><img src=a.gif><a id=lnkAtmt href=\"attachment.ashx?attach=1&amp;id=LINKID&amp;"
      "attcnt=1&amp;attid0=A1\">a.txt</a></span>";
  struct Case {
    const char* query;
    const char* itemID;
  };
  for (const Case& c : {Case{"ae=PreFormAction&id=REQID", "PAGEID"}, Case{"id=REQID", "REQID"},
                        Case{"a=SaveClose", "LINKID"}}) {
    SCOPED_TRACE(c.query);
    FormPage page(ReadPage(link));
    SetParams(page, c.query);
    auto ctx = page.Context();
    CPLBasicFormReadItem form(ctx.get(), 1);
    ASSERT_TRUE(form.IsInstanceValid());
    std::string script;
    form.AppendItemIDAndItemIDHashJavaScriptVariable(true, script);
    EXPECT_EQ("var g_sQLPLItemID=\"" + std::string(c.itemID) + "\";\r\nvar g_sQLPLItemIDHash=\"" +
                  CUtil::HashString(c.itemID) + "\";\r\n",
              script);
  }

  FormPage page(ReadPage(link));
  SetParams(page, "id=X\"y&attcnt=2&attid0=ab&attid1=cd");
  auto ctx = page.Context();
  CPLBasicFormReadItem form(ctx.get(), 1);
  std::string script;
  form.AppendItemIDAndItemIDHashJavaScriptVariable(true, script);
  // The request's ID stays one script string.
  EXPECT_EQ("var g_oQLPLItemIDAttIDs=new Array(\"X\\\"y\",\"ab\",\"cd\");\r\nvar g_sQLPLItemIDHash=\"" +
                CUtil::HashString("X\"yabc") + "\";\r\n",
            script);

  FormPage none(ReadPage(link));
  SetParams(none, "ae=Item");
  auto noneCtx = none.Context();
  EXPECT_FALSE(CPLBasicFormReadItem(noneCtx.get(), 1).IsInstanceValid());
}

}  // namespace
