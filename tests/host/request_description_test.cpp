#include <gtest/gtest.h>

#include "host/hx_request.h"
#include "host/hx_request_info.h"

namespace {

HxRequest Parse(const std::string& text) {
  HxRequest r;
  std::string error;
  EXPECT_TRUE(ParseRequestDescription(text, "/samples/requests", r, error)) << error;
  return r;
}

TEST(HostRequestDescription, DirectivesRequestAndBody) {
  const HxRequest r = Parse(
      "# a comment\r\n"
      "@client-address 10.1.2.3\r\n"
      "@subscription 30\n"
      "@criteria 7\n"
      "@user-account jdoe\n@user-domain EXAMPLE\n@user-sid S-1-5-21-1-2-3-1001\n"
      "@user-group S-1-5-32-545\n@user-group S-1-5-21-1-2-3-513\n"
      "@response-status 302\n@response-page ../pages/p.html\n@response-header Content-Length: 6683\n"
      "@server-variable HTTP_X_QL_FBA_CVALUE \"4abc\"\n"
      "\n"
      "POST /owa/?ae=Item HTTP/1.0\r\n"
      "Host: mail.example.com\r\n"
      "Content-Type: application/x-www-form-urlencoded\r\n"
      "\r\n"
      "a=Attach&id=R%2Bg\r\n");
  EXPECT_EQ(r.clientAddress, "10.1.2.3");
  EXPECT_EQ(r.subscriptionType, 30u);
  EXPECT_EQ(r.criteriaId, 7u);
  EXPECT_EQ(r.identity.LogonName(), "EXAMPLE\\jdoe");
  EXPECT_EQ(r.identity.sid, "S-1-5-21-1-2-3-1001");
  EXPECT_EQ(r.identity.groupSids.size(), 2u);
  EXPECT_EQ(r.responseStatus, 302u);
  EXPECT_EQ(r.responsePagePath, "/samples/requests/../pages/p.html");
  // Its name as a header line gives it, the colon not part of it.
  EXPECT_EQ(r.responseHeaders, (std::vector<std::pair<std::string, std::string>>{{"Content-Length", "6683"}}));
  ASSERT_EQ(r.serverVariables.size(), 1u);
  EXPECT_EQ(r.serverVariables[0].second, "\"4abc\"");
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.Path(), "/owa/");
  EXPECT_EQ(r.QueryString(), "ae=Item");
  EXPECT_EQ(r.version, "HTTP/1.0");
  ASSERT_NE(r.Header("host"), nullptr);
  EXPECT_EQ(*r.Header("host"), "mail.example.com");
  EXPECT_EQ(r.body, "a=Attach&id=R%2Bg");
}

TEST(HostRequestDescription, MistakesNameTheirLine) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"@criteria seven\nGET / HTTP/1.1\n", "line 1: criteria"},
      {"@nonsense 1\nGET / HTTP/1.1\n", "line 1: unknown directive @nonsense"},
      {"\nGET owa HTTP/1.1\n", "line 2: expected a request line"},
      {"GET / HTTP/1.1\nNo colon here\n", "line 2: expected 'Name: value'"},
      {"# only a comment\n", "no request line"},
      {"@response-status 99\nGET / HTTP/1.1\n", "line 1: response status"},
  };
  for (const auto& c : cases) {
    HxRequest r;
    std::string error;
    EXPECT_FALSE(ParseRequestDescription(c.text, ".", r, error)) << c.text;
    EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
  }
}

// A head that a server could frame or route otherwise than the module reads
// it is refused; the framings the module reads stay the module's to decide.
TEST(HostRequestDescription, HeadsReadTwoWaysAreRefused) {
  const std::string post = "POST /owa/ev.owa?ns=UncDocument&ev=GetDoc HTTP/1.1\nHost: m\n";
  const struct {
    std::string text;
    HxHeadRefusal refusal;
  } cases[] = {
      {post + "Content-Length : 5\n\nURL=x", HxHeadRefusal::NameNotToken},
      {post + "Content-Length\t: 5\n\nURL=x", HxHeadRefusal::NameNotToken},
      {post + "Content-Length\xC2\xA0: 5\n\nURL=x", HxHeadRefusal::NameNotToken},
      {post + "Transfer-Encoding : chunked\n\n5\nURL=x\n0\n", HxHeadRefusal::NameNotToken},
      {post + "X-Pad: a\n Content-Length: 5\n\nURL=x", HxHeadRefusal::FoldedLine},
      {post + "X-Pad: a\n\tb\n", HxHeadRefusal::FoldedLine},
      {post + "X-A: b\rContent-Length: 5\n\nURL=x", HxHeadRefusal::ControlCharacter},
      {post + std::string("X-A: b\0Content-Length: 5\n\nURL=x", 31), HxHeadRefusal::ControlCharacter},
      {post + "Content-Length: 5\r\r\n\nURL=x", HxHeadRefusal::ControlCharacter},
      {"GET /owa/ev.owa?ns=UncDocument&ev=GetDoc&URL=a.pdf\r/b.exe HTTP/1.1\n", HxHeadRefusal::ControlCharacter},
      {"GET /owa/ev.owa?URL=a.pdf /owa/ev.owa?URL=b.exe HTTP/1.1\n", HxHeadRefusal::BadRequestLine},
      {"GET /owa/ev.owa?ns=UncDocument&URL=x&ev=GetDoc#x HTTP/1.1\n", HxHeadRefusal::FragmentInTarget},
      {"GET\t/owa/?ae=Item\tHTTP/1.1\r\nUser-Agent: a\tb\r\n\r\n", HxHeadRefusal::None},
      {post + "Transfer-Encoding: chunked, identity\nContent-Length: 5\nContent-Length: +5\n\nURL=x",
       HxHeadRefusal::None},
  };
  for (const auto& c : cases) EXPECT_EQ(c.refusal, HxCheckRequestHead(Parse(c.text))) << c.text;
}

TEST(HostRequestInfo, ParametersHeadersAndServerVariables) {
  HxRequest r = Parse(
      "@client-address 192.0.2.1\n@user-account jdoe\n@server-variable HTTP_X_QL_FBA_CVALUE v\n"
      "POST /owa/?ae=Item&t=IPM.Note&URL&Id=q%20s+t&bad=%zz HTTP/1.1\n"
      "Host: mail.example.com:443\nUser-Agent: UA\nCookie: a=1\nAccept-Language: de\nX-Dup: 1\nX-Dup: 2\n"
      "\n"
      "ae=Dialog&a=Attach\n");
  CRequestInfo info;
  HxFillRequestInfo(r, r.Path(), info);
  const auto param = [&](const char* name) {
    ci_string v;
    return info.GetParamValue(name, v) ? ToStd(v) : std::string("<absent>");
  };
  EXPECT_EQ(param("AE"), "Item");  // the query string wins over the form
  EXPECT_EQ(param("a"), "Attach");
  EXPECT_EQ(param("url"), "");
  EXPECT_EQ(param("id"), "q s t");
  EXPECT_EQ(param("bad"), "%zz");

  const auto header = [&](const char* name) {
    std::string v;
    return info.GetHeaderValue(name, v) ? v : std::string("<absent>");
  };
  EXPECT_EQ(header("HTTP_URL"), "/owa/?ae=Item&t=IPM.Note&URL&Id=q%20s+t&bad=%zz");
  EXPECT_EQ(header("URL"), "/owa/");
  EXPECT_EQ(header("QUERY_STRING"), "ae=Item&t=IPM.Note&URL&Id=q%20s+t&bad=%zz");
  EXPECT_EQ(header("HTTP_METHOD"), "POST");
  EXPECT_EQ(header("HTTP_USER_AGENT"), "UA");
  EXPECT_EQ(header("HTTP_COOKIE"), "a=1");
  EXPECT_EQ(header("Cookie"), "a=1");
  EXPECT_EQ(header("HTTP_ACCEPT_LANGUAGE"), "de");
  EXPECT_EQ(header("X-Dup:"), "1, 2");
  EXPECT_EQ(header("REMOTE_ADDR"), "192.0.2.1");
  EXPECT_EQ(header("SERVER_NAME"), "mail.example.com");
  EXPECT_EQ(header("LOGON_USER"), "jdoe");
  EXPECT_EQ(header("HTTP_X_QL_FBA_CVALUE"), "v");

  CExchangeURL url;
  HxFillExchangeUrl(r, url);
  EXPECT_EQ(url.m_sRootURL, "https://mail.example.com:443/owa/");
  EXPECT_EQ(url.m_sBasePath, "/owa/");
}

TEST(HostRequestInfo, FormBodiesOfOtherTypesAreNotParameters) {
  const HxRequest r = Parse("POST /owa/ HTTP/1.1\nContent-Type: text/xml\n\nae=Item\n");
  CRequestInfo info;
  HxFillRequestInfo(r, r.Path(), info);
  ci_string v;
  EXPECT_FALSE(info.GetParamValue("ae", v));
}

TEST(HostSubscriptionRule, UrlsToRequestKinds) {
  const struct {
    const char* path;
    uint32_t type;
  } cases[] = {
      {"/owa/", 2},
      {"/OWA", 2},
      {"/owa/forms/premium/x.aspx", 2},
      {"/owa/ev.owa", 4},
      {"/owa/attachment.ashx", 5},
      {"/X-Pellora/bin/view.htm", 20},
      {"/x-pellora/cmd/close", 21},
      {"/X-Pellora/cmd/show/file/a/b.doc", 22},
      {"/X-Pellora/cmd/print", 23},
      {"/X-Pellora/cmd/menu", 24},
      {"/X-Pellora/scripts/GetFile.js", 25},
      {"/X-Pellora/other", 0},
      {"/owaextra/", 0},
      {"/", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(HxSubscriptionTypeForPath(c.path), c.type) << c.path;
  EXPECT_EQ(HxSubscriptionTypeForPath("/Viewer/cmd/menu", "Viewer"), 24u);
}

}  // namespace

// The cached-script prefix: the host's default, the directive, none, or the
// request's own header.
TEST(HostRequestInfo, CachedScriptPrefixHeader) {
  const struct {
    const char* description;
    const char* expected;
  } cases[] = {{"GET /owa/ HTTP/1.1\n", "qlcsm-"},
               {"@csm-prefix abcde12/\nGET /owa/ HTTP/1.1\n", "abcde12/"},
               {"@csm-prefix\nGET /owa/ HTTP/1.1\n", "<absent>"},
               {"GET /owa/ HTTP/1.1\nQL_CSMPREFIX: /owa/14.1/\n", "/owa/14.1/"}};
  for (const auto& c : cases) {
    const HxRequest r = Parse(c.description);
    CRequestInfo info;
    HxFillRequestInfo(r, r.Path(), info);
    std::string header = "<absent>";
    std::string variable = "<absent>";
    info.GetHeaderValue("QL_CSMPREFIX:", header);
    info.GetHeaderValue("HTTP_QL_CSMPREFIX", variable);
    EXPECT_EQ(header, c.expected) << c.description;
    EXPECT_EQ(variable, c.expected) << c.description;
  }
}
