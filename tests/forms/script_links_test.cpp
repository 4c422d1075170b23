#include <gtest/gtest.h>

#include <memory>

#include "filter/result_codes.h"
#include "forms/cached_script_decorator.h"
#include "forms/form_page.h"
#include "forms/get_attribute.h"
#include "forms/html_char_refs.h"
#include "forms/hx_form_exception.h"
#include "forms/hx_form_script_path.h"
#include "forms/pl_form.h"
#include "html/dom_source.h"

namespace {

using formtest::FormPage;

class BareForm : public CPLForm {
 public:
  using CPLForm::CPLForm;
  DWORD Process() override { return 0; }
};

const char* const kPage =
    "<html><head><title>t</title>\n"
    "<script src=\"8.1/scripts/UGLOBAL.JS\"></script>\n"
    "<script src='8.1/scripts/uglobal.js'></script>\n"
    "</head><body><script src=\"8.1/scripts/body.js\"></script></body></html>";

TEST(ScriptLinks, LinksGoToTheEndOfHead) {
  FormPage page(kPage);
  auto ctx = page.Context();
  BareForm form(ctx.get());
  ASSERT_TRUE(form.IsInstanceValid());
  CHXFormScriptPath path(kProductWord, kProductScriptsVersion);
  EXPECT_EQ(0u, form.InsertScriptLink(ctx.get(), "ql_plHelper.js", ScriptLinkKind::Script, &path, false));
  EXPECT_EQ(0u, form.InsertScriptLink(ctx.get(), "ql_pl.css", ScriptLinkKind::StyleSheet, &path, true));
  EXPECT_EQ(0u, form.InsertScriptLink(ctx.get(), std::string("x.js"), 2));
  EXPECT_EQ(HX_RC_NOT_FOUND, form.InsertScriptLink(ctx.get(), std::string(), ScriptLinkKind::Script));
  // Insertions at one address stand newest first.
  EXPECT_NE(
      page.Applied().find("</script>\n"
                          "<LINK rel=\"stylesheet\" type=\"text/css\" href=\"QLScripts/Pellora/1.9/csm01ql_pl.css\">\n"
                          "<SCRIPT language=\"javascript\" src=\"QLScripts/Pellora/1.9/ql_plHelper.js\">"
                          "</SCRIPT>\n"
                          "</head>"),
      std::string::npos)
      << page.Applied();
}

TEST(ScriptLinks, PrefixGoesRightBeforeTheFirstMatchingScriptName) {
  FormPage page(kPage);
  auto ctx = page.Context();
  BareForm form(ctx.get());
  EXPECT_EQ(0u, form.PrefixLinkedScripts(ctx.get(), "uglobal.js", true));
  EXPECT_EQ(HX_RC_NOT_FOUND, form.PrefixLinkedScripts(ctx.get(), "body.js", true));
  EXPECT_EQ(0u, form.PrefixLinkedScripts(ctx.get(), "body.js", false));
  EXPECT_EQ(HX_RC_INVALID_DATA, form.PrefixLinkedScripts(ctx.get(), "", true));
  const std::string out = page.Applied();
  EXPECT_NE(out.find("src=\"8.1/scripts/csm01/v2/UGLOBAL.JS\""), std::string::npos) << out;
  EXPECT_NE(out.find("src='8.1/scripts/uglobal.js'"), std::string::npos) << out;
  EXPECT_NE(out.find("src=\"8.1/scripts/csm01/v2/body.js\""), std::string::npos) << out;

  // Without the request's prefix nothing is changed.
  page.Server().variables.erase("HEADER_QL_CSMPREFIX");
  EXPECT_EQ(HX_RC_INVALID_DATA, form.PrefixLinkedScripts(ctx.get(), "uglobal.js", true));
}

TEST(ScriptLinks, PageWithoutHeadLeavesItToTheForm) {
  FormPage page("<html><body><p>x</p></body></html>");
  auto ctx = page.Context();
  BareForm form(ctx.get());
  EXPECT_THROW(form.PrefixLinkedScripts(ctx.get(), "uglobal.js", true), CDOMParserException);
  EXPECT_THROW(form.InsertScriptLink(ctx.get(), std::string("a.js"), ScriptLinkKind::Script), CDOMParserException);
}

TEST(ScriptLinks, CachedScriptPrefix) {
  EXPECT_EQ(CreateCachedScriptDecorator("abcd"), nullptr);
  std::unique_ptr<CCachedScriptDecorator> exact(CreateCachedScriptDecorator("abcde"));
  ASSERT_TRUE(exact);
  EXPECT_EQ(exact->GetHead(), "abcde");
  EXPECT_EQ(exact->GetTail(), "");
  std::unique_ptr<CCachedScriptDecorator> csm(CreateCachedScriptDecorator("csm01/v2/"));
  EXPECT_EQ(csm->Decorate("a.js"), "csm01/v2/a.js");
  EXPECT_EQ(csm->Undecorate("csm01a.js"), "a.js");
  EXPECT_EQ(csm->Undecorate("csm01"), "csm01");
  EXPECT_TRUE(csm->IsDecorated("xxxxx/v2/a.js"));
  EXPECT_FALSE(csm->IsDecorated("csm01"));
  EXPECT_FALSE(csm->IsDecorated("csm01a/v2/"));
  EXPECT_THROW(CHXFormScriptPath("", "1.9"), CHXFormException);
  EXPECT_EQ(CHXFormScriptPath("Pellora", "1.9").GetScriptPathFromScriptManager("a.js", nullptr), "");
}

TEST(ScriptLinks, AttributesAreReadWithCharacterReferencesDecoded) {
  FormPage page(
      "<html><body><a id=a1 href=\"x.ashx?a=1&amp;b=&#34;2&#x22;&c=3&amp\" "
      "onclick='f(&quot;&#38;&lt;&#0;&#xD800;&bogus;)' "
      "_flag>x</a></body></html>");
  auto ctx = page.Context();
  const CDOMElement a = ctx->m_spDom->getElementById("a1");
  ASSERT_FALSE(a.isUndefined());
  std::string href;
  ci_string onclick;
  std::string flag = "kept";
  EXPECT_TRUE(GetAttribute(a, "href", href));
  EXPECT_EQ(href, "x.ashx?a=1&b=\"2\"&c=3&");
  EXPECT_TRUE(GetAttribute(a, "ONCLICK", onclick));
  EXPECT_EQ(onclick, "f(\"&<\xEF\xBF\xBD\xEF\xBF\xBD&bogus;)");
  EXPECT_TRUE(GetAttribute(a, "_flag", flag));
  EXPECT_EQ(flag, "kept");
  EXPECT_FALSE(GetAttribute(a, "title", flag));
  EXPECT_FALSE(GetAttribute(CDOMElement(), "id", flag));
  EXPECT_EQ(DecodeHtmlCharacterReferences("&#233;&#x1F600;&nbsp;"), "\xC3\xA9\xF0\x9F\x98\x80\xC2\xA0");
}

}  // namespace
