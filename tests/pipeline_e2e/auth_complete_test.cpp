#include <gtest/gtest.h>

#include <string>

#include "filter/control_message.h"
#include "pipeline_host.h"
#include "platform/http_filter.h"

namespace {

constexpr const char* kUA = "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1)\n";
constexpr const char* kUser =
    "@user-account aclerk\n@user-domain EXAMPLE\n@user-sid S-1-5-21-1004336348-1177238915-682003330-1105\n";

HxOutcome RunTest(const std::string& description) {
  return PipelineHost::Run(PipelineHost::WithTestSettings(), description);
}

const HxNotificationRecord& Auth(const HxOutcome& out) {
  static const HxNotificationRecord none{};
  const HxNotificationRecord* r = After(out, SF_NOTIFY_AUTH_COMPLETE);
  EXPECT_NE(nullptr, r);
  return r != nullptr ? *r : none;
}

// The Cookie header the module set during authentication complete, if any.
const HxHeaderChange* CookieSet(const HxOutcome& out) {
  for (const auto& c : out.headerChanges) {
    if (c.notification == SF_NOTIFY_AUTH_COMPLETE && !c.add && c.name == "Cookie:") return &c;
  }
  return nullptr;
}

TEST(PipelineAuthComplete, CriteriaSelectTheSettingsSet) {
  for (int criteria : {1, 2, 3, 4}) {
    const HxOutcome out = RunTest(std::string(kUser) + "@criteria " + std::to_string(criteria) +
                              "\nGET /owa/?ae=Item&t=IPM.Note&id=R HTTP/1.1\n" + kUA);
    const HxNotificationRecord& auth = Auth(out);
    EXPECT_EQ(static_cast<DWORD>(criteria), auth.settingsId);
    EXPECT_EQ(0u, auth.result);
    EXPECT_EQ(static_cast<DWORD>(ControlMessageNone), auth.controlMessage);
    EXPECT_NE(nullptr, After(out, SF_NOTIFY_SEND_RESPONSE));
  }
  // An unlinked criteria falls back to settings 0.
  const HxOutcome out = RunTest(std::string(kUser) + "@criteria 9\nGET /owa/?ae=Item&t=IPM.Note&id=R HTTP/1.1\n" + kUA);
  EXPECT_EQ(0u, Auth(out).settingsId);
}

TEST(PipelineAuthComplete, BypassedUsersAreIgnored) {
  const std::string request = "GET /owa/?ae=Item&t=IPM.Note&id=R HTTP/1.1\n" + std::string(kUA);
  const HxOutcome byGroup = RunTest(std::string(kUser) + "@criteria 1\n@user-group S-1-5-21-1004336348-1177238915-682003330-4343\n" + request);
  EXPECT_EQ(0u, Auth(byGroup).result);
  EXPECT_EQ(static_cast<DWORD>(ControlMessageIgnore), Auth(byGroup).controlMessage);
  EXPECT_EQ(nullptr, After(byGroup, SF_NOTIFY_SEND_RESPONSE));

  const HxOutcome byUser = RunTest(
      "@user-account boss\n@user-sid S-1-5-21-1004336348-1177238915-682003330-4242\n@criteria 1\n" + request);
  EXPECT_EQ(static_cast<DWORD>(ControlMessageIgnore), Auth(byUser).controlMessage);

  const HxOutcome other = RunTest(std::string(kUser) + "@criteria 1\n@user-group S-1-5-32-545\n" + request);
  EXPECT_EQ(static_cast<DWORD>(ControlMessageNone), Auth(other).controlMessage);
}

TEST(PipelineAuthComplete, FoldedCookieOfDirectFileRequestsIsRepaired) {
  struct {
    const char* target;
    const char* cookies;  // Cookie header lines
    const char* repaired; // null: left alone
  } cases[] = {
      {"/owa/attachment.ashx?attach=1&id=R", "Cookie: a=1\nCookie: b=22\n", "b=22"},
      {"/owa/attachment.ashx?attach=1&id=R", "Cookie: aaa=1,b=2\n", "aaa=1"},
      {"/owa/attachment.ashx?attach=1&id=R", "Cookie: ab=1,cd=2\n", "ab=1"},  // a tie keeps the first
      {"/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL=x", "Cookie:  x=1 ,y\n", "x=1"},
      {"/owa/attachment.ashx?attach=1&id=R", "Cookie: a=1; b=2\n", nullptr},
      {"/owa/?ae=Item&t=IPM.Note&id=R", "Cookie: a=1,bb=22\n", nullptr},
  };
  for (const auto& c : cases) {
    const HxOutcome out =
        RunTest(std::string(kUser) + "@criteria 1\nGET " + c.target + " HTTP/1.1\n" + kUA + c.cookies);
    const HxHeaderChange* set = CookieSet(out);
    if (c.repaired == nullptr) {
      EXPECT_EQ(nullptr, set) << c.cookies;
    } else {
      ASSERT_NE(nullptr, set) << c.cookies;
      EXPECT_EQ(c.repaired, set->value);
    }
  }
}

TEST(PipelineAuthComplete, RepairThatWouldSplitTheCookieHeaderIsLeftOut) {
  HxRequest request;
  std::string error;
  ASSERT_TRUE(ParseRequestDescription(std::string(kUser) + "@criteria 1\nGET /owa/attachment.ashx?attach=1&id=R HTTP/1.1\n" +
                                          kUA + "Cookie: x\n",
                                      "", request, error))
      << error;
  const std::string cookies[] = {"a=1,b=2\r\nSet-Cookie: evil=1", "a=1,b=2\nX: y", std::string("a=1,bb=2\0x", 10)};
  // A server refuses such a header line; one that passes the bytes on in its
  // variable gets no header split by the repair.
  for (const std::string& cookie : cookies) {
    request.serverVariables = {{"HTTP_COOKIE", cookie}};
    const HxOutcome out = PipelineHost::WithTestSettings().Run(request);
    EXPECT_EQ(nullptr, CookieSet(out)) << cookie;
    // The request goes on to the download checks as if no repair were due
    // (block level 1: let through).
    EXPECT_EQ(0u, Auth(out).result) << cookie;
    EXPECT_EQ(static_cast<DWORD>(ControlMessageIgnore), Auth(out).controlMessage) << cookie;
  }
}

TEST(PipelineAuthComplete, FormsBasedAuthenticationBits) {
  struct {
    const char* extra;
    const char* cookie;
    DWORD bits;
  } cases[] = {
      {"", "Cookie: s=1; cadata=\"1xyz\"\n", 0x180},
      {"", "Cookie: cadata=\"4abc\"; s=1\n", 0x80},
      {"", "Cookie: cadata=\"3abc\"\n", 0},
      {"", "Cookie: cadata=4abc\n", 0},
      {"", "Cookie: s=1\n", 0},
      {"@server-variable HTTP_X_QL_FBA_CVALUE \"2zz\"\n", "Cookie: s=1\n", 0x180},
      // Without any cookie the front end's value is not consulted.
      {"@server-variable HTTP_X_QL_FBA_CVALUE \"2zz\"\n", "", 0},
  };
  for (const auto& c : cases) {
    const HxOutcome out = RunTest(std::string(kUser) + c.extra + "@criteria 1\nGET /owa/?ae=Item&t=IPM.Note&id=R HTTP/1.1\n" +
                              kUA + c.cookie);
    const HxNotificationRecord& auth = Auth(out);
    EXPECT_EQ(c.bits, auth.requestFlags & 0x180u) << c.cookie << c.extra;
    EXPECT_EQ(0x40u, auth.requestFlags & ~0x180u) << c.cookie;
  }
}

TEST(PipelineAuthComplete, AttachFileRefusedAtBlockLevelsOneAndTwo) {
  // The dialog's fields as the server reads them: in the query, in names and
  // values it trims, and in bodies the module cannot read, which are refused
  // while attaching is blocked.
  const auto post = [](const std::string& type, const std::string& body) {
    return "POST /owa/ HTTP/1.1\n" + std::string(kUA) + "Content-Type: " + type +
           "\nContent-Length: " + std::to_string(body.size()) + "\n\n" + body;
  };
  const std::string multipart =
      "--b\r\nContent-Disposition: form-data; name=\"ae\"\r\n\r\nDialog\r\n"
      "--b\r\nContent-Disposition: form-data; name=\"t\"\r\n\r\nAttach\r\n--b--\r\n";
  for (const std::string& request :
       {"GET /owa/?ae=Dialog&t=AttachFileDialog HTTP/1.1\n" + std::string(kUA),
        "POST /owa/?ae%20=Dialog&t=Attach%C2%A0 HTTP/1.1\n" + std::string(kUA) + "Content-Length: 0\n\n",
        post("application/x-www-form-urlencoded", "ae=Item&t=IPM.Note&a+=Attach"),
        post("multipart/form-data; boundary=b", multipart), post("text/plain", "ae=Dialog\r\nt=Attach\r\n"),
        post("application/x-www-form-urlencoded; charset=utf-7", "+AGEAZQ-=Dialog&t=Attach"),
        post("application/x-www-form-urlencoded", "ae=Dialog;x=1&t=Attach%00x"),
        "GET /owa/?t=AttachFileDialog HTTP/1.1\n" + std::string(kUA) + "Cookie: s=1; %C2%A0ae=Dialog\n",
        "GET /owa/?ae=Dialog HTTP/1.1\n" + std::string(kUA) + "Cookie: s=1; t=\"AttachFileDialog\"\n"}) {
    for (int criteria : {1, 4}) {  // block levels 0 and 3 leave the request alone
      const HxOutcome out = RunTest(std::string(kUser) + "@criteria " + std::to_string(criteria) + "\n" + request);
      EXPECT_EQ(0u, Auth(out).result) << criteria << request;
      EXPECT_EQ(static_cast<DWORD>(ControlMessageNone), Auth(out).controlMessage) << criteria << request;
    }
    for (int criteria : {2, 3}) {  // block levels 1 and 2 answer with the access-denied page
      const HxOutcome out = RunTest(std::string(kUser) + "@criteria " + std::to_string(criteria) + "\n" + request);
      EXPECT_EQ(0u, Auth(out).result) << criteria << request;
      EXPECT_EQ(static_cast<DWORD>(ControlMessageCompleted), Auth(out).controlMessage) << criteria << request;
      EXPECT_EQ(0u, out.answer.rfind("HTTP/1.0 401 OK\r\n", 0)) << criteria << request;
    }
  }
  // The client's own posts of XML and JSON hold no form fields: they go on
  // while attaching is blocked.
  for (const std::string& request : {post("text/xml; charset=utf-8", "<params><ae>Dialog</ae></params>"),
                                     post("application/json", "{\"t\":\"Attach\"}")}) {
    const HxOutcome out = RunTest(std::string(kUser) + "@criteria 2\n" + request);
    EXPECT_NE(0u, out.answer.rfind("HTTP/1.0 401 OK\r\n", 0)) << request;
  }
}

}  // namespace
