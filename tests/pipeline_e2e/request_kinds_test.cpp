#include <gtest/gtest.h>

#include <string>

#include "filter/control_message.h"
#include "pipeline_host.h"
#include "platform/http_filter.h"

namespace {

constexpr const char* kIE7 = "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1; Trident/4.0)";
constexpr DWORD kPremium = 0x40;

struct KindCase {
  const char* name;
  const char* method;
  const char* target;
  const char* body;      // form body of a POST, or null
  const char* extra;     // directives before the request line, or null
  DWORD flags;           // RequestFlags after pre-process headers
  bool ignored;          // control message Ignore after pre-process headers
};

std::string Describe(const KindCase& c, const char* userAgent = kIE7) {
  std::string d;
  if (c.extra != nullptr) d += std::string(c.extra) + "\n";
  d += std::string(c.method) + " " + c.target + " HTTP/1.1\nHost: mail.example.com\n";
  if (userAgent != nullptr) d += std::string("User-Agent: ") + userAgent + "\n";
  if (c.body != nullptr) {
    d += "Content-Type: application/x-www-form-urlencoded\n\n";
    d += c.body;
  }
  return d;
}

void Check(const KindCase& c, const HxOutcome& out) {
  const HxNotificationRecord* pre = After(out, SF_NOTIFY_PREPROC_HEADERS);
  ASSERT_NE(nullptr, pre) << c.name;
  EXPECT_EQ(0u, pre->result) << c.name;
  EXPECT_EQ(c.flags, pre->requestFlags) << c.name << std::hex << " flags 0x" << pre->requestFlags;
  if (c.ignored) {
    EXPECT_EQ(static_cast<DWORD>(ControlMessageIgnore), pre->controlMessage) << c.name;
    // An ignored request gets no notification but end of request.
    EXPECT_EQ(nullptr, After(out, SF_NOTIFY_AUTH_COMPLETE)) << c.name;
    EXPECT_NE(nullptr, After(out, SF_NOTIFY_END_OF_REQUEST)) << c.name;
  } else {
    EXPECT_EQ(static_cast<DWORD>(ControlMessageNone), pre->controlMessage) << c.name;
    EXPECT_NE(nullptr, After(out, SF_NOTIFY_AUTH_COMPLETE)) << c.name;
  }
}

const KindCase kKinds[] = {
    // 1 read/edit item (no bit of its own)
    {"read item", "GET", "/owa/?ae=Item&t=IPM.Note&id=RgAAAA", nullptr, nullptr, kPremium, false},
    {"read item by action", "GET", "/owa/?ae=PreFormAction&a=Open", nullptr, nullptr, kPremium, false},
    {"distribution list", "GET", "/owa/?ae=Item&t=IPM.DistList&id=RgAAAA", nullptr, nullptr, kPremium, true},
    {"item without id or action", "GET", "/owa/?ae=Item&t=IPM.Note", nullptr, nullptr, kPremium, true},
    // 2 Premium attach-file dialog
    {"attach file dialog", "GET", "/owa/?ae=Dialog&t=AttachFileDialog", nullptr, nullptr, kPremium | 0x8, false},
    // 3 Basic attachment manager: POST only
    {"basic attachment manager", "POST", "/owa/?ae=Item&a=Attach&id=RgAAAA", "", nullptr,
     kPremium | 0x8 | 0x4, false},
    {"basic attach dialog", "POST", "/owa/", "ae=Dialog&t=Attach", nullptr, kPremium | 0x8 | 0x4, false},
    {"attach by GET is a read", "GET", "/owa/?ae=Item&a=Attach&id=RgAAAA", nullptr, nullptr, kPremium, false},
    // 4 Premium delete attachment
    {"delete attachment", "POST", "/owa/ev.owa?oeh=1&ns=Attachments&ev=Delete", "", nullptr,
     kPremium | 0x1 | 0x4, false},
    {"delete attachment by GET", "GET", "/owa/ev.owa?ns=Attachments&ev=Delete", nullptr, nullptr, kPremium, true},
    // 5 Premium document view (no bit of its own)
    {"document view", "GET", "/owa/?ae=Folder&t=IPF.DocumentLibrary&URL=%5C%5Csrv%5Cshare", nullptr, nullptr,
     kPremium, false},
    {"document view without URL", "GET", "/owa/?ae=Folder&t=IPF.DocumentLibrary", nullptr, nullptr, kPremium, true},
    // 6 sort and 7 refresh or paging
    {"document view sort", "POST", "/owa/ev.owa?ns=UncListView&ev=Sort", "", nullptr, kPremium | 0x400 | 0x4, false},
    {"document view paging", "POST", "/owa/ev.owa?ns=SharepointListView&ev=NextPage", "", nullptr,
     kPremium | 0x2000 | 0x4, false},
    {"document view refresh", "POST", "/owa/ev.owa?ns=UncListView&ev=refresh", "", nullptr,
     kPremium | 0x2000 | 0x4, false},
    {"list view unknown event", "POST", "/owa/ev.owa?ns=UncListView&ev=Open", "", nullptr, kPremium | 0x4, true},
    // 8 document-view direct file access: the URL parameter may be empty
    {"document file", "GET", "/owa/ev.owa?ns=SharepointDocument&ev=GetDoc&URL=", nullptr, nullptr,
     kPremium | 0x200, false},
    // Without one the server may take it from a cookie: checked all the same.
    {"document file without URL", "GET", "/owa/ev.owa?ns=SharepointDocument&ev=GetDoc", nullptr, nullptr,
     kPremium | 0x200, false},
    // A document named by a POST is checked as by a GET: the server fetches it all the same.
    {"document file by POST", "POST", "/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL=x", "", nullptr,
     kPremium | 0x200 | 0x4, false},
    // 9 direct attachment access
    {"direct attachment", "GET", "/owa/attachment.ashx?attach=1&id=RgAAAA", nullptr, nullptr, kPremium | 0x10, false},
    // Only "attach=0" is no download: another spelling may be one to the server.
    {"direct attachment attach=true", "GET", "/owa/attachment.ashx?attach=true&id=RgAAAA", nullptr, nullptr,
     kPremium | 0x10, false},
    // An inline fetch: it goes on, its answer checked where downloads may not leave the ranges.
    {"attachment attach=0", "GET", "/owa/attachment.ashx?attach=0&id=RgAAAA", nullptr, nullptr, kPremium, false},
    // 10 the product's virtual folder, whatever the parameters
    {"virtual folder print", "GET", "/X-Pellora/cmd/print?x=1", nullptr, nullptr, kPremium | 0x2, false},
    {"virtual folder script", "POST", "/X-Pellora/GetFile.js", "", nullptr, kPremium | 0x2 | 0x4, false},
    // Subscription 30 reads the parameters but no kind tests it.
    {"subscription 30", "GET", "/owa/?ae=Item&t=IPM.Note&id=RgAAAA", nullptr, "@subscription 30", kPremium, true},
    // Not a page of the mail client at all.
    {"other path", "GET", "/exchange/?ae=Item&id=1", nullptr, nullptr, kPremium, true},
    // Method case is ignored; a longer method is not POST.
    {"lower-case post", "post", "/owa/ev.owa?ns=UncListView&ev=Sort", "", nullptr, kPremium | 0x400 | 0x4, false},
    {"S/MIME", "GET", "/owa/?ae=Item&t=IPM.Note&id=R&smime=1", nullptr, nullptr, kPremium | 0x1000, false},
    {"empty S/MIME", "GET", "/owa/?ae=Item&t=IPM.Note&id=R&smime=", nullptr, nullptr, kPremium, false},
};

TEST(PipelineRequestKinds, EveryKindAndItsIgnoreCases) {
  for (const KindCase& c : kKinds) Check(c, PipelineHost::Run(Describe(c)));
}

TEST(PipelineRequestKinds, MethodsOtherThanGetAndPostAreIgnored) {
  for (const char* method : {"HEAD", "OPTIONS", "POSTX"}) {
    const KindCase c{method, method, "/owa/?ae=Item&t=IPM.Note&id=R", nullptr, nullptr, kPremium, true};
    Check(c, PipelineHost::Run(Describe(c)));
  }
}

TEST(PipelineRequestKinds, ClientKindsFromTheUserAgent) {
  const KindCase read{"read", "GET", "/owa/?ae=Item&t=IPM.Note&id=R", nullptr, nullptr, 0, false};
  struct {
    const char* ua;
    DWORD flags;
  } agents[] = {
      {"Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)", 0},
      {"Mozilla/4.0 (compatible; MSIE 5.5; Windows 98; owaauth)", kPremium},
      {"Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.1)", 0},
      {"Mozilla/5.0 (Macintosh; Intel Mac OS X 10_6)", 0x20},
      {"Mozilla/4.0 (compatible; MSIE 6.0; Mac_PowerPC; Windows)", 0x20 | kPremium},
  };
  for (const auto& a : agents) {
    KindCase c = read;
    c.flags = a.flags;
    c.name = a.ua;
    Check(c, PipelineHost::Run(Describe(c, a.ua)));
  }
}

// Leaving the header out must not skip the download checks.
TEST(PipelineRequestKinds, MissingUserAgentReadsAsAnEmptyOne) {
  const KindCase attachment{"no UA", "GET", "/owa/attachment.ashx?attach=1&id=R", nullptr, nullptr, 0x10, false};
  Check(attachment, PipelineHost::Run(Describe(attachment, nullptr)));
  const KindCase sort{"no UA", "POST", "/owa/ev.owa?ns=UncListView&ev=Sort", "", nullptr, 0x4 | 0x400, false};
  Check(sort, PipelineHost::Run(Describe(sort, nullptr)));
}

// Client headers named like the server's own variables (a "Method: GET" on
// a GET once made the method "GET, GET") change no decision.
TEST(PipelineRequestKinds, HeadersNamedLikeServerVariablesChangeNothing) {
  std::string spoof = "Method: GET\nUrl: /owa/?ae=Dialog&t=AttachFileDialog\nVersion: HTTP/0.9\n";
  for (const char* name : {"HTTP_URL", "URL", "QUERY_STRING", "HTTP_METHOD", "REQUEST_METHOD", "HTTP_VERSION",
                           "SERVER_PROTOCOL", "REMOTE_ADDR", "REMOTE_HOST", "SERVER_NAME", "LOGON_USER", "AUTH_USER",
                           "REMOTE_USER", "HEADER_QL_CSMPREFIX"}) {
    spoof += std::string(name) + ": POST\n";
  }
  const KindCase c{"spoofed", "GET", "/owa/attachment.ashx?attach=1&id=R", nullptr, "@user-account aclerk",
                   kPremium | 0x10, false};
  const HxOutcome out = PipelineHost::Run(Describe(c) + spoof);
  Check(c, out);
  // Reached the download checks, which let it through at block level 1.
  EXPECT_EQ(0u, After(out, SF_NOTIFY_AUTH_COMPLETE)->result);
  EXPECT_EQ(static_cast<DWORD>(ControlMessageIgnore), After(out, SF_NOTIFY_AUTH_COMPLETE)->controlMessage);
}

}  // namespace
