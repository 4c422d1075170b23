#include <gtest/gtest.h>

#include <string>

#include "common/string_operation.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "forms/form_page.h"
#include "forms/premium/pl_premium_form_get_document_view.h"
#include "forms/premium/pl_premium_form_post_document_view_refresh.h"
#include "forms/premium/pl_premium_form_post_document_view_sort.h"
#include "forms/premium_forms.h"

namespace {

using formtest::Contains;
using formtest::FormPage;
using formtest::WithAccessLevels;

class PremiumDocumentView : public formtest::PremiumFormTest {};

std::string Row(const char* id, const char* flags, const std::string& path) {
  return std::string("<tr id=\"") + id + "\"><a t=\"" + flags + "\" id=\"" + path + "\" href=\"#\"></a><td>x</td></tr>";
}

const std::string kHeader = "<table id=\"tblH\"><tr><td>Name</td></tr></table>";

std::string Base64(std::string text) {
  CStringOperation::Encode64(text);
  return text;
}

TEST_F(PremiumDocumentView, RowWalkGivesEachKindOfRowItsCellAndAttributes) {
  const std::string list =
      "<table id=\"tblIL\">" + Row("us", "5", "bhttp://sp/site/Folder") + Row("us", "17", "BHTTP://sp/site/Plan.docx") +
      Row("us", "18", "bfile://fs/share/Ada&#39;s figures.pdf") + Row("us", "18", "bfile://fs/share/tool.exe") +
      Row("us", "17", "bhttp://sp/site/tool.exe&#35;x.pdf") + Row("us", "18", "bfile://fs/share/tool.exe&#35;.pdf") +
      Row("us", "18", "bfile://fs/share/Rev 1.2 %23final.pdf") + Row("US", "18", "bfile://fs/share/skip.txt") +
      "</table>";
  FormPage page(kHeader + list, 1);
  const auto ctx = page.Context();
  WithAccessLevels<CPLPremiumFormPOSTDocumentViewSort> form(ctx.get());
  ASSERT_TRUE(form.IsInstanceValid());
  ASSERT_EQ(0u, form.Process());
  const std::string out = page.Applied();

  EXPECT_TRUE(Contains(out, "<table id=\"tblH\"><tr><td style=\"width:24;\"></td><td>Name")) << out;
  EXPECT_TRUE(Contains(out, "<table id=\"tblIL\"><col style=\"width:24\"><tr")) << out;
  EXPECT_TRUE(Contains(out, "href=\"#\"><td nowrap></td></a>")) << out;
  // SharePoint: the marker letter goes whatever its case; allowed level.
  EXPECT_TRUE(
      Contains(out, "_QLPLFilename=\"Plan.docx\" _QLPLFileIDHash=\"" + CUtil::HashString("HTTP://sp/site/Plan.docx") +
                        "\" ><td id=_QLPLViewDocTD nowrap><a id=_QLPLViewDocA onDblClick=\"return false;\" "
                        "onClick='javascript:f_viewAttachment(\"HTTP://sp/site/Plan.docx\",1,\"Plan.docx\",\"wss\");'"))
      << out;
  // A UNC force-save document: the hash and the web client's force-save id
  // are made from the path as the browser reads it; the markup keeps the
  // page's spelling.
  const std::string uncPath = "file://fs/share/Ada's figures.pdf";
  EXPECT_TRUE(Contains(out, "_QLPLFilename=\"Ada&#39;s figures.pdf\" _QLPLFileIDHash=\"" +
                                CUtil::HashString(uncPath.c_str()) + "\" _QLPLOWAForceSaveID=\"" +
                                Base64(uncPath + "?UriFlags=UncDocument") + "\" >"))
      << out;
  EXPECT_TRUE(
      Contains(out, "f_viewAttachment(\"file://fs/share/Ada&#39;s figures.pdf\",1,\"Ada&#39;s figures.pdf\",\"unc\")"))
      << out;
  // The blocked extension: the blocked cell, menu items all disabled, no hash.
  EXPECT_TRUE(Contains(out, "_QLPLFilename=\"tool.exe\" ><td id=_QLPLBlockedDocTD nowrap>")) << out;
  // So is a link, a file URL too, that reads as it when cut at its "#", as
  // the download check reads it; a file share's "#" comes as "%23".
  EXPECT_TRUE(Contains(out, "_QLPLFilename=\"tool.exe&#35;x.pdf\" ><td id=_QLPLBlockedDocTD nowrap>")) << out;
  EXPECT_TRUE(Contains(out, "_QLPLFilename=\"tool.exe&#35;.pdf\" ><td id=_QLPLBlockedDocTD nowrap>")) << out;
  EXPECT_TRUE(Contains(out, "_QLPLFilename=\"Rev 1.2 %23final.pdf\" _QLPLFileIDHash=")) << out;
  // "US" is not a file row of this walk.
  EXPECT_FALSE(Contains(out, "skip.txt\",")) << out;
  EXPECT_TRUE(Contains(out, "<tr id=\"US\"><a t=\"18\" id=\"bfile://fs/share/skip.txt\" href=\"#\"></a>")) << out;
}

TEST_F(PremiumDocumentView, BadRowsFailTheList) {
  const struct {
    std::string row;
    DWORD code;
  } cases[] = {
      {Row("us", "4", "bfile://fs/a.txt"), HX_RC_INVALID_DATA},   // neither of the two low bits
      {Row("us", "1", "bfile://fs/a.txt"), HX_RC_INVALID_DATA},   // a type without handling
      {Row("us", "1x", "bfile://fs/a.txt"), HX_RC_INVALID_DATA},  // not a number
      {Row("us", "18", "bfile://fs/dir/"), HX_RC_INVALID_DATA},   // no file name
      {Row("us", "18", "bfile://fs/a.bad"), HX_RC_INVALID_DATA},  // no valid access level
      {"<tr id=\"us\"><td>no link</td></tr>", HX_RC_INVALID_DATA},
      {Row("us", "18", "plainname.txt"), 0},  // no marker, no "/": the whole text
  };
  for (const auto& c : cases) {
    FormPage page(kHeader + "<table id=\"tblIL\">" + c.row + "</table>", 1);
    const auto ctx = page.Context();
    WithAccessLevels<CPLPremiumFormPOSTDocumentViewSort> form(ctx.get());
    EXPECT_EQ(c.code, form.Process()) << c.row;
  }
}

TEST_F(PremiumDocumentView, RefreshAnswerTakesRowsOfAnyCaseAndNeedsItsDataDiv) {
  const std::string list = "<table id=\"tblIL\">" + Row("US", "17", "bhttps://sp/site/N.txt") + "</table>";
  FormPage page("<div id=\"data\">" + list + "</div>", 1);
  const auto ctx = page.Context();
  WithAccessLevels<CPLPremiumFormPOSTDocumentViewRefresh> form(ctx.get());
  ASSERT_EQ(0u, form.Process());
  const std::string out = page.Applied();
  EXPECT_TRUE(Contains(out, "<table id=\"tblIL\"><col style=\"width:24\" class=\"d\">")) << out;
  EXPECT_TRUE(Contains(out, "f_viewAttachment(\"https://sp/site/N.txt\",1,\"N.txt\",\"wss\")")) << out;

  FormPage noData(list, 1);
  const auto noDataCtx = noData.Context();
  CPLPremiumFormPOSTDocumentViewRefresh noDataForm(noDataCtx.get(), 1);
  EXPECT_EQ(HX_RC_INVALID_DATA, noDataForm.Process());
  // Without a list there is nothing to do, even without the DIV.
  FormPage empty("<p>nothing</p>", 1);
  const auto emptyCtx = empty.Context();
  CPLPremiumFormPOSTDocumentViewRefresh emptyForm(emptyCtx.get(), 1);
  EXPECT_EQ(0u, emptyForm.Process());
  EXPECT_EQ(0u, empty.List().size());
}

const std::string kDocumentViewPage =
    "<!-- OwaPage = ASP.forms_premium_documentview_aspx --><html><head><title>t</title>"
    "<link type=\"text/css\" rel=\"stylesheet\" href=\"/owa/8.1.393.1/themes/base/premium.css\">"
    "<script src=\"s/clistview.js\"></script><script src=\"s/uview.js\"></script></head><body>"
    "<div id=\"divVwm\"><div id=divO>Open</div><div id=divS></div></div>" +
    kHeader + "<table id=\"tblIL\">" + Row("us", "17", "bhttp://sp/a.docx") + "</table></body></html>";

TEST_F(PremiumDocumentView, WholePageGetsScriptsVariablesAndMenuEntries) {
  FormPage page(kDocumentViewPage, 1);
  const auto ctx = page.Context();
  WithAccessLevels<CPLPremiumFormGETDocumentView> form(ctx.get());
  ASSERT_TRUE(form.IsInstanceValid());
  ASSERT_EQ(0u, form.Process());
  const std::string out = page.Applied();
  EXPECT_TRUE(Contains(out, "var g_Extensions = \"exe;com;bat;cmd;vbs;js;msi\";\r\n")) << out;
  EXPECT_TRUE(Contains(out,
                       "var g_SSLOpenAdmin = 0;\r\nvar g_iQLPLEnableOWAWebReady = 0;\r\n"
                       "var g_bQLPLSaveConfirmation = 0;\r\nvar g_szQLPLOWABuild=\"8.1.393.1\";\r\n"))
      << out;
  EXPECT_TRUE(Contains(out, "src=\"s/csm01/v2/clistview.js\"") && Contains(out, "src=\"s/csm01/v2/uview.js\"")) << out;
  EXPECT_TRUE(Contains(out, "csm01ql_plPremiumDocumentView.js")) << out;
  EXPECT_TRUE(Contains(out,
                       "<div id=divO>Open</div><div _lnk=1 class=\"cmLnk\" id=divQLPLSave cmd=\"qlplsave\">"
                       "<span class=cmPn id=spnImg></span><span id=spnT>Save</span></div>"))
      << out;
  EXPECT_TRUE(Contains(out, "<span id=spnT>Rich</span></div><div id=divS>")) << out;

  // Without the menu's "divS" everything recorded before is dropped: 13.
  std::string noMenu = kDocumentViewPage;
  noMenu.replace(noMenu.find("<div id=divS></div>"), 19, "");
  FormPage failing(noMenu, 1);
  const auto failingCtx = failing.Context();
  WithAccessLevels<CPLPremiumFormGETDocumentView> failingForm(failingCtx.get());
  EXPECT_EQ(HX_RC_INVALID_DATA, failingForm.Process());
}

}  // namespace
