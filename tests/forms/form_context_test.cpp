#include <gtest/gtest.h>

#include <stdexcept>

#include "filter/request_flags.h"
#include "forms/form_page.h"
#include "forms/hx_form_context.h"
#include "forms/hx_form_exception.h"
#include "forms/pl_form.h"
#include "forms/pl_form_factory.h"
#include "forms/pl_form_rows.h"
#include "general/log_capture.h"
#include "html/dom_source.h"

namespace {

using formtest::FormPage;

class BareForm : public CPLForm {
 public:
  using CPLForm::CPLForm;
  DWORD Process() override { return 0; }
  using CPLForm::m_sCharSet;
  using CPLForm::m_sUserLanguage;
  using CPLForm::m_wLangID;
};

TEST(FormContext, TemplateNameAndExperienceFromTheComment) {
  const struct {
    const char* page;
    const char* name;
    DWORD experience;
  } cases[] = {
      {"<!-- OwaPage = ASP.forms_premium_readmessage_aspx -->", "ASP.forms_premium_readmessage_aspx", 1},
      {"<!-- owapage =\r\n\tASP.forms_BASIC_basicreadmessage_aspx  -->", "ASP.forms_BASIC_basicreadmessage_aspx", 2},
      {"<!-- OwaPage = ASP.forms_premium_subpagecontainer_aspx --><!-- OwaSubPage = "
       "ASP.forms_premium_documentview_aspx -->",
       "ASP.forms_premium_documentview_aspx", 1},
      {"<!-- OwaPage = ASP.forms_premium_subpagecontainer_aspx -->", "ASP.forms_premium_subpagecontainer_aspx", 1},
      {"<!-- OwaPage = ASP.auth_error_aspx -->", "ASP.auth_error_aspx", 0},
      {"<!-- OwaPage = ASP.auth_logoff_aspx -->", "ASP.auth_logoff_aspx", 0},
      // Only the first comment counts.
      {"<!-- OwaPage = ASP.forms_basic_x_aspx --><!-- OwaPage = ASP.forms_premium_y_aspx -->", "ASP.forms_basic_x_aspx",
       2},
      // No comment, no closing "-->", or an empty name: a page without template.
      {"<p>plain</p>", "", 0},
      {"<!-- OwaPage = ASP.forms_premium_readmessage_aspx", "", 0},
      {"<!-- OwaPage =-->", "", 0},
  };
  for (const auto& c : cases) {
    FormPage page(std::string("<html><head>") + c.page + "</head><body></body></html>");
    const auto ctx = page.Context();
    EXPECT_EQ(ctx->m_csTemplateName, c.name) << c.page;
    EXPECT_EQ(ctx->m_dwOWAExperience, c.experience) << c.page;
    EXPECT_TRUE(ctx->HasDom());
  }
}

TEST(FormContext, RefusesUnknownTemplatesAndIncompleteRecords) {
  FormPage page("<!-- OwaPage = ASP.forms_other_aspx --><html></html>");
  try {
    page.Context();
    ADD_FAILURE() << "no exception";
  } catch (const CHXFormException&) {
    ADD_FAILURE() << "a plain runtime_error is expected";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "invalid template");
  }
  EXPECT_THROW(CHXFormContext(nullptr, &page.List()), CHXFormException);
  page.Record().m_spOutboundContext->m_pCommonPointers = nullptr;
  EXPECT_THROW(CHXFormContext(&page.Record(), &page.List()), CHXFormException);
}

// The class each kind of page gets, by the first matching row.
TEST(FormFactory, RowOrder) {
  using namespace RequestFlag;
  const struct {
    const char* templateName;
    DWORD flags;
    DWORD subscription;
    const char* className;  // null: no form
  } cases[] = {
      {"ASP.forms_basic_basicreadmessage_aspx", 0, 30, "CPLPremiumFormReadItem"},
      {"", 0, 30, "CPLPremiumFormReadItem"},
      {"x.ASP.FORMS_PREMIUM_READMESSAGE_ASPX.y", 0, 0, "CPLPremiumFormReadItem"},
      {"ASP.forms_premium_editmessage_aspx+ASP.forms_premium_readtask_aspx", 0, 0, "CPLPremiumFormReadItem"},
      {"ASP.forms_premium_edittask_aspx", 0, 0, "CPLPremiumFormEditItem"},
      {"ASP.forms_premium_attachfiledialog_aspx", Post, 0, "CPLPremiumFormPOSTAttachFileDialog"},
      {"ASP.forms_premium_attachfiledialog_aspx", 0, 0, "CPLPremiumFormGETAttachFileDialog"},
      {"ASP.forms_premium_documentview_aspx", 0, 0, "CPLPremiumFormGETDocumentView"},
      {"ASP.forms_premium_options_aspx", 0, 0, nullptr},
      {"ASP.forms_basic_basiceditcontact_aspx", 0, 0, "CPLBasicFormEditItem"},
      {"ASP.forms_basic_basicmeetingpage_aspx", 0, 0, "CPLBasicFormReadItem"},
      {"ASP.forms_basic_basiccalendaritemschedulingtab_aspx", 0, 0, "CPLBasicFormCalendarItemSchedulingTab"},
      {"ASP.forms_basic_basicattachmentmanager_aspx", 0, 0, "CPLBasicFormAttachmentManager"},
      {"ASP.forms_basic_other_aspx", 0, 0, nullptr},
      {"", PremiumDeleteAttachment | DocumentViewSort, 0, "CPLPremiumFormDeleteAttachment"},
      {"", DocumentViewSort, 0, "CPLPremiumFormPOSTDocumentViewSort"},
      {"", DocumentViewRefresh, 0, "CPLPremiumFormPOSTDocumentViewRefresh"},
      {"ASP.auth_error_aspx", DocumentViewForceSave, 0, "CPLDocumentViewForceSaveErrorForm"},
      {"ASP.auth_logoff_aspx", DocumentViewForceSave, 0, nullptr},
  };
  for (const auto& c : cases) {
    const std::string comment = *c.templateName ? std::string("<!-- OwaPage = ") + c.templateName + " -->" : "";
    FormPage page("<html>" + comment + "</html>");
    page.Record().m_dwRequestFlags = c.flags;
    page.Record().m_dwSubscriptionType = c.subscription;
    const auto ctx = page.Context();
    const PLFormRow* row = FindPLFormRow(*ctx);
    ASSERT_NE(row, nullptr) << c.templateName;
    const std::string chosen = row->pClassName != nullptr ? row->pClassName : "<none>";
    EXPECT_EQ(chosen, c.className != nullptr ? c.className : "<none>") << c.templateName << " " << c.flags;
  }
  // An experience of no family matches no row.
  FormPage page("<html></html>");
  auto ctx = page.Context();
  ctx->m_dwOWAExperience = 3;
  EXPECT_EQ(FindPLFormRow(*ctx), nullptr);
  EXPECT_EQ(CPLFormFactory::createForm(ctx.get()), nullptr);
}

// A record whose buffer cannot be parsed gives a context without DOM: no
// template, and no form; a null HTML-begin word means the first byte.
TEST(FormContext, PagesTheDomCannotReadAndTheHtmlBeginWord) {
  FormPage page("<!-- OwaPage = ASP.forms_premium_readmessage_aspx --><html></html>");
  CCommonPointers& words = *page.Record().m_spOutboundContext->m_pCommonPointers;
  const ULONGLONG firstByte = words[CCommonPointers::FirstByte];
  words[CCommonPointers::FirstByte] = 0;
  auto noDom = page.Context();
  EXPECT_FALSE(noDom->HasDom());
  EXPECT_EQ(noDom->m_csTemplateName, "");
  EXPECT_EQ(CPLFormFactory::createForm(noDom.get()), nullptr);

  words[CCommonPointers::FirstByte] = firstByte;
  words[CCommonPointers::HtmlBegin] = 0;
  auto ctx = page.Context();
  EXPECT_EQ(ctx->m_dwOWAExperience, OwaExperience::Premium);
  BareForm form(ctx.get());
  EXPECT_TRUE(form.IsInstanceValid());
}

// The form choice reads only the template comment: a page no form claims is
// never parsed, a claimed page is parsed before its form is made, and with the
// debug log on every page is parsed at once, its complaints in their old place.
TEST(FormContext, PageParsedOnlyForAForm) {
  FormPage plain("<html><body><p>plain</p></body></html>");
  const auto plainCtx = plain.Context();
  EXPECT_TRUE(plainCtx->HasDom());
  EXPECT_EQ(CPLFormFactory::createForm(plainCtx.get()), nullptr);
  EXPECT_FALSE(plainCtx->m_spDom.IsBuilt());

  FormPage error("<!-- OwaPage = ASP.auth_error_aspx --><html><head></head><body></body></html>");
  error.Record().m_dwRequestFlags = RequestFlag::DocumentViewForceSave;
  const auto errorCtx = error.Context();
  EXPECT_FALSE(errorCtx->m_spDom.IsBuilt());
  const CCountedPtr<CPLForm> form(CPLFormFactory::createForm(errorCtx.get()));
  EXPECT_TRUE(form);
  EXPECT_TRUE(errorCtx->m_spDom.IsBuilt());

  CLogCapture log;
  EXPECT_TRUE(plain.Context()->m_spDom.IsBuilt());
}

TEST(FormBase, LanguageAndCharacterSet) {
  const struct {
    const char* language;
    const char* contentType;
    bool valid;
    const char* languageAfter;
    LANGID langId;
    const char* charSet;
  } cases[] = {
      {"fr", "text/html; charset=iso-8859-1", true, "fr", 0x040C, "windows-1252"},
      {"en", "text/html", true, "en", 0x1009, "UTF-8"},
      {"xx", "text/html; charset=utf-8", false, "en", 0x1009, "utf-8"},
  };
  for (const auto& c : cases) {
    FormPage page("<html></html>", 0, c.language, c.contentType);
    auto ctx = page.Context();
    BareForm form(ctx.get());
    EXPECT_EQ(form.IsInstanceValid(), c.valid) << c.language;
    EXPECT_EQ(form.m_sUserLanguage, c.languageAfter) << c.language;
    EXPECT_EQ(form.m_wLangID, c.langId) << c.language;
    EXPECT_EQ(form.m_sCharSet, c.charSet) << c.language;
  }
}

TEST(FormFactory, IncompleteContextsGetNoForm) {
  FormPage page("<!-- OwaPage = ASP.forms_premium_readmessage_aspx --><html></html>");
  auto ctx = page.Context();
  EXPECT_EQ(CPLFormFactory::createForm(static_cast<CHXFormContext*>(nullptr)), nullptr);
  page.Record().m_pMyOwnContext = nullptr;
  EXPECT_EQ(CPLFormFactory::createForm(ctx.get()), nullptr);
  ctx->m_spDom = CCountedPtr<CDOMSource>();
  EXPECT_EQ(CPLFormFactory::createForm(ctx.get()), nullptr);
}

}  // namespace
