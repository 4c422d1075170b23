#include <gtest/gtest.h>

#include <string>

#include "filter/request_flags.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "forms/form_page.h"
#include "forms/premium/pl_premium_form_delete_attachment.h"
#include "forms/premium/pl_premium_form_get_attach_file_dialog.h"
#include "forms/premium/pl_premium_form_post_attach_file_dialog.h"
#include "forms/premium_forms.h"

namespace {

using formtest::Contains;
using formtest::FormPage;
using formtest::WithDirectAccess;

class PremiumDialogs : public formtest::PremiumFormTest {};

const std::string kDialogHead =
    "<!-- OwaPage = ASP.forms_premium_attachfiledialog_aspx --><html><head><title>t</title>"
    "<script src=\"8.1/scripts/premium/dattach.js\"></script></head>";
const std::string kAnswerAttachments =
    "<div id=\"divResult\"><span id=\"spnAtmt\" _level=\"3\" _attid=\"A1\"><a "
    "id=\"lnkAtmt\">notes.txt</a></span></div>";

TEST_F(PremiumDialogs, GetDialogGetsTheBlockedListThePrefixAndTheHelper) {
  FormPage page(kDialogHead + "<body></body></html>", 1);
  const auto ctx = page.Context();
  CPLPremiumFormGETAttachFileDialog form(ctx.get());
  ASSERT_TRUE(form.IsInstanceValid());
  ASSERT_EQ(0u, form.Process());
  const std::string out = page.Applied();
  EXPECT_TRUE(Contains(out,
                       "<head>\r\n<script language='javascript'>\r\n//QUENLITH PELLORA\r\n"
                       "var g_szExtBlocked = \"This file type is blocked.\";\r\n"
                       "var g_Extensions = \"exe;com;bat;cmd;vbs;js;msi\";\r\n"
                       "var g_oExtensions = new Array();\r\ng_oExtensions = g_Extensions.split(\";\");\r\n"
                       "var g_szQLCheckLang = \"en\";\r\n\r\n//QUENLITH PELLORA\r\n</script>\r\n<title>"))
      << out;
  EXPECT_TRUE(Contains(out, "src=\"8.1/scripts/premium/csm01/v2/dattach.js\"")) << out;
  EXPECT_TRUE(Contains(out, "src=\"QLScripts/Pellora/1.9/csm01ql_plHelper.js\"")) << out;

  // Without the blocked list the variable is empty; without a cached-script
  // prefix the form fails and the page stays as it was.
  FormPage plain(kDialogHead + "<body></body></html>", 0);
  plain.Server().variables.erase("HEADER_QL_CSMPREFIX");
  const auto plainCtx = plain.Context();
  CPLPremiumFormGETAttachFileDialog plainForm(plainCtx.get());
  EXPECT_EQ(HX_RC_INVALID_DATA, plainForm.Process());
  EXPECT_TRUE(Contains(plain.Applied(), "var g_Extensions = \"\";\r\n")) << plain.Applied();
}

TEST_F(PremiumDialogs, PostAnswerHashesItsIdentifierAfterTheObjectStatement) {
  FormPage page(kDialogHead + "<body><script>\nVAR O = NEW OBJECT();\nO.SID = \"Rg\\\\/AA\";\n</script>" +
                    kAnswerAttachments + "</body></html>",
                1);
  page.Record().m_dwRequestFlags |= RequestFlag::Post;
  const auto ctx = page.Context();
  WithDirectAccess<CPLPremiumFormPOSTAttachFileDialog> form(ctx.get());
  ASSERT_TRUE(form.IsInstanceValid());
  ASSERT_EQ(0u, form.Process());
  const std::string out = page.Applied();
  EXPECT_TRUE(Contains(out, "VAR O = NEW OBJECT();o.szQLPLItemIDH=\"" + CUtil::HashString("Rg/AA") + "\";\n")) << out;
  // Compose-side hand-over of the double-click menu.
  EXPECT_TRUE(Contains(out, "this.parentNode._e_ondblclick);}\"")) << out;

  // Without direct access the attachments are rewritten, the hash is not
  // written.
  FormPage closed(kDialogHead + "<body><script>var o = new Object(); o.sId = \"R\";</script>" + kAnswerAttachments +
                      "</body></html>",
                  1);
  const auto closedCtx = closed.Context();
  CPLPremiumFormPOSTAttachFileDialog closedForm(closedCtx.get(), 1);
  ASSERT_EQ(0u, closedForm.Process());
  EXPECT_FALSE(Contains(closed.Applied(), "szQLPLItemIDH")) << closed.Applied();
  EXPECT_TRUE(Contains(closed.Applied(), "_QLPLAttFilename=\"notes.txt\"")) << closed.Applied();
}

TEST_F(PremiumDialogs, PostAnswerWithoutIdentifierObjectOrBodyIsRefused) {
  {
    // Direct access but no "var o = new Object();": 13, nothing applied.
    FormPage page(kDialogHead + "<body><script>o.sId = \"R\";</script>" + kAnswerAttachments + "</body></html>", 1);
    const auto ctx = page.Context();
    WithDirectAccess<CPLPremiumFormPOSTAttachFileDialog> form(ctx.get());
    ASSERT_TRUE(form.IsInstanceValid());
    EXPECT_EQ(HX_RC_INVALID_DATA, form.Process());
  }
  for (const std::string body : {"<body><script>o.sId = \"\";</script></body></html>", "<body><p>x</p></body></html>",
                                 "<p>no body at all</p>"}) {
    // An empty identifier, none, or a page without BODY: an invalid form,
    // and no exception out of the constructor.
    FormPage page(kDialogHead + body, 1);
    const auto ctx = page.Context();
    EXPECT_FALSE(CPLPremiumFormPOSTAttachFileDialog(ctx.get(), 1).IsInstanceValid()) << body;
  }
}

TEST_F(PremiumDialogs, DeleteAnswerFindsItsListAnywhere) {
  FormPage page("<div><div id=\"attWD\"><span id=\"spnAtmt\" _level=\"1\" _attid=\"A9\">run.cmd</span></div></div>", 1);
  const auto ctx = page.Context();
  WithDirectAccess<CPLPremiumFormDeleteAttachment> form(ctx.get());
  ASSERT_TRUE(form.IsInstanceValid());
  ASSERT_EQ(0u, form.Process());
  EXPECT_TRUE(Contains(page.Applied(), "_QLPLAttFilename=\"run.cmd\"")) << page.Applied();

  FormPage bad("<div id=\"attWD\"><span id=\"spnAtmt\" _level=\"4\" _attid=\"A9\">x.txt</span></div>", 1);
  const auto badCtx = bad.Context();
  CPLPremiumFormDeleteAttachment badForm(badCtx.get(), 1);
  EXPECT_EQ(HX_RC_INVALID_DATA, badForm.Process());
}

}  // namespace
