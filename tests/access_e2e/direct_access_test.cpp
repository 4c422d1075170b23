// Direct downloads and the product's pseudo-requests, decided end to end by
// the module in the host, with settings sets 10 to 17: block levels 0, 1, 2,
// 2 with neither Open nor Save, 7 and -1 (out of range), 2 with Open alone
// off, and none, all but set 15 with the address range 10.0.0.1 to
// 10.0.255.254; set 11 lets multimedia be cached. Criteria 17 links to a set
// that does not exist, criteria 19 has no link.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "common/string_operation.h"
#include "filter/control_message.h"
#include "filter/pl_hx_context.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "host/hx_report.h"
#include "pipeline_e2e/pipeline_host.h"
#include "platform/http_filter.h"
#include "support/temp_dir.h"

namespace {

constexpr const char* kUA = "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1)\n";
// The module serves only requests with a user.
constexpr const char* kUser = "@user-account aclerk\n@user-domain EXAMPLE\n";
constexpr const char* kInside = "10.0.3.4";
constexpr const char* kOutside = "192.168.1.9";

HxHost& Host() {
  static HxHost* host = [] {
    namespace fs = std::filesystem;
    const fs::path tree = fs::path(HX_BINARY_DIR) / "direct_access_stage";
    const fs::path data = fs::path(HX_SOURCE_DIR) / "tests" / "access_e2e" / "data";
    std::error_code ec;
    fs::remove_all(tree, ec);
    fs::copy(fs::path(HX_BINARY_DIR) / "stage", tree, fs::copy_options::recursive, ec);
    fs::copy_file(data / "HXSettings.xml", tree / "Quenlith" / "Pellora" / "Settings" / "HXSettings.xml",
                  fs::copy_options::overwrite_existing, ec);
    fs::copy_file(data / "LinkCriteriaSettings.xml",
                  tree / "Quenlith" / "Common Files" / "Settings" / "LinkCriteriaSettings.xml",
                  fs::copy_options::overwrite_existing, ec);
    if (ec) ADD_FAILURE() << "cannot stage the direct-access settings: " << ec.message();
    // No directory answers: OWA's configuration stays empty.
    setenv("LDAPURI", "ldap://127.0.0.1:1", 1);
    return PipelineHost::Start(tree.string());
  }();
  return *host;
}

HxOutcome Get(int criteria, const std::string& target, const std::string& address = kInside,
              const std::string& directives = "") {
  return PipelineHost::Run(Host(), kUser + ("@criteria " + std::to_string(criteria)) + "\n@client-address " +
                                       address + "\n" + directives + "GET " + target + " HTTP/1.1\n" + kUA);
}

std::string H(const std::string& text) { return CUtil::HashString(text.c_str()); }

bool Refused(const HxOutcome& out) {
  return out.answerKind == HxAnswerKind::ModuleResponse && out.answer.rfind("HTTP/1.0 401 OK\r\n", 0) == 0;
}

const HxNotificationRecord& Auth(const HxOutcome& out) {
  static const HxNotificationRecord none{};
  const HxNotificationRecord* r = After(out, SF_NOTIFY_AUTH_COMPLETE);
  EXPECT_NE(nullptr, r);
  return r != nullptr ? *r : none;
}

// An attachment link of the product: item R, attachment chain A0, A1. The
// item hash covers the item id and the chain before the last attachment,
// joined and without its last character, as the viewer hashes it.
const std::string kChain = "id=R&attcnt=2&attid0=A0&attid1=A1";
const std::string kAttachment = "/owa/attachment.ashx?attach=1&" + kChain;
const std::string kProductAttachment = kAttachment + "&midh=" + H("RA") + "&aidh=" + H("A1");

TEST(PipelineDirectAccess, AttachmentDecisionMatrix) {
  const std::string product = "/owa/attachment.ashx?attach=1&" + kChain;  // the product link, rewritten
  // A front end passes the client's address on; the connection's address is
  // then only the front end's.
  const std::string frontEndInside = "@server-variable HTTP_X_Remote_Client_IP 10.0.9.9\n";
  const std::string frontEndOutside = "@server-variable HTTP_X_Remote_Client_IP 172.16.0.1\n";
  struct {
    int criteria;
    const char* address;
    std::string target;
    std::string finalUrl;  // empty: refused
    std::string directives = "";
  } cases[] = {
      // Level 0: the address alone decides; hashes change nothing.
      {10, kInside, kAttachment, kAttachment},
      {10, kOutside, kAttachment, ""},
      {10, kOutside, kProductAttachment, ""},
      {10, kOutside, kAttachment, kAttachment, frontEndInside},
      {10, kInside, kAttachment, "", frontEndOutside},
      // Level 1: everything goes, without the product's hashes.
      {11, kOutside, kAttachment, kAttachment},
      {11, kOutside, kProductAttachment, product},
      // Level 2: the product's own links, or the address for other links.
      {12, kOutside, kProductAttachment, product},
      {12, kInside, kAttachment, kAttachment},
      {12, kOutside, kAttachment, ""},
      {12, kOutside, kAttachment + "&midh=" + H("RA"), ""},
      // A wrong hash is refused even from an allowed address.
      {12, kInside, kAttachment + "&midh=" + H("RA") + "&aidh=" + H("A0"), ""},
      {12, kInside, kAttachment + "&midh=" + H("RA0") + "&aidh=" + H("A1"), ""},
      // A product link that may offer neither Open nor Save was made by hand;
      // one that may offer either is the product's.
      {13, kInside, kProductAttachment, ""},
      {16, kOutside, kProductAttachment, product},
      // A lone hash goes too.
      {11, kOutside, kAttachment + "&midh=1", kAttachment},
      {11, kOutside, kAttachment + "&aidh=1", kAttachment},
  };
  for (const auto& c : cases) {
    const HxOutcome out = Get(c.criteria, c.target, c.address, c.directives);
    const std::string what = std::to_string(c.criteria) + " " + c.address + " " + c.target + " " + c.directives;
    EXPECT_EQ(0u, Auth(out).result) << what;
    EXPECT_EQ(c.finalUrl.empty(), Refused(out)) << what;
    if (c.finalUrl.empty()) {
      EXPECT_EQ(static_cast<DWORD>(ControlMessageCompleted), Auth(out).controlMessage) << what;
    } else {
      EXPECT_EQ(static_cast<DWORD>(ControlMessageIgnore), Auth(out).controlMessage) << what;
      EXPECT_EQ(c.finalUrl, out.finalUrl) << what;
    }
  }
}

TEST(PipelineDirectAccess, UndecidableDownloadsAreRefused) {
  struct {
    int criteria;
    std::string target;
    DWORD result;
  } cases[] = {
      // Product hashes without the item id, or without attachment ids.
      {12, "/owa/attachment.ashx?attach=1&attcnt=1&attid0=A1&midh=" + H("") + "&aidh=" + H("A1"), 13},
      {12, "/owa/attachment.ashx?attach=1&id=R&midh=" + H("R") + "&aidh=" + H(""), 13},
      {12, "/owa/attachment.ashx?attach=1&id=R&attcnt=2&attid0=A0&midh=1&aidh=2", 13},
      // A block level outside 0 to 2.
      {14, kAttachment, 13},
      {14, "/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL=x", 13},
  };
  for (const auto& c : cases) {
    const HxOutcome out = Get(c.criteria, c.target, kInside);
    EXPECT_TRUE(Refused(out)) << c.target;
    EXPECT_EQ(c.result, Auth(out).result) << c.target;
    EXPECT_EQ(static_cast<DWORD>(ControlMessageCompleted), Auth(out).controlMessage) << c.target;
  }
}

HxOutcome Post(int criteria, const std::string& target, const std::string& address, const std::string& body) {
  return PipelineHost::Run(Host(), kUser + ("@criteria " + std::to_string(criteria)) + "\n@client-address " +
                                       address + "\nPOST " + target + " HTTP/1.1\n" + kUA +
                                       "Content-Type: application/x-www-form-urlencoded\nContent-Length: " +
                                       std::to_string(body.size()) + "\n\n" + body);
}

// A server that reads a parameter another way (the last of two, past a NUL,
// a name spelt with escapes or in another case) could fetch another file
// than the one decided on: at levels 0 and 2 such a download is refused,
// and an attachment request whose "attach" is not plainly 0 is checked.
TEST(PipelineDirectAccess, ParametersThatReadTwoWaysAreRefused) {
  const std::string other = "/owa/attachment.ashx?attach=1&id=R%00OTHER&attcnt=2&attid0=A0&attid1=A1";
  const std::string links = "&midh=" + H("RA") + "&aidh=" + H("A1");
  const std::string doc = "/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL=/docs/a.pdf";
  struct {
    int criteria;
    const char* address;
    std::string target;
    DWORD result;  // of authentication complete; the download is refused
  } cases[] = {
      {12, kOutside, other + links, 13},
      {12, kOutside, kProductAttachment + "&id=OTHER", 13},
      {12, kOutside, kProductAttachment + "&%69d=OTHER", 13},
      {12, kOutside, kProductAttachment + "&ID=OTHER", 13},
      {12, kOutside, kProductAttachment + "&attid1=B1", 13},
      {12, kOutside, kProductAttachment + "&attcnt=1", 13},
      {12, kOutside, kProductAttachment + "&aidh=" + H("A1"), 13},
      {12, kOutside, kProductAttachment + "&m%69dh=" + H("RA"), 13},
      {12, kInside, "/owa/attachment.ashx?attach=1&id=R%u0041&attcnt=1&attid0=A0&midh=1&aidh=2", 13},
      {10, kInside, kAttachment + "&id=OTHER", 13},
      {10, kInside, "/owa/attachment.ashx?attach=1&id=R&attcnt=1&attid0=A0%0d", 13},
      {10, kInside, doc + "&URL=/docs/b.pdf", 13},
      {12, kInside, doc + "&fidh=1&fidh=2", 13},
      // "attach" other than plainly 0 or 1 is a download, checked as such.
      {10, kOutside, "/owa/attachment.ashx?attach=0&attach=1&id=R", 0},
      {10, kOutside, "/owa/attachment.ashx?attach=1%00&id=R", 0},
      {10, kOutside, "/owa/attachment.ashx?attach=01&id=R", 0},
      {10, kOutside, "/owa/attachment.ashx?attach=1+&id=R", 0},
      {10, kOutside, "/owa/attachment.ashx?%61ttach=1&id=R", 0},
      {10, kOutside, "/owa/ev.owa?ns=Other&ns=UncDocument&ev=GetDoc&URL=/docs/a.pdf", 0},
      {10, kOutside, "/owa/ev.owa?ns=UncDocument&ev=GetDoc%00&URL=/docs/a.pdf", 0},
      {10, kOutside, "/owa/ev.owa?ns=+UncDocument+&ev=GetDoc%20&URL=/docs/a.pdf", 0},
      // A parser of names trims every Unicode white space, U+00A0 to U+3000,
      // and the web client's .NET U+200B and U+FEFF too; it compares without
      // case, to which U+017F is an "s".
      {10, kOutside, "/owa/ev.owa?ns=UncDocument%C2%A0&ev=%C2%85GetDoc&URL=/docs/a.pdf", 0},
      {12, kOutside, "/owa/ev.owa?ns=%E3%80%80UncDocument&ev=GetDoc%E2%80%83&URL=/docs/a.pdf", 0},
      {12, kOutside, "/owa/ev.owa?ns=UncDocument%E2%80%8B&ev=%EF%BB%BFGetDoc&URL=/docs/a.pdf", 0},
      {12, kOutside, "/owa/ev.owa?ns=%C5%BFharepointDocument&ev=GetDoc&URL=/docs/a.pdf", 0},
      {10, kOutside, "/owa/ev.owa?ns%20=UncDocument&ev=GetDoc;x=1&URL=/docs/a.pdf", 0},
      {12, kOutside, "/owa/ev.owa?ns=%EF%BC%B5ncDocument&%EF%BD%85v%C2%AD=GetDoc&URL=/docs/a.pdf", 0},
      // A name without "=" is no name to the server, which looks in a cookie.
      {10, kOutside, "/owa/ev.owa?ns&ev=GetDoc&URL=/docs/a.pdf", 0},
      // Without a "URL" in the query the server may take one from a cookie.
      {10, kInside, "/owa/ev.owa?ns=UncDocument&ev=GetDoc", 13},
      {12, kInside, "/owa/ev.owa?ns=SharepointDocument&ev=GetDoc&fidh=1", 13},
      // The document's "URL" is read the same way as "ns" and "ev".
      {10, kOutside, "/owa/ev.owa?ns=UncDocument&ev=GetDoc&%u0055RL=%5c%5cfs%5cx.pdf", 13},
      {12, kOutside, "/owa/ev.owa?ns=UncDocument&ev=GetDoc&%u0055RL=%5c%5cfs%5cx.pdf", 13},
      {12, kOutside, "/owa/ev.owa?ns=UncDocument&ev=GetDoc&%U0055RL=%5c%5cfs%5cx.pdf", 13},
      {12, kOutside, kProductAttachment + "&%C4%B1d=OTHER", 13},
      {10, kOutside, "/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL%00=%5c%5cfs%5cx.pdf", 13},
      {12, kOutside, "/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL%00x=%5c%5cfs%5cx.pdf", 13},
  };
  for (const auto& c : cases) {
    const HxOutcome out = Get(c.criteria, c.target, c.address);
    EXPECT_TRUE(Refused(out)) << c.criteria << " " << c.target;
    EXPECT_EQ(c.result, Auth(out).result) << c.criteria << " " << c.target;
  }
  // A POST is checked as a GET is; a body the module cannot read leaves it
  // undecided.
  EXPECT_TRUE(Refused(Post(10, kAttachment, kOutside, "")));
  EXPECT_FALSE(Refused(Post(10, kAttachment, kInside, "")));
  EXPECT_FALSE(Refused(Post(12, kProductAttachment, kOutside, "")));
  const HxOutcome body = Post(12, kProductAttachment, kOutside, "id=OTHER");
  EXPECT_TRUE(Refused(body));
  EXPECT_EQ(13u, Auth(body).result);
  // A body may carry "attach" in a form the host does not show the module;
  // a document named by a POST is fetched as by a GET.
  EXPECT_TRUE(Refused(Post(10, "/owa/attachment.ashx?id=R&attcnt=1&attid0=A0", kOutside, "x=1")));
  // So may a chunked body, whose length no header gives, and the body of
  // any other method, which the host does not read as a form.
  const auto send = [](const std::string& method, const std::string& headersAndBody) {
    return PipelineHost::Run(Host(), kUser + std::string("@criteria 12\n@client-address ") + kOutside + "\n" + method +
                                         " /owa/attachment.ashx?id=R&attcnt=1&attid0=A0 HTTP/1.1\n" + kUA +
                                         "Content-Type: application/x-www-form-urlencoded\n" + headersAndBody);
  };
  EXPECT_TRUE(Refused(send("POST", "Transfer-Encoding: chunked\n\n8\nattach=1\n0\n")));
  EXPECT_TRUE(Refused(send("PUT", "Content-Length: 8\n\nattach=1")));
  EXPECT_TRUE(Refused(send("PUT", "content-length: 8\n\nattach=1")));
  EXPECT_TRUE(Refused(Post(10, doc, kOutside, "")));
  // Without "attach", or with "attach=0", it is no download: it goes on
  // unchanged (what may answer it is checked apart).
  for (const char* target : {"/owa/attachment.ashx?id=R", "/owa/attachment.ashx?attach=0&id=R"}) {
    const HxOutcome out = Get(10, target, kInside);
    EXPECT_FALSE(Refused(out)) << target;
    EXPECT_EQ(target, out.finalUrl);
  }
}

// An exception while a download is decided (here the server's answer for
// the client's address) must not let the download through.
HxModule g_module;
PFN_GET_SERVER_VARIABLE g_hostGetServerVariable = nullptr;

BOOL ThrowingGetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPVOID buffer, LPDWORD size) {
  if (std::string(name) == "HTTP_X_Remote_Client_IP") throw std::runtime_error("injected failure");
  return g_hostGetServerVariable(pfc, name, buffer, size);
}

DWORD FilterProcWithFailingServer(CDLLContext* pContext) {
  if (pContext->m_dwNotificationType == SF_NOTIFY_AUTH_COMPLETE && pContext->m_pFilterContext != nullptr) {
    g_hostGetServerVariable = pContext->m_pFilterContext->GetServerVariable;
    pContext->m_pFilterContext->GetServerVariable = &ThrowingGetServerVariable;
  }
  return g_module.HttpFilterProc(pContext);
}

// A host that drives the staged module through `filterProc`, which may
// change what the module is handed before passing it on.
void StartWrappedHost(HxHost& host, DWORD (*filterProc)(CDLLContext*)) {
  Host();  // stages the tree
  std::string error;
  ASSERT_TRUE(g_module.Load(HxModulePathInInstall(std::string(HX_BINARY_DIR) + "/direct_access_stage"), error))
      << error;
  ASSERT_TRUE(host.Start([](HTTP_FILTER_VERSION* v) { return g_module.GetFilterVersion(v); }, filterProc,
                         [] { return static_cast<DWORD>(0); }, error))
      << error;
}

TEST(PipelineDirectAccess, ExceptionRefusesTheDownload) {
  HxHost failing;
  ASSERT_NO_FATAL_FAILURE(StartWrappedHost(failing, &FilterProcWithFailingServer));
  for (int criteria : {10, 12}) {
    for (const char* address : {kInside, kOutside}) {
      const HxOutcome out = PipelineHost::Run(failing, kUser + ("@criteria " + std::to_string(criteria)) +
                                                           "\n@client-address " + address + "\nGET " + kAttachment +
                                                           " HTTP/1.1\n" + kUA);
      EXPECT_TRUE(Refused(out)) << criteria << address;
      EXPECT_EQ(HX_RC_INTERNAL_ERROR, Auth(out).result) << criteria << address;
    }
  }
}

// A host that refuses to rewrite the URL, or fails while it does: the
// viewer would take the levels the client sent, so the request is refused
// instead.
BOOL RefusingSetHeader(HTTP_FILTER_CONTEXT*, LPSTR, LPSTR) { return FALSE; }
BOOL ThrowingSetHeader(HTTP_FILTER_CONTEXT*, LPSTR, LPSTR) { throw std::runtime_error("injected failure"); }

PFN_SET_HEADER g_preProcSetHeader = nullptr;

DWORD FilterProcThatCannotRewrite(CDLLContext* pContext) {
  if (pContext->m_dwNotificationType == SF_NOTIFY_PREPROC_HEADERS && pContext->m_pNotification != nullptr) {
    static_cast<HTTP_FILTER_PREPROC_HEADERS*>(pContext->m_pNotification)->SetHeader = g_preProcSetHeader;
  }
  return g_module.HttpFilterProc(pContext);
}

TEST(PipelineDirectAccess, ViewerLevelsThatCannotBeRemovedRefuseTheRequest) {
  HxHost failing;
  ASSERT_NO_FATAL_FAILURE(StartWrappedHost(failing, &FilterProcThatCannotRewrite));
  for (PFN_SET_HEADER setHeader : {&RefusingSetHeader, &ThrowingSetHeader}) {
    g_preProcSetHeader = setHeader;
    const HxOutcome out = PipelineHost::Run(
        failing, kUser + std::string("@criteria 11\nGET /X-Pellora/bin/pellora.srf?cmd=show&owaal=3 HTTP/1.1\n") + kUA);
    EXPECT_TRUE(Refused(out));
    EXPECT_EQ(nullptr, After(out, SF_NOTIFY_AUTH_COMPLETE));
  }
}

// A host that cannot set the repaired cookie of a download whose cookie
// holds a comma: the download was not decided and must not go on, at every
// level that restricts downloads.
PFN_SET_HEADER g_authSetHeader = nullptr;

BOOL CookieRefusingSetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPSTR value) {
  if (std::string(name) == "Cookie:") return FALSE;
  return g_authSetHeader(pfc, name, value);
}

DWORD FilterProcThatCannotSetTheCookie(CDLLContext* pContext) {
  if (pContext->m_dwNotificationType == SF_NOTIFY_AUTH_COMPLETE && pContext->m_pNotification != nullptr) {
    auto* calls = static_cast<HTTP_FILTER_AUTH_COMPLETE_INFO*>(pContext->m_pNotification);
    g_authSetHeader = calls->SetHeader;
    calls->SetHeader = &CookieRefusingSetHeader;
  }
  return g_module.HttpFilterProc(pContext);
}

TEST(PipelineDirectAccess, CookieThatCannotBeRepairedRefusesTheDownload) {
  HxHost failing;
  ASSERT_NO_FATAL_FAILURE(StartWrappedHost(failing, &FilterProcThatCannotSetTheCookie));
  for (int criteria : {10, 11, 12}) {
    const HxOutcome out = PipelineHost::Run(failing, kUser + ("@criteria " + std::to_string(criteria)) +
                                                         "\n@client-address " + kInside + "\nGET " + kAttachment +
                                                         " HTTP/1.1\n" + kUA + "Cookie: a=1,bb=22\n");
    EXPECT_EQ(criteria != 11, Refused(out)) << criteria;
    EXPECT_EQ(HX_RC_MISSING, Auth(out).result) << criteria;
  }
}

// A refusal whose page cannot be made (here the module's own context is
// gone when the page is due) still ends the download: it never goes on.
CDLLContext* g_record = nullptr;
CPLHXContext* g_takenContext = nullptr;

BOOL ContextTakingGetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPVOID buffer, LPDWORD size) {
  if (g_takenContext == nullptr && g_record->m_pMyOwnContext != nullptr) {
    g_takenContext = g_record->m_pMyOwnContext;
    g_record->m_pMyOwnContext = nullptr;
  }
  return g_hostGetServerVariable(pfc, name, buffer, size);
}

DWORD FilterProcThatLosesTheContext(CDLLContext* pContext) {
  if (pContext->m_dwNotificationType != SF_NOTIFY_AUTH_COMPLETE || pContext->m_pFilterContext == nullptr) {
    return g_module.HttpFilterProc(pContext);
  }
  g_record = pContext;
  g_takenContext = nullptr;
  g_hostGetServerVariable = pContext->m_pFilterContext->GetServerVariable;
  pContext->m_pFilterContext->GetServerVariable = &ContextTakingGetServerVariable;
  const DWORD result = g_module.HttpFilterProc(pContext);
  // End of request frees one context; the other goes here.
  if (pContext->m_pMyOwnContext == nullptr) {
    pContext->m_pMyOwnContext = g_takenContext;
  } else {
    delete g_takenContext;
  }
  return result;
}

TEST(PipelineDirectAccess, RefusalWithoutItsPageStillEndsTheDownload) {
  HxHost failing;
  ASSERT_NO_FATAL_FAILURE(StartWrappedHost(failing, &FilterProcThatLosesTheContext));
  for (int criteria : {10, 12}) {
    const HxOutcome out = PipelineHost::Run(failing, kUser + ("@criteria " + std::to_string(criteria)) +
                                                         "\n@client-address " + kOutside + "\nGET " + kAttachment +
                                                         " HTTP/1.1\n" + kUA);
    EXPECT_NE(nullptr, g_takenContext) << criteria;
    EXPECT_EQ(static_cast<DWORD>(ControlMessageCompleted), Auth(out).controlMessage) << criteria;
    EXPECT_NE(HxAnswerKind::ServerResponse, out.answerKind) << criteria;
  }
}

// The handlers that serve files answer other methods as a GET: such a
// request is decided as that GET would be. A HEAD carries no file.
TEST(PipelineDirectAccess, OtherMethodsAreDecidedAsGet) {
  const std::string doc = "/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL=/docs/a.pdf";
  // Method names are case-sensitive: only "HEAD" is one.
  for (const char* method : {"PUT", "OPTIONS", "PROPFIND", "DELETE", "X-ANY", "head", "Head", "hEaD"}) {
    for (const std::string& target : {kAttachment, doc}) {
      for (const char* address : {kInside, kOutside}) {
        const HxOutcome out =
            PipelineHost::Run(Host(), kUser + std::string("@criteria 10\n@client-address ") + address + "\n" +
                                          method + " " + target + " HTTP/1.1\n" + kUA);
        EXPECT_EQ(address == kOutside, Refused(out)) << method << " " << target << " " << address;
      }
    }
  }
  const HxOutcome head = PipelineHost::Run(
      Host(), kUser + std::string("@criteria 10\n@client-address ") + kOutside + "\nHEAD " + kAttachment + " HTTP/1.1\n" + kUA);
  EXPECT_FALSE(Refused(head));
  EXPECT_EQ(nullptr, After(head, SF_NOTIFY_AUTH_COMPLETE));
}

// A query that names a document event is a download whatever carries the
// document's "URL": where the module cannot read it (a body in any form, by
// any method, in any coding) the levels that check downloads refuse it as
// undecided.
TEST(PipelineDirectAccess, DocumentNamedWhereTheModuleCannotReadIt) {
  const auto send = [](int criteria, const std::string& method, const std::string& target,
                       const std::string& headersAndBody) {
    return PipelineHost::Run(Host(), kUser + ("@criteria " + std::to_string(criteria)) + "\n@client-address " +
                                         kOutside + "\n" + method + " " + target + " HTTP/1.1\n" + kUA + headersAndBody);
  };
  const auto sized = [](const std::string& type, const std::string& body) {
    return "Content-Type: " + type + "\nContent-Length: " + std::to_string(body.size()) + "\n\n" + body;
  };
  const std::string form = "application/x-www-form-urlencoded";
  const std::string url = "URL=%5c%5cfs01%5cteam%5csecret.pdf";
  const std::string multipart =
      "--b\r\nContent-Disposition: form-data; name=\"URL\"\r\n\r\n\\\\fs01\\team\\secret.pdf\r\n--b--\r\n";
  const std::string namingEvent =
      "--b\r\nContent-Disposition: form-data; name=\"ns\"\r\n\r\nUncDocument\r\n"
      "--b\r\nContent-Disposition: form-data; name=\"ev\"\r\n\r\nGetDoc\r\n";
  const struct {
    std::string method;
    std::string query;
    std::string headersAndBody;
  } cases[] = {
      {"POST", "ns=UncDocument&ev=GetDoc", sized("multipart/form-data; boundary=b", multipart)},
      {"POST", "ns=UncDocument&ev=GetDoc", sized("text/xml", "<params><URL>\\\\fs01\\team\\secret.pdf</URL></params>")},
      {"POST", "ns=SharepointDocument&ev=GetDoc", sized("application/json", "{\"URL\":\"http://sp/docs/a.pdf\"}")},
      {"POST", "ns=UncDocument&ev=GetDoc", "Content-Type: " + form + "\nTransfer-Encoding: chunked\n\n22\n" + url + "\n0\n"},
      {"PUT", "ns=UncDocument&ev=GetDoc", sized(form, url)},
      {"GET", "ns=UncDocument&ev=GetDoc", sized(form, url)},
      {"GET", "ns=SharepointDocument&ev=GetDoc", sized(form, url)},
      {"get", "%6es=UncDocument&ev=getdoc", sized(form, url)},
      // The body may name the event too where the query leaves it out.
      {"POST", "oeh=1", sized("multipart/form-data; boundary=b", namingEvent + multipart)},
      {"PUT", "ev=GetDoc&URL=/docs/a.pdf", sized(form, "ns=UncDocument")},
  };
  for (const auto& c : cases) {
    for (int criteria : {10, 12}) {
      const HxOutcome out = send(criteria, c.method, "/owa/ev.owa?" + c.query, c.headersAndBody);
      EXPECT_TRUE(Refused(out)) << criteria << " " << c.method << " " << c.query << "\n" << c.headersAndBody;
      EXPECT_EQ(13u, Auth(out).result) << criteria << " " << c.method << " " << c.query;
    }
    // Level 1 checks no download.
    EXPECT_FALSE(Refused(send(11, c.method, "/owa/ev.owa?" + c.query, c.headersAndBody))) << c.method << " " << c.query;
  }
  // Another event names no document; a GetDoc whose "URL" is in no query
  // or body may have it in a cookie, which the server's look-up falls back to.
  EXPECT_FALSE(Refused(send(10, "POST", "/owa/ev.owa?ns=UncListView&ev=Sort", sized(form, url))));
  EXPECT_TRUE(Refused(send(10, "GET", "/owa/ev.owa?ns=UncDocument&ev=GetDoc", "Cookie: " + url + "\n")));
  // So may the event's names.
  EXPECT_TRUE(Refused(send(12, "GET", "/owa/ev.owa?URL=/docs/a.pdf", "Cookie: a=1, ns=UncDocument; EV=GetDoc\n")));
  EXPECT_TRUE(Refused(send(12, "POST", "/owa/ev.owa?URL=/docs/a.pdf", "Cookie: ns=UncDocument; ev=GetDoc\n")));
  // A cookie's name is trimmed as every parameter name is: Unicode white
  // space and format characters, and the Latin-1 blanks 0x85 and 0xA0, on
  // either side.
  for (const std::string blank : {"\u00A0", "\u3000", "\u2028", "\u200B", "\xA0", "\x85"}) {
    for (const std::string& cookie : {"x=1; " + blank + "ns=UncDocument; " + blank + "ev=GetDoc",
                                      "x=1; ns" + blank + "=UncDocument; ev" + blank + "=GetDoc"}) {
      EXPECT_TRUE(Refused(send(10, "GET", "/owa/ev.owa?URL=/docs/a.pdf", "Cookie: " + cookie + "\n"))) << cookie;
    }
  }
}

// Rows for the method, the body and the user: a body read by an unknown
// method ("get", "head") or by a GET makes the product link's ids undecided;
// a body may name the document's event to the server though the query names
// another; a request without a user is refused where downloads are checked.
TEST(PipelineDirectAccess, BodiesAndAnonymousDownloadsAreUndecided) {
  const auto send = [](int criteria, const char* address, const std::string& method, const std::string& target,
                       const std::string& body, bool user = true) {
    return PipelineHost::Run(
        Host(), (user ? std::string(kUser) : std::string()) + "@criteria " + std::to_string(criteria) +
                    "\n@client-address " + address + "\n" + method + " " + target + " HTTP/1.1\n" + kUA +
                    (body.empty() ? std::string()
                                  : "Content-Type: application/x-www-form-urlencoded\nContent-Length: " +
                                        std::to_string(body.size()) + "\n\n" + body));
  };
  for (const char* method : {"GET", "get", "head"}) {
    EXPECT_TRUE(Refused(send(12, kOutside, method, kProductAttachment, "attid1=EVIL"))) << method;
    EXPECT_FALSE(Refused(send(12, kOutside, method, kProductAttachment, ""))) << method;
  }
  EXPECT_TRUE(Refused(send(10, kOutside, "PUT", "/owa/ev.owa?ns=Other&ev=GetDoc&URL=/docs/a.pdf", "ns=UncDocument")));
  for (int criteria : {10, 12}) {
    const HxOutcome out = send(criteria, kInside, "GET", kAttachment, "", false);
    EXPECT_TRUE(Refused(out)) << criteria;
  }
  EXPECT_FALSE(Refused(send(11, kInside, "GET", kAttachment, "", false)));
}

// At level 0 nothing may leave the ranges: an inline fetch from outside
// them (no "attach", as the images of a message are fetched) goes on, but
// only an image shown inline may answer it.
TEST(PipelineDirectAccess, InlineFetchesFromOutsideLevelZeroAnswerOnlyImages) {
  const std::string image = "/owa/attachment.ashx?id=R&attcnt=1&attid0=A0";
  struct {
    int criteria;
    const char* address;
    std::string response;  // directives of the server's answer
    bool refused;
  } cases[] = {
      {10, kOutside, "@response-content-type image/png\n", false},
      {10, kOutside, "@response-content-type IMAGE/JPEG; name=a.jpg\n", false},
      {10, kOutside, "@response-content-type image/gif\n@response-header Content-Disposition inline; filename=a.gif\n", false},
      {10, kOutside, "@response-content-type image/png\n@response-status 304\n", false},
      {10, kOutside, "@response-content-type text/html\n@response-status 304\n", false},
      {10, kOutside, "@response-content-type image/webp\n@response-header Content-Disposition inline\n", false},
      {10, kOutside, "@response-content-type text/html\n", true},
      {10, kOutside, "@response-content-type application/pdf\n", true},
      {10, kOutside, "@response-content-type image/svg+xml\n", true},
      {10, kOutside, "@response-content-type image/png, text/html\n", true},
      // Only the types browsers show inline, named by one header read whole.
      {10, kOutside, "@response-content-type image/\n", true},
      {10, kOutside, "@response-content-type image/tiff\n", true},
      {10, kOutside, "@response-content-type image/svg\n", true},
      {10, kOutside, "@response-content-type image/png;x, text/html\n", true},
      {10, kOutside, "@response-content-type image/png\n@response-header Content-Type text/html\n", true},
      {10, kOutside,
       "@response-content-type image/png\n@response-header Content-Disposition inline\n"
       "@response-header Content-Disposition attachment\n",
       true},
      {10, kOutside, "@response-content-type text/html\n@response-status 100\n", true},
      {10, kOutside, "@response-content-type image/png\n@response-header Content-Disposition attachment; filename=a.png\n", true},
      {10, kOutside, "@response-content-type image/png\n@response-header Content-Disposition attachment; filename=\"a.png\n", true},
      {10, kOutside, "@response-content-type image/png\n@response-header Content-Disposition x-save\n", true},
      {10, kOutside, "@response-content-type text/html\n@response-status 404\n", true},
      // From inside the ranges, and at levels 1 and 2, inline answers go on.
      {10, kInside, "@response-content-type application/pdf\n", false},
      {11, kOutside, "@response-content-type application/pdf\n", false},
      {12, kOutside, "@response-content-type application/pdf\n", false},
  };
  for (const auto& c : cases) {
    for (const std::string& target : {image, image + "&attach=0"}) {
      const HxOutcome out = Get(c.criteria, target, c.address, c.response);
      const std::string what = std::to_string(c.criteria) + " " + c.address + " " + c.response + target;
      EXPECT_EQ(c.refused, Refused(out)) << what;
      EXPECT_EQ(target, out.finalUrl) << what;
      if (!c.refused) {
        EXPECT_EQ(HxAnswerKind::ServerResponse, out.answerKind) << what;
      }
    }
  }
}

TEST(PipelineDirectAccess, LinkThatReadsAsLevelOneIsReportedOncePerLoad) {
  // Criteria 17 to 19 are asked for by this test only.
  CTempDir dir;
  const std::string events = dir.Path() + "events.txt";
  setenv("HX_EVENTLOG_FILE", events.c_str(), 1);
  for (int i = 0; i < 2; ++i) {
    for (int criteria : {17, 18, 19}) EXPECT_FALSE(Refused(Get(criteria, kAttachment, kOutside)));
  }
  unsetenv("HX_EVENTLOG_FILE");
  const std::string all = (std::stringstream() << std::ifstream(events).rdbuf()).str();
  for (const char* text : {"settings <99> (criteria <17>) cannot be read", "settings <17> (criteria <18>) cannot be read",
                           "settings <0> (criteria <19>) cannot be read"}) {
    const size_t first = all.find(text);
    EXPECT_NE(std::string::npos, first) << text << "\n" << all;
    EXPECT_EQ(std::string::npos, all.find(text, first + 1)) << text << "\n" << all;
  }
}

TEST(PipelineDirectAccess, InvalidBlockLevelIsReportedOncePerLoad) {
  // Set 15 (level -1) is asked for by this test only.
  CTempDir dir;
  const std::string events = dir.Path() + "events.txt";
  setenv("HX_EVENTLOG_FILE", events.c_str(), 1);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Refused(Get(15, kAttachment)));
  unsetenv("HX_EVENTLOG_FILE");
  const std::string all = (std::stringstream() << std::ifstream(events).rdbuf()).str();
  const size_t first = all.find("block level <-1> of settings <15> is invalid");
  ASSERT_NE(std::string::npos, first) << all;
  EXPECT_EQ(std::string::npos, all.find("is invalid", first + 40)) << all;
}

TEST(PipelineDirectAccess, DocumentViewFiles) {
  const std::string url = "/docs/report.pdf";
  const std::string doc = "/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL=" + url;
  // Level 1: the hash goes, and a force-save id left "unresolved" with it.
  HxOutcome out = Get(11, doc + "&id=unresolved&fidh=" + H(url), kOutside);
  EXPECT_FALSE(Refused(out));
  EXPECT_EQ(doc, out.finalUrl);
  EXPECT_EQ(0x800u, Auth(out).requestFlags & 0x800u);
  EXPECT_EQ(static_cast<DWORD>(ControlMessageNone), Auth(out).controlMessage);
  out = Get(11, doc + "&fidh=" + H(url) + "&id=R", kOutside);
  EXPECT_EQ(doc + "&id=R", out.finalUrl);
  EXPECT_EQ(0u, Auth(out).requestFlags & 0x800u);

  // Level 2: without a directory, OWA gives every file the blocked level, so
  // even a valid product link offers neither Open nor Save.
  EXPECT_TRUE(Refused(Get(12, doc + "&fidh=" + H(url), kOutside)));
  EXPECT_TRUE(Refused(Get(12, doc + "&fidh=" + H("/docs/other.pdf"), kInside)));
  EXPECT_FALSE(Refused(Get(12, doc, kInside)));
  EXPECT_TRUE(Refused(Get(12, doc, kOutside)));

  // A name a script's escape() spelt with "%uXXXX" reads one way in level,
  // however it is decoded: the ranges decide as for its UTF-8 twin.
  const std::string escaped = "/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL=%5c%5cfs%5cR%u00E9sum%u00E9.pdf";
  for (int criteria : {10, 12}) {
    EXPECT_FALSE(Refused(Get(criteria, escaped, kInside))) << criteria;
    EXPECT_TRUE(Refused(Get(criteria, escaped, kOutside))) << criteria;
  }
}

TEST(PipelineDirectAccess, AccessDeniedPageBytes) {
  const std::string body =
      "<HTML><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
      "<HEAD><TITLE>Pellora</TITLE></HEAD>\n<BODY><P align=center><b>Quenlith Pellora</b><br></P>"
      "<P align=center><FONT FACE=\"Verdana\" SIZE=\"2\"><b>"
      "Access denied. You are not allowed to open this attachment or document directly.</b></P></BODY></HTML>";
  const std::string expected = "HTTP/1.0 401 OK\r\nContent-Length: " + std::to_string(body.size()) +
                               "\r\nContent-Type: text/html\r\n\r\n" + body;
  EXPECT_EQ(expected, Get(10, kAttachment, kOutside).answer);
}

// A server decodes and normalises the path before it picks the handler: every
// spelling of a download link is checked as the link itself, and a path it
// cannot read safely never reaches the module.
TEST(PipelineDirectAccess, PathsAreCheckedAsTheServerRoutesThem) {
  const std::string query = "?attach=1&" + kChain;
  const std::string doc = "?ns=UncDocument&ev=GetDoc&URL=/docs/report.pdf";
  const std::string mail = "@exchange-base-path /mail/\n";
  struct {
    std::string target;
    std::string directives = "";
  } spellings[] = {
      {"/owa/attachment%2eashx" + query},     {"/owa/%61ttachment.ashx" + query},
      {"/%6fwa/attachment.ashx" + query},     {"/owa\\attachment.ashx" + query},
      {"/./owa/attachment.ashx" + query},     {"/x/../owa/attachment.ashx" + query},
      {"/OWA//Attachment.ashx;x" + query},    {"/owa/ev.owa;x" + doc},
      {"/owa/ev%2eowa" + doc},                {"/owa/ev.owa/x" + doc},
      {"/mail/attachment.ashx" + query, mail},
  };
  for (const auto& c : spellings) {
    const HxOutcome out = Get(10, c.target, kOutside, c.directives);
    EXPECT_TRUE(Refused(out)) << c.target;
    EXPECT_EQ(c.target, out.finalUrl) << c.target;
  }
  // The product's own link from inside the ranges goes on as sent.
  EXPECT_EQ("/owa/attachment.ashx" + query, Get(10, "/owa/attachment.ashx" + query).finalUrl);
  // A download that goes on without the product's hashes keeps the path as
  // sent: the server routes the forwarded URL again.
  EXPECT_EQ("/owa/%61ttachment%2eashx/x?attach=1&id=R",
            Get(11, "/owa/%61ttachment%2eashx/x?attach=1&id=R&midh=1", kOutside).finalUrl);

  // Nor does a segment a server's file names read as another name.
  for (const char* path : {"/owa/attachment.ashx%2f", "/owa/attachment.ashx%00", "/../owa/attachment.ashx",
                           "/owa/%C0%AEttachment.ashx", "/owa/ev.owa.", "/owa/ev.owa%20", "/owa/ev.owa%09",
                           "/owa/ev.owa::$DATA", "/owa./attachment.ashx", "/owa%20/attachment.ashx",
                           "/owa/attachment.ashx.", "/X-Pellora/bin/pellora.srf.", "/X-Pellora/bin/pellora.srf%20",
                           "/X-Pellora/bin./pellora.srf", "/owa/attachment%2eashx%3Fid=OTHER%23",
                           "/owa/ev.owa/attachment.ashx", "/owa/ev.owa/x/attachment.ashx", "/owa/attachment.ashx/ev.owa",
                           "/X-Pellora/bin/PELLOR~1.SRF", "/X-PELL~1/bin/pellora.srf"}) {
    HxRequest request;
    std::string error;
    ASSERT_TRUE(ParseRequestDescription(kUser + ("@criteria 10\nGET " + (path + query)) + " HTTP/1.1\n" + kUA, "",
                                        request, error))
        << error;
    const HxOutcome out = Host().Run(request);
    EXPECT_EQ(HxAnswerKind::HostRefusal, out.answerKind) << path;
    EXPECT_EQ(0u, out.answer.rfind("HTTP/1.1 400 Bad Request\r\n", 0)) << path;
    EXPECT_TRUE(out.notifications.empty()) << path;
    EXPECT_NE(std::string::npos, HxFormatOutcome(request, out).find("refused by the host: 400 Bad Request")) << path;
  }
  // Nor does a head a server could frame otherwise, at any level.
  for (const char* criteria : {"10", "12"}) {
    HxRequest request;
    std::string error;
    ASSERT_TRUE(ParseRequestDescription(kUser + ("@criteria " + std::string(criteria)) +
                                            "\nPOST /owa/ev.owa?ns=UncDocument&ev=GetDoc HTTP/1.1\n" + kUA +
                                            "Content-Length : 5\n\nURL=x",
                                        "", request, error))
        << error;
    const HxOutcome out = Host().Run(request);
    EXPECT_EQ(HxAnswerKind::HostRefusal, out.answerKind) << criteria;
    EXPECT_TRUE(out.notifications.empty()) << criteria;
  }
}

std::string Base64(std::string text) {
  CStringOperation::Encode64(text);
  return text;
}

TEST(PipelineDirectAccess, PseudoRequestTargets) {
  const std::string viewer = "/X-Pellora/bin/pellora.srf";
  const std::string fn = Base64("dir/report.pdf");
  struct {
    std::string target;
    std::string finalUrl;
  } cases[] = {
      {"/X-Pellora/cmd/close?path=abc", viewer + "?cmd=close&path=path=abc"},
      {"/X-Pellora/cmd/print?path=abc", viewer + "?cmd=print&path=path=abc"},
      {"/X-Pellora/cmd/menu?x=1", viewer + "?cmd=menu&x=1"},
      {"/X-Pellora/scripts/GetFile.js?v=2", viewer + "?cmd=GetFile&v=2"},
      // The multimedia key goes with its query string.
      {"/X-Pellora/cmd/print?MMKey123&x=1", viewer + "?cmd=print&path="},
      // A conversion carries OWA's level of the document (blocked without a
      // directory); a level the client sent never reaches the viewer.
      {"/X-Pellora/bin/view.htm?owaal=3&fn=" + fn + "&OWAAL=3", viewer + "?fn=" + fn + "&owaal=1"},
      {"/X-Pellora/cmd/show/file/a/doc.htm?aid=A&mid=M&bld=B&thm=T&prexp=P&m65l64x=X",
       viewer + "?cmd=show&cp2lta3=a/doc.htm&CMC245=0&aid=A&mid=M&bld=B&thm=T&prexp=P&m65l64x=X"},
      {"/X-Pellora/cmd/show/file/a/doc.htm?bld=B&thm=T", viewer + "?cmd=show&cp2lta3=a/doc.htm&CMC245=0"},
  };
  for (const auto& c : cases) {
    const HxOutcome out = Get(10, c.target);
    EXPECT_EQ(c.finalUrl, out.finalUrl) << c.target;
    EXPECT_EQ(0u, Auth(out).result) << c.target;
    EXPECT_EQ(static_cast<DWORD>(ControlMessageHandledRedirected), Auth(out).controlMessage) << c.target;
  }
  // Only the module writes the viewer's levels, whatever the client spelt,
  // also for a request sent to the viewer page straight.
  const struct {
    std::string target;
    std::string finalUrl;
  } forged[] = {
      {"/X-Pellora/bin/view.htm?%6fwaal=3&fn=" + fn + "&owa%61l=3&CMC245=1", viewer + "?fn=" + fn + "&owaal=1"},
      {"/X-Pellora/cmd/menu?x=1&OWAAL=3&cmc245=1", viewer + "?cmd=menu&x=1"},
      {"/X-Pellora/cmd/show/file/x%26CMC245=1%26owaal=3/%2541%20b+c?aid=A",
       viewer + "?cmd=show&cp2lta3=x%26CMC245=1%26owaal=3/%2541%20b%2Bc&CMC245=0&aid=A"},
      {"/X-Pellora/cmd/show/file/a/doc.htm?aid=A%26CMC245%3D1%26cp2lta3%3D..%2Fb&mid=M",
       viewer + "?cmd=show&cp2lta3=a/doc.htm&CMC245=0&aid=A%26CMC245=1%26cp2lta3=../b&mid=M"},
      {"/X-Pellora/bin/pellora.srf/x/?cmd=show&owaal=3", "/X-Pellora/bin/pellora.srf/x/?cmd=show"},
      {"/X-Pellora/bin/pellora.srf?cmd=show&%43MC245=1&cp2lta3=a&owaal=3", viewer + "?cmd=show&cp2lta3=a"},
      {"/x-pellora/BIN/Pellora.srf?OWAAL=3", "/x-pellora/BIN/Pellora.srf"},
      {"/X-Pellora/bin/pellora.srf?cmd=show&cp2lta3=a", "/X-Pellora/bin/pellora.srf?cmd=show&cp2lta3=a"},
      // Names as a server trims, cuts and folds them.
      {"/X-Pellora/bin/view.htm?fn=" + fn + "&owaal+=3", viewer + "?fn=" + fn + "&owaal=1"},
      {"/X-Pellora/bin/view.htm?fn=" + fn + "&owaal%20=3", viewer + "?fn=" + fn + "&owaal=1"},
      {"/X-Pellora/bin/view.htm?fn=" + fn + "&owaal%C2%A0=3", viewer + "?fn=" + fn + "&owaal=1"},
      {"/X-Pellora/bin/view.htm?fn=" + fn + "&owaal;=3", viewer + "?fn=" + fn + "&owaal=1"},
      {"/X-Pellora/bin/view.htm?fn=" + fn + "&x=1;owaal=3", viewer + "?fn=" + fn + "&owaal=1"},
      {"/X-Pellora/bin/view.htm?fn=" + fn + "&%EF%BD%8Fwaal=3", viewer + "?fn=" + fn + "&owaal=1"},
      {"/X-Pellora/bin/view.htm?fn%20=" + fn, viewer + "?fn%20=" + fn + "&owaal=1"},
      // A request that names a document to the viewer hears its level.
      {viewer + "?fn=" + fn, viewer + "?fn=" + fn + "&owaal=1"},
      {viewer + "?cmd=view&owaal=3&%66n=" + fn, viewer + "?cmd=view&%66n=" + fn + "&owaal=1"},
      {"/X-Pellora/cmd/menu?cmd=view&fn=" + fn, viewer + "?cmd=menu&cmd=view&fn=" + fn + "&owaal=1"},
  };
  for (const auto& c : forged) EXPECT_EQ(c.finalUrl, Get(10, c.target).finalUrl) << c.target;
  // Nor from a body or a cookie, which the module cannot rewrite: such a
  // request is refused.
  const std::string form = "Content-Type: application/x-www-form-urlencoded\n";
  const std::string multipart = "--b\r\nContent-Disposition: form-data; name=\"owaal\"\r\n\r\n3\r\n--b--\r\n";
  const struct {
    std::string target;
    std::string headersAndBody;
    std::string method = "POST";
  } bodies[] = {
      {viewer + "?cmd=show&cp2lta3=a", form + "Content-Length: 16\n\nowaal=3&CMC245=1"},
      {"/X-Pellora/bin/view.htm?fn=" + fn, form + "\nowaal=3&CMC245=1"},
      {"/X-Pellora/cmd/show/file/a/doc.htm",
       "Content-Type: multipart/form-data; boundary=b\nContent-Length: " + std::to_string(multipart.size()) + "\n\n" +
           multipart},
      {"/X-Pellora/cmd/menu?x=1", "Transfer-Encoding: chunked\n\n7\nowaal=3\n0\n"},
      {viewer + "?cmd=show&cp2lta3=a", form + "Content-Length: 7\n\nowaal=3", "HEAD"},
      {"/X-Pellora/cmd/menu?x=1", "Cookie: s=1; o%77aal=3\n", "GET"},
      {viewer + "?cmd=show&cp2lta3=a", "Cookie: s=1,CMC245=1\n", "GET"},
      {viewer + "?cmd=show&cp2lta3=a", "Cookie: \u00A0owaal=3\n", "GET"},
      {viewer + "?cmd=show&cp2lta3=a", form + "Content-Length: 9\n\nowaal+=3"},
      // "owaal=3" in UTF-7, and a compressed form: not the text the host read.
      {viewer + "?cmd=show&cp2lta3=a",
       "Content-Type: application/x-www-form-urlencoded; charset=utf-7\nContent-Length: 18\n\n+AG8AdwBhAGEAbA-=3"},
      {viewer + "?cmd=show&cp2lta3=a", form + "Content-Encoding: gzip\nContent-Length: 4\n\nx=1x"},
  };
  for (const auto& c : bodies) {
    for (int criteria : {10, 12}) {
      const HxOutcome out = PipelineHost::Run(Host(), kUser + ("@criteria " + std::to_string(criteria)) + "\n" +
                                                          c.method + " " + c.target + " HTTP/1.1\n" + kUA +
                                                          c.headersAndBody);
      EXPECT_TRUE(Refused(out)) << criteria << " " << c.target;
      EXPECT_EQ(c.target, out.finalUrl) << criteria << " " << c.target;
    }
  }
  // A body the module reads and finds no level in goes on at every level; one
  // it cannot read goes on only where no level is enforced (level 1).
  const std::string pages = "pages=1-2";
  const std::string noLevel = "--b\r\nContent-Disposition: form-data; name=\"pages\"\r\n\r\n1-2\r\n--b--\r\n";
  for (int criteria : {10, 11, 12}) {
    const HxOutcome print = PipelineHost::Run(
        Host(), kUser + ("@criteria " + std::to_string(criteria)) + "\nPOST " + viewer + "?cmd=print HTTP/1.1\n" + kUA +
                    form + "Content-Length: " + std::to_string(pages.size()) + "\n\n" + pages);
    EXPECT_FALSE(Refused(print)) << criteria;
    EXPECT_EQ(viewer + "?cmd=print", print.finalUrl) << criteria;
    const HxOutcome menu = PipelineHost::Run(
        Host(), kUser + ("@criteria " + std::to_string(criteria)) + "\nPOST /X-Pellora/cmd/menu?x=1 HTTP/1.1\n" + kUA +
                    "Content-Type: multipart/form-data; boundary=b\nContent-Length: " + std::to_string(noLevel.size()) +
                    "\n\n" + noLevel);
    EXPECT_EQ(criteria != 11, Refused(menu)) << criteria;
  }
  // A conversion without a file name is not redirected.
  const HxOutcome none = Get(10, "/X-Pellora/bin/view.htm?x=1");
  EXPECT_EQ(13u, Auth(none).result);
  EXPECT_EQ(static_cast<DWORD>(ControlMessageIgnore), Auth(none).controlMessage);
}

TEST(PipelineDirectAccess, MultimediaCachedOnlyOverSSLWithMatchingHash) {
  const std::string path = "/X-Pellora/cmd/show/file/m/clip.htm";
  const std::string key = "?MMKey" + H("/cmd/show/file/m/clip.htm");
  const std::string ssl = "@server-variable HTTPS on\n";
  struct {
    int criteria;  // 11 lets multimedia be cached
    std::string query;
    std::string directives;
    const char* cmc;
    std::string header = "";
  } cases[] = {
      {11, key, ssl, "1"},
      {11, key + "&x=1", "@server-variable HTTP_Front-End-HTTPS ON\n", "1"},
      {11, key, "", "1", "Front-End-Https: on\n"},
      {10, key, ssl, "0"},
      {11, key, "", "0"},
      {11, "?MMKey1", ssl, "0"},
      {11, "", ssl, "0"},
  };
  for (const auto& c : cases) {
    const HxOutcome out =
        PipelineHost::Run(Host(), kUser + ("@criteria " + std::to_string(c.criteria)) + "\n" + c.directives + "GET " +
                                      path + c.query + " HTTP/1.1\n" + kUA + c.header);
    EXPECT_EQ("/X-Pellora/bin/pellora.srf?cmd=show&cp2lta3=m/clip.htm&CMC245=" + std::string(c.cmc), out.finalUrl)
        << c.criteria << c.query << c.directives;
  }
}

}  // namespace
