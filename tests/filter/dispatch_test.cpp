#include <gtest/gtest.h>

#include <cstring>

#include "fake_server.h"
#include "filter/notifications.h"
#include "filter/pl_hx_context.h"

extern "C" {
BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer);
DWORD HttpFilterProc(CDLLContext* pContext);
DWORD TerminateFilter();
}

namespace {

TEST(Dispatch, VersionRecord) {
  HTTP_FILTER_VERSION v;
  std::memset(&v, 'x', sizeof v);
  v.dwServerFilterVersion = 0x60000;
  ASSERT_EQ(GetFilterVersion(&v), TRUE);
  EXPECT_EQ(v.dwFilterVersion, 0x60000u);
  EXPECT_EQ(v.dwFlags, 0x040264C0u);
  EXPECT_STREQ(v.lpszFilterDesc, "Quenlith Pellora");
  EXPECT_EQ(v.dwServerFilterVersion, 0x60000u);
  EXPECT_EQ(TerminateFilter(), 0u);
}

TEST(Dispatch, NullRecordAndUnhandledTypesChangeNothing) {
  EXPECT_EQ(HttpFilterProc(nullptr), 0u);
  for (DWORD type : {SF_NOTIFY_AUTHENTICATION, 0x8000u, 0x100u, 0u, 0xFFFFFFFFu}) {
    FakeServer s(type);
    s.WithStatus(200);
    s.record.m_dwRequestFlags = 0x44;
    s.record.m_dwControlMessage = ControlMessageHandledRedirected;
    s.record.m_pReplaceBuffer = new BYTE[4]{};
    s.record.m_dwReplaceBufferLength = 4;
    unsigned char before[sizeof(CDLLContext)];
    std::memcpy(before, &s.record, sizeof before);
    EXPECT_EQ(HttpFilterProc(&s.record), 0u) << type;
    EXPECT_EQ(std::memcmp(before, &s.record, sizeof before), 0) << type;
    EXPECT_TRUE(s.calls.empty());
    delete[] s.record.m_pReplaceBuffer;
    s.record.m_pReplaceBuffer = nullptr;
  }
}

TEST(Dispatch, EachHandledTypeReachesItsHandler) {
  FakeServer send(SF_NOTIFY_SEND_RESPONSE);
  send.WithStatus(200);
  EXPECT_EQ(HttpFilterProc(&send.record), 0u);
  EXPECT_EQ(send.calls.size(), 9u);

  FakeServer end(SF_NOTIFY_END_OF_REQUEST);
  end.record.m_pReplaceBuffer = new BYTE[8]{};
  end.record.m_dwReplaceBufferLength = 8;
  EXPECT_EQ(HttpFilterProc(&end.record), 0u);
  EXPECT_EQ(end.record.m_pReplaceBuffer, nullptr);

  for (DWORD type : {SF_NOTIFY_PREPROC_HEADERS, SF_NOTIFY_AUTH_COMPLETE, SF_NOTIFY_SEND_RAW_DATA}) {
    FakeServer s(type);
    s.WithStatus(200);
    EXPECT_EQ(HttpFilterProc(&s.record), 0u) << type;
  }
}

TEST(EndOfRequest, FreesTheOwnContextAndReplaceBuffer) {
  CNotifications n;
  EXPECT_EQ(n.NotifyEndOfRequest(nullptr), 13u);

  FakeServer s(SF_NOTIFY_END_OF_REQUEST);
  s.record.m_dwControlMessage = ControlMessageReplace;
  s.record.m_pMyOwnContext = new CPLHXContext("de", 0x0407, "a=1; cadata=\"1xyz\"; b=2");
  const char page[] = "HTTP/1.1 200 OK\r\n\r\nreplaced";
  s.record.m_pReplaceBuffer = new BYTE[sizeof page];
  std::memcpy(s.record.m_pReplaceBuffer, page, sizeof page);
  s.record.m_dwReplaceBufferLength = sizeof page;
  EXPECT_EQ(n.NotifyEndOfRequest(&s.record), 0u);
  EXPECT_EQ(s.record.m_pMyOwnContext, nullptr);
  EXPECT_EQ(s.record.m_pReplaceBuffer, nullptr);
  EXPECT_EQ(s.record.m_dwReplaceBufferLength, 0u);
  EXPECT_EQ(s.record.m_dwControlMessage, ControlMessageReplace);

  // Nothing to free: still success, and a second call is harmless.
  EXPECT_EQ(n.NotifyEndOfRequest(&s.record), 0u);
  EXPECT_EQ(s.record.m_dwControlMessage, ControlMessageReplace);
}

TEST(OwnContext, KeepsTheCadataPairOfTheCookie) {
  const CPLHXContext fba("en", 0x1009, "sessionid=1; CADATA=\"4abc\"; UserContext=2");
  EXPECT_EQ(fba.m_sUserLanguage, "en");
  EXPECT_EQ(fba.m_wLCID, 0x1009);
  EXPECT_EQ(fba.m_bHasCadata, 1u);
  EXPECT_EQ(fba.m_sCadataCookie, "CADATA=\"4abc\"");

  const CPLHXContext last("en", 0x1009, "a=1;cadata=\"5q\"");
  EXPECT_EQ(last.m_sCadataCookie, "cadata=\"5q\"");

  const CPLHXContext none("en", 0x1009, "sessionid=1");
  EXPECT_EQ(none.m_bHasCadata, 0u);
  EXPECT_EQ(none.m_sCadataCookie, "");
}

TEST(ControlMessage, PrintedNames) {
  EXPECT_STREQ(ControlMessageName(0), "None");
  EXPECT_STREQ(ControlMessageName(1), "Ignore");
  EXPECT_STREQ(ControlMessageName(2), "Handled/Redirected");
  EXPECT_STREQ(ControlMessageName(3), "Replace");
  EXPECT_STREQ(ControlMessageName(4), "Completed");
  EXPECT_STREQ(ControlMessageName(5), "Unknown");
}

}  // namespace
