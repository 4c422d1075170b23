#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "filter/buffer_instruction.h"
#include "host/hx_buffer_apply.h"
#include "host/hx_host.h"
#include "platform/user_token.h"

namespace {

// An in-process filter whose behaviour per notification the test scripts.
std::map<DWORD, std::function<DWORD(CDLLContext*)>> g_script;
std::vector<DWORD> g_seen;

BOOL TestVersion(HTTP_FILTER_VERSION* v) {
  v->dwFilterVersion = 0x60000;
  std::strcpy(v->lpszFilterDesc, "test filter");
  return TRUE;
}
DWORD TestProc(CDLLContext* p) {
  g_seen.push_back(p->m_dwNotificationType);
  auto it = g_script.find(p->m_dwNotificationType);
  DWORD result = it != g_script.end() ? it->second(p) : 0;
  if (p->m_dwNotificationType == SF_NOTIFY_END_OF_REQUEST) {
    delete[] p->m_pReplaceBuffer;
    p->m_pReplaceBuffer = nullptr;
  }
  return result;
}
DWORD TestTerminate() { return 0; }

class HostRun : public ::testing::Test {
 protected:
  void SetUp() override {
    g_script.clear();
    g_seen.clear();
    std::string error;
    ASSERT_TRUE(m_host.Start(&TestVersion, &TestProc, &TestTerminate, error)) << error;
    m_request.method = "GET";
    m_request.target = "/owa/?ae=Item&id=1";
    m_request.headers = {{"Host", "mail"}, {"User-Agent", "UA"}, {"Cookie", "a=1,b=22"}};
  }
  void WithPage(const std::string& page) {
    m_pagePath = std::string(HX_BINARY_DIR) + "/host_run_test_page.html";
    FILE* f = std::fopen(m_pagePath.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(page.data(), 1, page.size(), f);
    std::fclose(f);
    m_request.responsePagePath = m_pagePath;
  }

  HxHost m_host;
  HxRequest m_request;
  std::string m_pagePath;
};

std::string Variable(CDLLContext* p, const char* name, DWORD* error = nullptr) {
  char buffer[256];
  DWORD size = sizeof buffer;
  IsapiClearCallError();
  std::string n(name);
  if (!p->m_pFilterContext->GetServerVariable(p->m_pFilterContext, n.data(), buffer, &size)) {
    if (error != nullptr) *error = IsapiCallError();
    return "<failed>";
  }
  return std::string(buffer, size - 1);
}

TEST_F(HostRun, NotificationsInOrderAndTheRecordTheModuleSees) {
  WithPage("<html><body>hi</body></html>");
  m_request.criteriaId = 9;
  g_script[SF_NOTIFY_PREPROC_HEADERS] = [](CDLLContext* p) {
    EXPECT_EQ(p->m_dwCriteriaID, 9u);
    EXPECT_EQ(p->m_dwSubscriptionType, 2u);
    EXPECT_EQ(p->m_dwControlMessage, 0u);
    EXPECT_NE(p->m_spRequestInfo.get(), nullptr);
    EXPECT_EQ(p->m_spExchangeURL->m_sBasePath, "/owa/");
    EXPECT_EQ(p->m_spOutboundContext->m_dwStatusCode, 200u);
    EXPECT_NE(p->m_pCoreServices->SubmitBufferCommands, nullptr);
    EXPECT_NE(p->m_pCoreServices->SendResponse, nullptr);
    return 0u;
  };
  g_script[SF_NOTIFY_SEND_RAW_DATA] = [](CDLLContext* p) {
    auto* raw = static_cast<HTTP_FILTER_RAW_DATA*>(p->m_pNotification);
    const CCommonPointers& w = *p->m_spOutboundContext->m_pCommonPointers;
    EXPECT_EQ(w.Address(CCommonPointers::FirstByte), raw->pvInData);
    EXPECT_EQ(std::string(w.Address(CCommonPointers::BodyStartTag), 6), "<body>");
    return 0u;
  };
  const HxOutcome out = m_host.Run(m_request);
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(g_seen, (std::vector<DWORD>{0x4000, 0x04000000, 0x40, 0x400, 0x80}));
  EXPECT_EQ(out.answerKind, HxAnswerKind::ServerResponse);
  EXPECT_NE(out.answer.find("<html><body>hi</body></html>"), std::string::npos);

  // Without a page there is no raw data to send.
  m_request.responsePagePath.reset();
  g_seen.clear();
  m_host.Run(m_request);
  EXPECT_EQ(g_seen, (std::vector<DWORD>{0x4000, 0x04000000, 0x40, 0x80}));
}

TEST_F(HostRun, ServerVariablesAnswerLikeTheServer) {
  g_script[SF_NOTIFY_PREPROC_HEADERS] = [](CDLLContext* p) {
    HTTP_FILTER_CONTEXT* fc = p->m_pFilterContext;
    std::string name = "HTTP_USER_AGENT";
    DWORD size = 0;
    IsapiClearCallError();
    EXPECT_FALSE(fc->GetServerVariable(fc, name.data(), nullptr, &size));
    EXPECT_EQ(IsapiCallError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 3u);
    char small[2];
    size = sizeof small;
    EXPECT_FALSE(fc->GetServerVariable(fc, name.data(), small, &size));
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(Variable(p, "HTTP_USER_AGENT"), "UA");
    EXPECT_EQ(Variable(p, "http_user-agent"), "UA");
    EXPECT_EQ(Variable(p, "HEADER_QL_CSMPREFIX"), "/owa/14.1/");
    DWORD error = 0;
    EXPECT_EQ(Variable(p, "HTTP_X_ABSENT", &error), "<failed>");
    EXPECT_EQ(error, ERROR_INVALID_PARAMETER);
    return 0u;
  };
  m_request.headers.emplace_back("QL_CSMPREFIX", "/owa/14.1/");
  EXPECT_TRUE(m_host.Run(m_request).ok);
}

// A client header named like one of the server's own variables, or whose
// HTTP_ form is one, must not change what the module reads for it.
TEST_F(HostRun, ClientHeadersNeverStandInForTheServersVariables) {
  static const std::vector<std::pair<std::string, std::string>> kHostValues = {
      {"HTTP_URL", "/owa/?ae=Item&id=1"}, {"URL", "/owa/"}, {"QUERY_STRING", "ae=Item&id=1"},
      {"HTTP_METHOD", "GET"}, {"REQUEST_METHOD", "GET"}, {"HTTP_VERSION", "HTTP/1.1"},
      {"SERVER_PROTOCOL", "HTTP/1.1"}, {"REMOTE_ADDR", "127.0.0.1"}, {"REMOTE_HOST", "127.0.0.1"},
      {"SERVER_NAME", "mail"}, {"LOGON_USER", ""}, {"AUTH_USER", ""}, {"REMOTE_USER", ""}};
  for (const auto& [name, value] : kHostValues) m_request.headers.emplace_back(name, "evil");
  for (const char* name : {"Url", "Method", "Version", "HEADER_QL_CSMPREFIX"}) m_request.headers.emplace_back(name, "evil");
  m_request.csmPrefix.clear();  // the host passes no prefix of its own here
  static int s_checked = 0;
  s_checked = 0;
  g_script[SF_NOTIFY_PREPROC_HEADERS] = [](CDLLContext* p) {
    const CRequestInfo& info = *p->m_spRequestInfo;
    for (const auto& [name, value] : kHostValues) {
      std::string read = "<none>";
      EXPECT_TRUE(info.GetHeaderValue(name, read)) << name;
      EXPECT_EQ(read, value) << name;
      EXPECT_EQ(Variable(p, name.c_str()), value) << name;
      ++s_checked;
    }
    // HEADER_<name> is the header <name>, absent here.
    std::string read = "<none>";
    EXPECT_FALSE(info.GetHeaderValue("HEADER_QL_CSMPREFIX", read));
    EXPECT_EQ(Variable(p, "HEADER_QL_CSMPREFIX"), "<failed>");
    // The client's headers stay readable by their own names.
    EXPECT_TRUE(info.GetHeaderValue("Method:", read));
    EXPECT_EQ(read, "evil");
    EXPECT_EQ(Variable(p, "HEADER_QL_CSMPREFIX:"), "evil");
    return 0u;
  };
  ASSERT_TRUE(m_host.Run(m_request).ok);
  EXPECT_EQ(s_checked, static_cast<int>(kHostValues.size()));
}

TEST_F(HostRun, HeaderWritesThatWouldSplitTheLineAreRefused) {
  g_script[SF_NOTIFY_AUTH_COMPLETE] = [](CDLLContext* p) {
    auto* calls = static_cast<HTTP_FILTER_AUTH_COMPLETE_INFO*>(p->m_pNotification);
    for (std::string value : {"a=1\r\nSet-Cookie: evil=1", "a=1\nX: y", "a=1\r"}) {
      std::string cookie = "Cookie:";
      IsapiClearCallError();
      EXPECT_FALSE(calls->SetHeader(p->m_pFilterContext, cookie.data(), value.data()));
      EXPECT_EQ(IsapiCallError(), ERROR_INVALID_PARAMETER);
      EXPECT_FALSE(calls->AddHeader(p->m_pFilterContext, cookie.data(), value.data()));
    }
    std::string name = "X-A\r\nSet-Cookie", value = "1";
    EXPECT_FALSE(calls->AddHeader(p->m_pFilterContext, name.data(), value.data()));
    EXPECT_EQ(Variable(p, "HTTP_COOKIE"), "a=1,b=22");
    return 0u;
  };
  EXPECT_TRUE(m_host.Run(m_request).ok);
}

TEST_F(HostRun, SetHeaderRewritesUrlAndCookieAndEveryChangeIsRecorded) {
  g_script[SF_NOTIFY_AUTH_COMPLETE] = [](CDLLContext* p) {
    auto* calls = static_cast<HTTP_FILTER_AUTH_COMPLETE_INFO*>(p->m_pNotification);
    std::string url = "URL", newUrl = "/X-Pellora/bin/pellora.srf?cmd=menu&a=1";
    std::string cookie = "Cookie:", newCookie = "b=22";
    EXPECT_TRUE(calls->SetHeader(p->m_pFilterContext, url.data(), newUrl.data()));
    EXPECT_TRUE(calls->SetHeader(p->m_pFilterContext, cookie.data(), newCookie.data()));
    EXPECT_EQ(Variable(p, "HTTP_URL"), newUrl);
    EXPECT_EQ(Variable(p, "URL"), "/X-Pellora/bin/pellora.srf");
    EXPECT_EQ(Variable(p, "QUERY_STRING"), "cmd=menu&a=1");
    EXPECT_EQ(Variable(p, "HTTP_COOKIE"), "b=22");
    std::string v;
    EXPECT_TRUE(p->m_spRequestInfo->GetHeaderValue("Cookie", v));
    EXPECT_EQ(v, "b=22");
    std::string agent = "user-agent:", more = "extra", none = "";
    EXPECT_TRUE(calls->AddHeader(p->m_pFilterContext, agent.data(), more.data()));
    EXPECT_TRUE(p->m_spRequestInfo->GetHeaderValue("User-Agent:", v));
    EXPECT_EQ(v, "UA, extra");
    EXPECT_EQ(Variable(p, "HTTP_USER_AGENT"), "UA, extra");
    EXPECT_TRUE(calls->SetHeader(p->m_pFilterContext, agent.data(), none.data()));
    EXPECT_FALSE(p->m_spRequestInfo->GetHeaderValue("User-Agent:", v));
    EXPECT_EQ(Variable(p, "HTTP_USER_AGENT"), "<failed>");
    // A removed request-line part reads as absent, like any other header.
    std::string method = "method", buffer(16, '\0');
    EXPECT_TRUE(calls->SetHeader(p->m_pFilterContext, method.data(), none.data()));
    DWORD size = static_cast<DWORD>(buffer.size());
    EXPECT_FALSE(calls->GetHeader(p->m_pFilterContext, method.data(), buffer.data(), &size));
    p->m_dwControlMessage = ControlMessageHandledRedirected;
    return 0u;
  };
  g_script[SF_NOTIFY_SEND_RESPONSE] = [](CDLLContext* p) {
    auto* calls = static_cast<HTTP_FILTER_SEND_RESPONSE*>(p->m_pNotification);
    EXPECT_EQ(calls->HttpStatus, 200u);
    std::string n = "X-QLProduct:", v = "PL_HX";
    EXPECT_TRUE(calls->AddHeader(p->m_pFilterContext, n.data(), v.data()));
    return 0u;
  };
  const HxOutcome out = m_host.Run(m_request);
  EXPECT_EQ(out.finalUrl, "/X-Pellora/bin/pellora.srf?cmd=menu&a=1");
  ASSERT_EQ(out.headerChanges.size(), 6u);
  EXPECT_EQ(out.headerChanges[0].notification, SF_NOTIFY_AUTH_COMPLETE);
  EXPECT_EQ(out.headerChanges[1].name, "Cookie:");
  EXPECT_TRUE(out.headerChanges[2].add);
  EXPECT_EQ(out.headerChanges[5].notification, SF_NOTIFY_SEND_RESPONSE);
  EXPECT_NE(out.answer.find("\r\nX-QLProduct: PL_HX\r\n"), std::string::npos);
}

// The response headers outgrow the room the host keeps on the stack: every
// one still reads back and goes out in order, and SetHeader replaces all of
// a name, an empty value removing it.
TEST_F(HostRun, ResponseHeadersGrowReplaceAndGoOutInOrder) {
  g_script[SF_NOTIFY_SEND_RESPONSE] = [](CDLLContext* p) {
    auto* calls = static_cast<HTTP_FILTER_SEND_RESPONSE*>(p->m_pNotification);
    for (int i = 0; i < 40; ++i) {
      std::string n = "X-Long-" + std::to_string(i) + ":", v(30, static_cast<char>('a' + i % 26));
      EXPECT_TRUE(calls->AddHeader(p->m_pFilterContext, n.data(), v.data()));
    }
    // A name a browser would trim to another header's is refused.
    std::string trimmed = "Content-Length :", five = "5";
    EXPECT_FALSE(calls->AddHeader(p->m_pFilterContext, trimmed.data(), five.data()));
    std::string type = "content-type:", html = "text/plain", length = "Content-Length", none = "";
    EXPECT_TRUE(calls->SetHeader(p->m_pFilterContext, type.data(), html.data()));
    EXPECT_TRUE(calls->SetHeader(p->m_pFilterContext, length.data(), none.data()));
    std::string wanted = "X-LONG-39", buffer(64, '\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    EXPECT_TRUE(calls->GetHeader(p->m_pFilterContext, wanted.data(), buffer.data(), &size));
    EXPECT_EQ(std::string(buffer.c_str()), std::string(30, 'n'));
    return 0u;
  };
  const HxOutcome out = m_host.Run(m_request);
  const std::string head = out.answer.substr(0, out.answer.find("\r\n\r\n") + 2);
  EXPECT_EQ(head.find("Content-Length"), std::string::npos);
  const size_t first = head.find("\r\nX-Long-0: " + std::string(30, 'a') + "\r\n");
  const size_t last = head.find("\r\nX-Long-39: " + std::string(30, 'n') + "\r\n");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(last, std::string::npos);
  EXPECT_LT(first, last);
  const std::string type = "\r\ncontent-type: text/plain\r\n";
  EXPECT_EQ(head.substr(head.size() - type.size()), type);
}

TEST_F(HostRun, UserTokenCarriesTheIdentity) {
  static std::string s_seen;
  static DWORD s_error = 0;
  g_script[SF_NOTIFY_AUTH_COMPLETE] = [](CDLLContext* p) {
    auto* calls = static_cast<HTTP_FILTER_AUTH_COMPLETE_INFO*>(p->m_pNotification);
    HANDLE token = reinterpret_cast<HANDLE>(1);
    IsapiClearCallError();
    if (!calls->GetUserToken(p->m_pFilterContext, &token)) {
      s_error = IsapiCallError();
      s_seen = token == nullptr ? "<none>" : "<dangling>";
      return 0u;
    }
    const auto* t = static_cast<const HX_USER_TOKEN*>(token);
    s_seen = std::string(t->domain) + "\\" + t->account + " " + t->sid;
    for (DWORD i = 0; i < t->groupCount; ++i) s_seen += std::string(" ") + t->groupSids[i];
    return 0u;
  };
  m_request.identity = {"jdoe", "EXAMPLE", "S-1-5-21-1-2-3-1001", {"S-1-5-32-545", "S-1-5-21-1-2-3-513"}};
  m_host.Run(m_request);
  EXPECT_EQ(s_seen, "EXAMPLE\\jdoe S-1-5-21-1-2-3-1001 S-1-5-32-545 S-1-5-21-1-2-3-513");

  m_request.identity = {};
  m_host.Run(m_request);
  EXPECT_EQ(s_seen, "<none>");
  EXPECT_EQ(s_error, ERROR_NO_TOKEN);
}

// A response header a browser would read as another header than the one
// the module is told of (a bare CR starts a line, a name it trims or splits
// at a colon) cannot be sent: the run fails before the module is called.
TEST_F(HostRun, ResponseHeadersABrowserReadsOtherwiseAreRefused) {
  WithPage("<html></html>");
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"X-A", "1\rContent-Encoding: gzip"}, {"Content-Encoding ", "gzip"}, {"Content-Length:", "5"}}) {
    g_seen.clear();
    m_request.responseHeaders = {{name, value}};
    const HxOutcome out = m_host.Run(m_request);
    EXPECT_FALSE(out.ok) << name;
    EXPECT_NE(out.error.find("<" + name + ">"), std::string::npos) << out.error;
    EXPECT_TRUE(g_seen.empty());
  }
}

TEST_F(HostRun, IgnoreStopsAllButEndOfRequest) {
  WithPage("<html></html>");
  g_script[SF_NOTIFY_PREPROC_HEADERS] = [](CDLLContext* p) {
    p->m_dwControlMessage = ControlMessageIgnore;
    return 0u;
  };
  const HxOutcome out = m_host.Run(m_request);
  EXPECT_EQ(g_seen, (std::vector<DWORD>{0x4000, 0x80}));
  EXPECT_EQ(out.answerKind, HxAnswerKind::ServerResponse);
  EXPECT_NE(out.answer.find("<html></html>"), std::string::npos);
}

TEST_F(HostRun, CompletedAnswersWithTheModulesResponse) {
  WithPage("<html></html>");
  g_script[SF_NOTIFY_AUTH_COMPLETE] = [](CDLLContext* p) {
    const char denied[] = "HTTP/1.0 401 OK\r\n\r\ndenied";
    DWORD length = sizeof denied - 1;
    p->m_pCoreServices->SendResponse(p, denied, &length, p->m_pCoreServices);
    p->m_dwControlMessage = ControlMessageCompleted;
    return 0u;
  };
  const HxOutcome out = m_host.Run(m_request);
  EXPECT_EQ(g_seen, (std::vector<DWORD>{0x4000, 0x04000000, 0x80}));
  EXPECT_EQ(out.answerKind, HxAnswerKind::ModuleResponse);
  EXPECT_EQ(out.answer, "HTTP/1.0 401 OK\r\n\r\ndenied");
}

TEST_F(HostRun, ReplaceAnswersWithTheReplaceBufferTakenBeforeEndOfRequest) {
  WithPage("<html></html>");
  g_script[SF_NOTIFY_SEND_RAW_DATA] = [](CDLLContext* p) {
    const char page[] = "HTTP/1.1 302 Found\r\nLocation: /owa/\r\n\r\n";
    p->m_pReplaceBuffer = new BYTE[sizeof page];
    std::memcpy(p->m_pReplaceBuffer, page, sizeof page);
    p->m_dwReplaceBufferLength = sizeof page - 1;
    p->m_dwControlMessage = ControlMessageReplace;
    return 0u;
  };
  const HxOutcome out = m_host.Run(m_request);
  EXPECT_EQ(g_seen.back(), SF_NOTIFY_END_OF_REQUEST);
  EXPECT_EQ(out.answerKind, HxAnswerKind::ReplaceBuffer);
  EXPECT_EQ(out.answer, "HTTP/1.1 302 Found\r\nLocation: /owa/\r\n\r\n");
}

TEST_F(HostRun, SubmittedEditsApplyToACopyOfTheResponse) {
  WithPage("<html><head></head><body></body></html>");
  static DWORD s_result = 0;
  g_script[SF_NOTIFY_SEND_RAW_DATA] = [](CDLLContext* p) {
    const CCommonPointers& w = *p->m_spOutboundContext->m_pCommonPointers;
    CBufferInstructionList list;
    auto* i = new CBufferInstruction;
    i->m_dwType = CBufferInstruction::TypeInsert;
    i->m_qwAddress = w[CCommonPointers::HeadEndTag];
    i->SetText("<script src='x.js'></script>");
    list.AddInstruction(i);
    s_result = p->m_pCoreServices->SubmitBufferCommands(p, &list);
    if (s_result != 0) p->m_dwControlMessage = ControlMessageIgnore;
    return s_result;
  };
  HxOutcome out = m_host.Run(m_request);
  EXPECT_EQ(s_result, 0u);
  EXPECT_EQ(out.answerKind, HxAnswerKind::RewrittenPage);
  EXPECT_NE(out.answer.find("<head><script src='x.js'></script></head>"), std::string::npos);
  EXPECT_EQ(out.instructionCount, 1u);

  g_script[SF_NOTIFY_SEND_RAW_DATA] = [](CDLLContext* p) {
    CBufferInstructionList list;
    auto* i = new CBufferInstruction;
    i->m_dwType = CBufferInstruction::TypeDelete;
    i->m_qwAddress = p->m_spOutboundContext->m_pCommonPointers->m_words[CCommonPointers::LastByte];
    i->m_dwLength = 2;  // runs past the end
    list.AddInstruction(i);
    s_result = p->m_pCoreServices->SubmitBufferCommands(p, &list);
    if (s_result != 0) p->m_dwControlMessage = ControlMessageIgnore;
    return s_result;
  };
  out = m_host.Run(m_request);
  EXPECT_EQ(s_result, kHxApplyAddressOutside);
  EXPECT_EQ(out.answerKind, HxAnswerKind::ServerResponse);
  EXPECT_NE(out.answer.find("<head></head>"), std::string::npos);
}

}  // namespace
