#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/request_flags.h"
#include "filter/result_codes.h"
#include "forms/form_page.h"
#include "forms/get_attribute.h"
#include "forms/pl_form_with_attachments.h"
#include "html/dom_source.h"

namespace {

using formtest::FormPage;

// The client part of an attachment form: SPANs with an "_attid" get a view
// flag, the others the rewriting of attachments without ID, which finds the
// ID of an allowed file on its WebReady link.
class AttachmentForm : public CPLFormWithAttachments {
 public:
  explicit AttachmentForm(CHXFormContext* ctx) : CPLForm(ctx), CPLFormWithAttachments(ctx, 1) {}
  DWORD Process() override { return 0; }
  DWORD ProcessAttachmentSPANelement(const CDOMElement& span, bool& bEnabled) override {
    std::string id;
    bEnabled = GetAttribute(span, "_attid", id) && !id.empty();
    m_seen.push_back(id);
    return bEnabled ? 0 : ModifyOWABlockedAttachmentWithoutAttIDSPANElement(span);
  }
  bool GetAttachmentID(const CDOMElement& span, std::string& id) override {
    return GetAttribute(span.getElementById("wvLnk"), "_attid", id) && !id.empty();
  }
  void GetViewAttachmentLinkHTML(std::string& html, const std::string& id, const std::string& name) override {
    html += "<a href='view?id=" + id + "'>" + name + "</a>";
  }
  bool IsDirectFileAccessEnabledByOWA(bool bPublicClient) const override {
    return bPublicClient ? m_public : m_private;
  }

  using CPLFormWithFiles::m_bOpenRestricted;
  using CPLFormWithFiles::m_bRichRestricted;
  using CPLFormWithFiles::m_bSaveRestricted;
  using CPLFormWithFiles::m_sBlockedExtensionText;
  using CPLFormWithFiles::m_sEmbeddedMessageText;
  using CPLFormWithFiles::m_sViewAttachmentText;
  std::vector<std::string> m_seen;
  bool m_public = false;
  bool m_private = true;
};

const char* const kEmptyPage =
    "<!-- OwaPage = ASP.forms_premium_readmessage_aspx --><html><head></head><body></body></html>";

TEST(FileRules, SettingsOfTheRequestsSet) {
  {
    FormPage page(kEmptyPage, 0);
    auto ctx = page.Context();
    AttachmentForm form(ctx.get());
    ASSERT_TRUE(form.IsInstanceValid());
    ci_string ext;
    bool blocked = true;
    form.GetFileExtensionAndBlockedFlag("setup.exe", ext, blocked);  // list not applied in set 0
    EXPECT_EQ(ext, "exe");
    EXPECT_FALSE(blocked);
    EXPECT_FALSE(form.m_bOpenRestricted || form.m_bSaveRestricted || form.m_bRichRestricted);
    // Texts from the resource library, the blocked-extension one included.
    EXPECT_EQ(form.m_sViewAttachmentText, "View Attachment");
    EXPECT_EQ(form.m_sBlockedExtensionText, "This file type is blocked.");
    EXPECT_EQ(form.m_sEmbeddedMessageText, "Embedded files of this type are blocked.");
  }
  FormPage page(kEmptyPage, 2);
  auto ctx = page.Context();
  AttachmentForm form(ctx.get());
  ASSERT_TRUE(form.IsInstanceValid());
  const struct {
    const char* name;
    const char* ext;
    bool blocked;
  } names[] = {{"REPORT.ZIP", "ZIP", true},
               {"a.b.Msi", "Msi", true},
               {"notes.txt", "txt", false},
               {"noext", "", false},
               {"trailing.", "", false}};
  for (const auto& n : names) {
    ci_string ext = "x";
    bool blocked = !n.blocked;
    EXPECT_EQ(0u, form.GetFileExtensionAndBlockedFlag(n.name, ext, blocked));
    EXPECT_EQ(ext, n.ext) << n.name;
    EXPECT_EQ(blocked, n.blocked) << n.name;
  }
  // Set 2 forbids saving; the client (127.0.0.1) is inside its ranges.
  EXPECT_FALSE(form.m_bOpenRestricted);
  EXPECT_TRUE(form.m_bSaveRestricted);
}

std::string FlagText(const PLContextMenuFlags& f) {
  std::string s;
  for (bool b : {f.bOpenVisible, f.bOpenEnabled, f.bSaveVisible, f.bSaveEnabled, f.bTextVisible, f.bTextEnabled,
                 f.bRichVisible, f.bRichEnabled}) {
    s += b ? '1' : '0';
  }
  return s;
}

TEST(FileRules, ContextMenuFlags) {
  // Open, Save, Text, Rich: visible and enabled each.
  const struct {
    const char* ext;
    DWORD level;
    bool blockedByPL;
    bool publicClient;
    DWORD result;
    const char* flags;
  } cases[] = {
      {"txt", 3, false, false, 0, "11111111"},
      {"txt", 2, false, false, 0, "11111111"},
      {"txt", 1, false, false, 0, "10101111"},
      {"txt", 1, true, false, 0, "10101010"},
      {"txt", 3, false, true, 0, "10101111"},   // OWA offers no direct access to public clients here
      {"doc", 3, false, false, 0, "11111100"},  // high-speed action 1: no Rich item
      {"zip", 3, false, false, 0, "11110000"},  // action 3: neither Text nor Rich
      {"txt", 4, false, false, HX_RC_INVALID_DATA, "00000000"},
      {"txt", 0, true, false, 0, "10101010"},
  };
  FormPage page(kEmptyPage, 0);
  auto ctx = page.Context();
  AttachmentForm form(ctx.get());
  for (const auto& c : cases) {
    page.Record().m_dwRequestFlags = c.publicClient ? RequestFlag::FBAPublicClient : 0;
    PLContextMenuFlags flags;
    flags.bOpenVisible = true;
    EXPECT_EQ(c.result, form.GetPLContextMenuFlags(c.ext, c.level, c.blockedByPL, flags)) << c.ext << c.level;
    EXPECT_EQ(FlagText(flags), c.flags) << c.ext << " level " << c.level;
  }
  // The product's restrictions take away what OWA allows.
  form.m_bOpenRestricted = form.m_bRichRestricted = true;
  page.Record().m_dwRequestFlags = 0;
  PLContextMenuFlags flags;
  form.GetPLContextMenuFlags("txt", 3, false, flags);
  EXPECT_EQ(FlagText(flags), "10111110");
}

// A block level the download refuses as invalid must not be offered on the
// page: whatever the client's address, Open and Save stay off.
TEST(FileRules, InvalidBlockLevelOffersNeitherOpenNorSave) {
  const char* const levels[] = {"1 ", " 1", "2x", "", "7"};
  std::string sets;
  for (int i = 0; i < 5; ++i) {
    sets += "<SETTING ID=\"" + std::to_string(90 + i) + "\" DESCR=\"d\"><ITEMS><ITEM ID=\"43\" DESCR=\"d\" VALUE=\"" +
            levels[i] + "\"/></ITEMS></SETTING>";
  }
  formtest::ExtraSettingSets extra(sets);
  for (int i = 0; i < 5; ++i) {
    FormPage page(kEmptyPage, 90 + i);
    auto ctx = page.Context();
    AttachmentForm form(ctx.get());
    ASSERT_TRUE(form.IsInstanceValid());
    PLContextMenuFlags flags;
    EXPECT_EQ(0u, form.GetPLContextMenuFlags("txt", 3, false, flags));
    EXPECT_EQ(FlagText(flags), "10101111") << "level <" << levels[i] << ">";
  }
}

TEST(FileRules, BuildAndThemeFromTheStyleSheetLinks) {
  FormPage page(
      "<html><head><link rel=stylesheet href=\"/owa/8.1.240.5/themes/base/premium.css\">"
      "<link type=\"TEXT/CSS\" href=\"8.1/base/premium.css\">"
      "<link type=\"text/css\" href=\"/owa/8.1.240.5/themes/blue/premium.css\"></head><body></body></html>");
  auto ctx = page.Context();
  AttachmentForm form(ctx.get());
  ci_string build;
  ci_string theme;
  EXPECT_TRUE(form.GetOWABuildAndCurrentOWAThemeFromCSSLinkTags("other.css", "PREMIUM.css", build, theme));
  EXPECT_EQ(build, "8.1.240.5");
  EXPECT_EQ(theme, "blue");
  EXPECT_FALSE(form.GetOWABuildAndCurrentOWAThemeFromCSSLinkTags("x.css", "y.css", build, theme));
  EXPECT_EQ(build, "");
}

const char* const kAttachments =
    "<!-- OwaPage = ASP.forms_premium_readmessage_aspx --><html><head></head><body><div id=divAtt>"
    "<span id=spnAtmt _attid=\"AA&amp;1\">a.txt</span>"
    "<span class=wvsn><a id=wvLnk href=#>Open as Web Page</a></span>"
    "<span id=spnAtmt _level=1>virus.exe</span>"
    "<span id=other>x</span>"
    "<span id=spnAtmt _level=2>Embedded item</span>"
    "<span id=spnAtmt _level=3>Plan.doc&#x200E; (10 KB)<span class=wvsn><a id=wvLnk _attid=B2>web</a></span></span>"
    "</div></body></html>";

TEST(Attachments, WalkRewritesEachKindOfSpan) {
  FormPage page(kAttachments);
  auto ctx = page.Context();
  AttachmentForm form(ctx.get());
  const CDOMElement container = ctx->m_spDom->getElementById("divAtt");
  ASSERT_FALSE(container.isUndefined());
  bool enabled = false;
  EXPECT_EQ(0u, form.ProcessAttachments(container, enabled));
  EXPECT_TRUE(enabled);
  EXPECT_EQ(form.m_seen, (std::vector<std::string>{"AA&1", "", "", ""}));
  const std::string blocked =
      "<a href='javascript:f_ShowExtBlockedMsg();' title=\"This file type is blocked.\">"
      "<img src=\"QLScripts/Pellora/1.9/Find_Blocked.GIF\" align='bottom' BORDER='0'></a>";
  const std::string embedded =
      "<a href='javascript:f_ShowExtBlockedMsg(1);' title=\"Embedded files of this type are blocked.\">"
      "<img src=\"QLScripts/Pellora/1.9/Find_Blocked.GIF\" align='bottom' BORDER='0'></a>";
  const std::string out = page.Applied();
  EXPECT_NE(out.find("<span id=spnAtmt _attid=\"AA&amp;1\">a.txt</span><span id=spnAtmt _level=1 "
                     "style=\"text-decoration: underline\">" +
                     blocked + "virus.exe</span>"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("_level=2 style=\"text-decoration: underline\">" + embedded + "Embedded item</span>"),
            std::string::npos)
      << out;
  // Allowed with a WebReady link: the client's view link under the file name
  // as the page shows it; the nested WebReady SPAN is removed.
  EXPECT_NE(out.find("_level=3 style=\"text-decoration: underline\"><a href='view?id=B2'>Plan.doc</a>Plan.doc&#x200E; "
                     "(10 KB)</span>"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("wvLnk"), std::string::npos) << out;
}

TEST(Attachments, LevelAttribute) {
  FormPage page(
      "<html><body><span id=s1 _level=2></span><span id=s2 _level=x></span><span id=s3 _level=4></span>"
      "<span id=s4></span><span id=s5 _level></span><span id=s6 _level=\"\"></span></body></html>");
  auto ctx = page.Context();
  AttachmentForm form(ctx.get());
  const struct {
    const char* id;
    DWORD result;
    DWORD level;
  } cases[] = {{"s1", 0, 2},
               {"s2", HX_RC_INVALID_DATA, 0},
               {"s3", HX_RC_INVALID_DATA, 4},
               {"s4", HX_RC_INVALID_DATA, 0},
               {"s5", HX_RC_INVALID_DATA, 0},
               {"s6", HX_RC_INVALID_DATA, 0}};
  for (const auto& c : cases) {
    DWORD level = 99;
    EXPECT_EQ(c.result, form.GetOWAAttachmentLevel(ctx->m_spDom->getElementById(c.id).getAttribute("_level"), level))
        << c.id;
    EXPECT_EQ(c.level, level) << c.id;
  }
}

}  // namespace
