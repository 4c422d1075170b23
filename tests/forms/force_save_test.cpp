#include <gtest/gtest.h>

#include <string>

#include "filter/control_message.h"
#include "filter/notifications.h"
#include "filter/request_flags.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "forms/form_page.h"
#include "host/hx_request_info.h"

namespace {

using formtest::FormPage;

std::string ErrorPage(const std::string& link) {
  return "<!-- OwaPage = ASP.auth_error_aspx -->\n<html><head><title>Error</title></head><body>\n"
         "<div>Save the file first: " + link + "</div>\n</body></html>\n";
}

// The replace buffer the send-raw-data step leaves for the host, taken over
// (the end of request would free it).
struct Answer {
  DWORD result = 0;
  DWORD control = 0;
  std::string response;
};

Answer RunForceSave(FormPage& page) {
  CDLLContext& record = page.Record();
  record.m_dwRequestFlags = RequestFlag::DocumentViewForceSave;
  Answer answer;
  answer.result = CNotifications().NotifySendRawData(&record);
  answer.control = record.m_dwControlMessage;
  if (record.m_pReplaceBuffer != nullptr) {
    answer.response.assign(reinterpret_cast<const char*>(record.m_pReplaceBuffer), record.m_dwReplaceBufferLength);
    delete[] record.m_pReplaceBuffer;
    record.m_pReplaceBuffer = nullptr;
  }
  return answer;
}

// The whole response, byte for byte; its "fidh" is what the request checks
// recompute from the follow-up request's own "URL" parameter.
TEST(ForceSaveErrorPage, RedirectResponseCarriesTheLinksFileIDHash) {
  FormPage page(ErrorPage("<a href=\"ev.owa?ns=UncDocument&ev=GetDoc&URL=%5c%5cfs01%5cPlan%20Q3.docx\">Plan</a>"));
  const Answer answer = RunForceSave(page);
  ASSERT_EQ(0u, answer.result);
  EXPECT_EQ(ControlMessageReplace, answer.control);

  const std::string target = "/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL=%5c%5cfs01%5cPlan%20Q3.docx&fidh=";
  const size_t at = answer.response.find("Location:" + target);
  ASSERT_NE(std::string::npos, at) << answer.response;
  const std::string fidh = answer.response.substr(at + 9 + target.size(),
                                                  answer.response.find("\r\n", at) - at - 9 - target.size());
  CRequestInfo followUp;
  HxAddParameters(target.substr(target.find('?') + 1) + fidh, followUp);
  ci_string url;
  ASSERT_TRUE(followUp.GetParamValue("URL", url));
  EXPECT_EQ(CUtil::HashString(url.c_str()), fidh);

  const std::string body =
      "<head><title>Document Moved</title></head><body><h1>Object Moved</h1>This document may be found <a HREF=\""
      "/owa/ev.owa?ns=UncDocument&amp;ev=GetDoc&amp;URL=%5c%5cfs01%5cPlan%20Q3.docx&amp;fidh=" + fidh +
      "\">here</a></body>";
  const std::string expected = "HTTP/1.1 302 Object Moved\r\n"
                               "Location:" + target + fidh + "\r\n"
                               "Content-Length:" + std::to_string(body.size()) + "\r\n"
                               "Connection: close\r\n"
                               "X-QLProduct: PL_HX\r\n"
                               "Pragma: no-cache\r\n"
                               "Cache-control: no-cache\r\n"
                               "Cache-control: must-revalidate\r\n"
                               "Cache-control: max-age=0\r\n"
                               "Cache-control: no-store\r\n"
                               "Cache-control: private\r\n"
                               "Cache-control: proxy-revalidate\r\n"
                               "Cache-control: s-maxage=0\r\n"
                               "Content-Type: text/html; charset=utf-8\r\n"
                               "\r\n" + body;
  EXPECT_EQ(expected, answer.response);

  // The page may write its link's parameters apart with "&amp;", which the
  // browser reads as "&": the same link, the same answer.
  FormPage escaped(ErrorPage("<a href=\"ev.owa?ns=UncDocument&amp;ev=GetDoc&amp;URL=%5c%5cfs01%5cPlan%20Q3.docx\">P</a>"));
  EXPECT_EQ(expected, RunForceSave(escaped).response);
}

// A link that would write headers of its own (its line end written as is or
// as character references, which the link is read through), or that has
// nothing to hash, leaves the error page as it is; markup in the link stays
// text in the body.
TEST(ForceSaveErrorPage, UnusableLinksRefusedAndMarkupEscaped) {
  for (const char* link : {"<a href=\"ev.owa?ns=UncDocument&URL=a\r\nSet-Cookie: s=1\">x</a>",
                           "<a href=\"ev.owa?ns=UncDocument&amp;URL=a&#13;&#10;Set-Cookie: s=1\">x</a>",
                           "<a href=\"ev.owa?ns=UncDocument&URL=a\x01\">x</a>", "<a href=\"ev.owa?ns=UncDocument\">x</a>",
                           "<a href=\"ev.owa?ns=UncDocument&URL=\">x</a>", "no link at all"}) {
    SCOPED_TRACE(link);
    FormPage page(ErrorPage(link));
    const Answer answer = RunForceSave(page);
    EXPECT_EQ(HX_RC_INVALID_DATA, answer.result);
    EXPECT_EQ(ControlMessageIgnore, answer.control);
    EXPECT_TRUE(answer.response.empty());
  }

  FormPage page(ErrorPage("<a href='x.owa?URL=a\"><script>alert(1)</script>'>x</a>"));
  const Answer answer = RunForceSave(page);
  ASSERT_EQ(0u, answer.result);
  const std::string body = answer.response.substr(answer.response.find("\r\n\r\n") + 4);
  EXPECT_NE(std::string::npos, body.find("x.owa?URL=a&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;&amp;fidh="));
  EXPECT_NE(std::string::npos, answer.response.find("Content-Length:" + std::to_string(body.size()) + "\r\n"));
}

// One "/" at the seam of the base path and the link, added only where
// neither has it; a link that starts with "/" keeps it, also after a base
// path that ends with one.
TEST(ForceSaveErrorPage, BasePathAndLinkJoinedWithOneSlashWhereNeitherHasIt) {
  const struct {
    const char* base;
    const char* href;
    const char* target;
  } rows[] = {
      {"/owa", "ev.owa?URL=a", "/owa/ev.owa?URL=a"},     {"/owa", "/ev.owa?URL=a", "/owa/ev.owa?URL=a"},
      {"/owa/", "ev.owa?URL=a", "/owa/ev.owa?URL=a"},    {"/owa/", "/ev.owa?URL=a", "/owa//ev.owa?URL=a"},
      {"", "ev.owa?URL=a", "ev.owa?URL=a"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.base) + " + " + row.href);
    FormPage page(ErrorPage(std::string("<a href=\"") + row.href + "\">x</a>"));
    page.Record().m_spExchangeURL->m_sBasePath = row.base;
    const Answer answer = RunForceSave(page);
    ASSERT_EQ(0u, answer.result);
    EXPECT_NE(std::string::npos, answer.response.find(std::string("\r\nLocation:") + row.target +
                                                      "&fidh=" + CUtil::HashString("a") + "\r\n"))
        << answer.response;
  }
}

}  // namespace
