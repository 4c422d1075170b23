#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/string_utils.h"
#include "filter/request_flags.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "forms/form_page.h"
#include "forms/premium/pl_premium_form_edit_item.h"
#include "forms/premium/pl_premium_form_read_item.h"
#include "forms/premium_forms.h"

namespace {

using formtest::Contains;
using formtest::FormPage;
using formtest::WithDirectAccess;

const std::string kHead =
    "<html><head><title>t</title>"
    "<link type=\"text/css\" rel=\"stylesheet\" href=\"/owa/8.1.393.1/themes/base/premium.css\">"
    "<script src=\"8.1.393.1/scripts/premium/uglobal.js\"></script></head>";

// An allowed file with OWA's anchor, a force-save file without one, an
// extension the product blocks, and an embedded message.
const std::string kAttachments =
    "<div id=\"divAtch\">"
    "<span id=\"spnAtmt\" _level=\"3\" _attid=\"AT&amp;1\"><a id=\"lnkAtmt\" href=\"a.ashx\" title=\"t\">"
    "Ada's &quot;Q3&quot;.pdf</a>&#x200E;<span class=\"wvsn\"> (1 KB)</span></span>"
    "<span id=\"spnAtmt\" _level=\"2\" _attid=\"AT2\">Budget.docx&#x200E;</span>"
    "<span id=\"spnAtmt\" _level=\"3\" _attid=\"AT3\"><a id=\"lnkAtmt\">setup.exe</a></span>"
    "<span id=\"spnAtmt\" _level=\"3\" _qs=\"ae=Item&amp;T=IPM.Note\"><a id=\"lnkAtmt\" href=\"#\">Re: x</a></span>"
    "</div>";

const std::string kReadPage = "<!-- OwaPage = ASP.forms_premium_readmessage_aspx -->" + kHead + "<body><p>text</p>" +
                              kAttachments + "</body></html>";

class PremiumReadItem : public formtest::PremiumFormTest {};
class PremiumEditItem : public formtest::PremiumFormTest {};

using ReadForm = WithDirectAccess<CPLPremiumFormReadItem>;
using EditForm = WithDirectAccess<CPLPremiumFormEditItem>;

void SetReadRequest(FormPage& page) {
  auto& params = page.Record().m_spRequestInfo->m_mapParams;
  params["id"] = "ITEM1";
  params["attcnt"] = "2";
  params["attid0"] = "AB";
  params["attid1"] = "CD";
}

TEST_F(PremiumReadItem, RewritesEveryKindOfAttachmentAndWritesTheVariables) {
  FormPage page(kReadPage, 1);
  SetReadRequest(page);
  page.Record().m_pMyOwnContext->m_sCadataCookie = "cadata=\"4QkJ==\"";
  const auto ctx = page.Context();
  ReadForm form(ctx.get());
  ASSERT_TRUE(form.IsInstanceValid());
  ASSERT_EQ(0u, form.Process());
  const std::string out = page.Applied();

  // The allowed file: menu attributes with the hash of its decoded id, the
  // single-click hand-over of the read form, the view link before OWA's
  // anchor, which loses its title.
  EXPECT_TRUE(Contains(out,
                       "<span id=\"spnAtmt\" _level=\"3\" _attid=\"AT&amp;1\" "
                       "_QLPLAttFilename=\"Ada's &quot;Q3&quot;.pdf\" _QLPLEmbItemAtt=\"0\" "
                       "_QLPLOpenVisible=\"1\" _QLPLOpenEnabled=\"1\" _QLPLSaveVisible=\"1\" "
                       "_QLPLSaveEnabled=\"1\" _QLPLTextVisible=\"1\" _QLPLTextEnabled=\"1\" "
                       "_QLPLRichVisible=\"1\" _QLPLRichEnabled=\"1\" _QLPLAttIDHash=\"" +
                           CUtil::HashString("AT&1") +
                           "\"  onmousedown=\"if(event.button==2){_e(this.parentNode,this.parentNode._e_onclick);}"
                           "\" oncontextmenu=\"return false;\">"
                           "<a onClick='javascript:f_viewAttachment(((typeof(a_sId)!=\"undefined\")&&(a_sId!=null))"
                           "?a_sId:a_rgsIds,\"AT&1\",1,\"Ada&#39;s &#39;Q3&#39;.pdf\");' title=\"View Attachment\" "
                           "onMouseOver=\"this.style.cursor='hand';\"><img src=\"QLScripts/Pellora/1.9/Find.GIF\" "
                           "align='bottom' BORDER='0'></a><a id=\"lnkAtmt\" href=\"a.ashx\" >"))
      << out;
  // Force-save without OWA's anchor: the product's anchor wraps the content.
  EXPECT_TRUE(Contains(out,
                       "BORDER='0'></a><a id=lnkAtmt href=\"#\" target=_blank onclick='_e(this, this._e_onclick)' "
                       "_e_onclick=\"atLnk(1);\">Budget.docx&#x200E;</a></span>"))
      << out;
  // The blocked extension: the blocked link, nothing enabled, no hash.
  EXPECT_TRUE(Contains(out,
                       "_attid=\"AT3\" _QLPLAttFilename=\"setup.exe\" _QLPLEmbItemAtt=\"0\" _QLPLOpenVisible=\"1\" "
                       "_QLPLOpenEnabled=\"0\""))
      << out;
  EXPECT_TRUE(Contains(out,
                       "<a onClick='javascript:f_ShowExtBlockedMsg();' title=\"This file type is blocked.\" "
                       "onMouseOver=\"this.style.cursor='hand';\"><img src=\"QLScripts/Pellora/1.9/Find_Blocked.GIF\""))
      << out;
  EXPECT_FALSE(Contains(out, "_QLPLAttIDHash=\"" + CUtil::HashString("AT3")));
  // The embedded message ("T=" in any case): no mouse hand-over on the read
  // form, the binocular inside OWA's anchor.
  EXPECT_TRUE(Contains(out,
                       "_qs=\"ae=Item&amp;T=IPM.Note\" _QLPLEmbItemAtt=\"1\" oncontextmenu=\"return false;\">"
                       "<a id=\"lnkAtmt\" href=\"#\"><img id=\"idPl_Bin_Emb\" src=\"QLScripts/Pellora/1.9/Find.GIF\""))
      << out;

  // The item hash covers the id and the joined attachment ids, exactly the
  // text the access checks hash again.
  const std::string itemText = "ITEM1" + JoinStrings(std::string(), std::vector<std::string>{"AB", "CD"});
  EXPECT_TRUE(Contains(out, "var g_szQLPLItemIDH=\"" + CUtil::HashString(itemText.c_str()) + "\";\r\n")) << out;
  EXPECT_TRUE(Contains(out,
                       "<head>\r\n<script language='javascript'>\r\n//QUENLITH PELLORA\r\n"
                       "var g_szPelrLoading = \""))
      << out;
  EXPECT_TRUE(Contains(out,
                       "var g_szQLPLSavePath=\"QLScripts/Pellora/1.9/csm01ql_SaveX.htm\";\r\n"
                       "var g_szQLPLClosePath=\"QLScripts/Pellora/1.9/csm01ql_Close.htm\";\r\n"
                       "var g_szQLPLCancelPath=\"QLScripts/Pellora/1.9/csm01ql_Cancel.htm\";\r\n"
                       "var g_szQLPLCookie='cadata=\"4QkJ==\"';\r\n"
                       "var g_PelloraDir = \""))
      << out;
  EXPECT_TRUE(Contains(out,
                       "\";\r\nvar g_szRootURL = \"https://mail.example.com/owa/\";\r\n"
                       "var g_szBasePath = \"/owa/\";\r\n"
                       "var g_szQLCheckLang = \"en\";\r\n"
                       "var g_SSLOpenAdmin = 0;\r\n"
                       "var g_bQLPLSaveConfirmation = 0;\r\n"))
      << out;
  EXPECT_TRUE(Contains(out,
                       "var g_szQLPLOWABuild=\"8.1.393.1\";\r\nvar g_szQLPLCurrentOWATheme=\"base\";\r\n"
                       "\r\n//QUENLITH PELLORA\r\n</script>\r\n<title>"))
      << out;
  EXPECT_TRUE(Contains(out, "src=\"8.1.393.1/scripts/premium/csm01/v2/uglobal.js\"")) << out;
  EXPECT_TRUE(Contains(out, "<SCRIPT language=\"javascript\" src=\"QLScripts/Pellora/1.9/csm01ql_plHelper.js\">"));
  EXPECT_TRUE(Contains(out,
                       "<div id=divQLPLCM class=\"ctxMnu\" style=display:none><div _lnk=1 class=\"cmLnk\" "
                       "id=divQLPLOpen cmd=\"qlplopen\"><span id=spnT>Open</span></div>"))
      << out;
  EXPECT_TRUE(Contains(out, "<span id=spnT>Rich</span></div></div></body>")) << out;
}

TEST_F(PremiumReadItem, WithoutDirectAccessTheHashIsNullAndWithoutIdTheFormIsInvalid) {
  FormPage page(kReadPage, 1);
  SetReadRequest(page);
  const auto ctx = page.Context();
  CPLPremiumFormReadItem form(ctx.get(), 1);  // OWA's direct access stays off
  ASSERT_EQ(0u, form.Process());
  const std::string out = page.Applied();
  EXPECT_TRUE(Contains(out, "var g_szQLPLItemIDH=null;\r\n")) << out;
  EXPECT_FALSE(Contains(out, "_QLPLAttIDHash")) << out;

  FormPage noId(kReadPage, 1);
  const auto noIdCtx = noId.Context();
  EXPECT_FALSE(CPLPremiumFormReadItem(noIdCtx.get(), 1).IsInstanceValid());
}

TEST_F(PremiumReadItem, PageWithoutAttachmentWellIsLeftAsIs) {
  FormPage page("<!-- OwaPage = ASP.forms_premium_readmessage_aspx -->" + kHead + "<body><p>x</p></body></html>", 1);
  SetReadRequest(page);
  const auto ctx = page.Context();
  ReadForm form(ctx.get());
  EXPECT_EQ(0u, form.Process());
  EXPECT_EQ(0u, page.List().size());
}

const std::string kEditHead = "<!-- OwaPage = ASP.forms_premium_editmessage_aspx -->" + kHead;
const std::string kToolbar =
    "<div id=tb><div class=b><a id=\"send\">Send</a></div><div class=\"sep\"></div>"
    "<div class=b><a id=\"attachfile\" name=\"attachfile\" href=\"#\"><img src=\"a.gif\"></a></div>"
    "<div class=\"sep\"></div><div class=b><a id=\"x\">X</a></div></div>";

TEST_F(PremiumEditItem, HashesThePageIdentifierAndUsesTheDoubleClickMenu) {
  FormPage page(
      kEditHead + "<body><script>VAR A_SID = \"Rg\\\\/AA\";</script>" + kToolbar + kAttachments + "</body></html>", 1);
  const auto ctx = page.Context();
  EditForm form(ctx.get());
  ASSERT_TRUE(form.IsInstanceValid());
  ASSERT_EQ(0u, form.Process());
  const std::string out = page.Applied();
  EXPECT_TRUE(Contains(out, "var g_szQLPLItemIDH=\"" + CUtil::HashString("Rg/AA") + "\";")) << out;
  EXPECT_TRUE(Contains(out, "_attid=\"AT2\" _QLPLAttFilename=\"Budget.docx\"")) << out;
  EXPECT_TRUE(Contains(out, "onmousedown=\"if(event.button==2){_e(this.parentNode,this.parentNode._e_ondblclick);}\""));
  // Embedded items on compose pages get the single-click hand-over.
  EXPECT_TRUE(Contains(out,
                       "_QLPLEmbItemAtt=\"1\" onmousedown=\"if(event.button==2){_e(this.parentNode,"
                       "this.parentNode._e_onclick);}\" oncontextmenu=\"return false;\">"))
      << out;
}

TEST_F(PremiumEditItem, NewItemOffersNoDirectAccessAndSMimeIsLeftAlone) {
  const std::string newItem = kEditHead + "<body><script>var a_sId = null;</script>" + kAttachments + "</body></html>";
  {
    // Direct access to an attachment of an unsaved item has no item hash to
    // go with it: the whole form fails and the page stays as it was.
    FormPage page(newItem, 1);
    const auto ctx = page.Context();
    EditForm form(ctx.get());
    ASSERT_TRUE(form.IsInstanceValid());
    EXPECT_EQ(HX_RC_MISSING, form.Process());
  }
  {
    FormPage page(newItem, 1);
    page.Record().m_dwRequestFlags |= RequestFlag::SMime;
    const auto ctx = page.Context();
    EditForm form(ctx.get());
    EXPECT_EQ(0u, form.Process());
    EXPECT_EQ(0u, page.List().size());
  }
  {
    FormPage page(kEditHead + "<body><script>var a_sId = \"\";</script></body></html>", 1);
    const auto ctx = page.Context();
    EXPECT_FALSE(EditForm(ctx.get()).IsInstanceValid());
  }
}

class ButtonRules : public EditForm {
 public:
  explicit ButtonRules(CHXFormContext* pFormContext) : CPLForm(pFormContext), EditForm(pFormContext) {}
  using CPLPremiumFormEditItem::ApplyAttachmentButtonsBlockLevel;
};

TEST_F(PremiumEditItem, AttachButtonIsDisabledOrRemovedWithItsDivider) {
  const std::string pageText = kEditHead + "<body><script>var a_sId = \"R1\";</script>" + kToolbar + "</body></html>";
  {
    FormPage page(pageText, 2);  // the restricted users' set disables the button
    const auto ctx = page.Context();
    EditForm form(ctx.get());
    ASSERT_EQ(0u, form.Process());
    EXPECT_TRUE(Contains(page.Applied(),
                         "<div class=b><a   ><img src=\"a.gif\" style=\"FILTER: "
                         "progid:DXImageTransform.Microsoft.Alpha(opacity=35);\"></a></div>"))
        << page.Applied();
  }
  {
    FormPage page(pageText, 1);
    const auto ctx = page.Context();
    ButtonRules form(ctx.get());
    ASSERT_EQ(0u, form.ApplyAttachmentButtonsBlockLevel(2));
    EXPECT_TRUE(Contains(page.Applied(), "<div class=\"sep\"></div><div class=b><a id=\"x\">")) << page.Applied();
    EXPECT_FALSE(Contains(page.Applied(), "attachfile")) << page.Applied();
  }
  {
    // A divider whose class differs in case stays.
    std::string upper = pageText;
    upper.replace(upper.rfind("class=\"sep\""), 11, "class=\"SEP\"");
    FormPage page(upper, 1);
    const auto ctx = page.Context();
    ButtonRules form(ctx.get());
    ASSERT_EQ(0u, form.ApplyAttachmentButtonsBlockLevel(2));
    EXPECT_TRUE(Contains(page.Applied(), "<div class=\"SEP\"></div>")) << page.Applied();
  }
  {
    // Level 1 without a button fails before the attachment well is read.
    FormPage page(kEditHead + "<body><script>var a_sId = \"R1\";</script>" + kAttachments + "</body></html>", 2);
    const auto ctx = page.Context();
    EditForm form(ctx.get());
    EXPECT_EQ(HX_RC_INVALID_DATA, form.Process());
  }
}

// The attach-file request takes an attachment buttons level that is no plain
// 0, 1 or 2 as 0, so the page keeps the button the user can use.
TEST_F(PremiumEditItem, InvalidButtonLevelLeavesTheButtonAsTheRequestDoes) {
  const char* const levels[] = {" 1", "2x", "1 ", "9"};
  std::string sets;
  for (int i = 0; i < 4; ++i) {
    sets += "<SETTING ID=\"" + std::to_string(90 + i) + "\" DESCR=\"d\"><ITEMS><ITEM ID=\"51\" DESCR=\"d\" VALUE=\"" +
            levels[i] + "\"/></ITEMS></SETTING>";
  }
  formtest::ExtraSettingSets extra(sets);
  const std::string pageText = kEditHead + "<body><script>var a_sId = \"R1\";</script>" + kToolbar + "</body></html>";
  for (int i = 0; i < 4; ++i) {
    FormPage page(pageText, 90 + i);
    const auto ctx = page.Context();
    EditForm form(ctx.get());
    ASSERT_EQ(0u, form.Process()) << "level <" << levels[i] << ">";
    EXPECT_TRUE(Contains(page.Applied(), "<a id=\"attachfile\" name=\"attachfile\" href=\"#\"><img src=\"a.gif\"></a>"))
        << "level <" << levels[i] << "> " << page.Applied();
  }
}

}  // namespace
