#include <gtest/gtest.h>

#include <new>

#include "fake_server.h"
#include "log_capture.h"
#include "filter/notifications.h"
#include "filter/response_headers.h"

namespace {

DWORD Send(FakeServer& s) {
  CNotifications n;
  return n.NotifySendResponse(&s.record);
}

TEST(SendResponse, NullRecordAndMissingOutboundContext) {
  LogCapture log;
  CNotifications n;
  EXPECT_EQ(n.NotifySendResponse(nullptr), 13u);
  EXPECT_EQ(LogCapture::Lines().back(),
            "[CNotifications::NotifySendResponse] finished.  Win32 RC=13.  Control Message=<N/A>");

  FakeServer s(SF_NOTIFY_SEND_RESPONSE);
  EXPECT_EQ(Send(s), 13u);
  EXPECT_EQ(s.record.m_dwControlMessage, ControlMessageIgnore);
  EXPECT_TRUE(s.calls.empty());
}

TEST(SendResponse, ContinueAndNon200StatusAddNoHeaders) {
  FakeServer cont(SF_NOTIFY_SEND_RESPONSE);
  cont.WithStatus(100);
  cont.record.m_dwControlMessage = ControlMessageHandledRedirected;
  EXPECT_EQ(Send(cont), 0u);
  EXPECT_EQ(cont.record.m_dwControlMessage, ControlMessageHandledRedirected);
  EXPECT_TRUE(cont.calls.empty());

  for (DWORD status : {302u, 304u, 401u, 500u}) {
    FakeServer s(SF_NOTIFY_SEND_RESPONSE);
    s.WithStatus(status);
    EXPECT_EQ(Send(s), 0u) << status;
    EXPECT_EQ(s.record.m_dwControlMessage, ControlMessageIgnore) << status;
    EXPECT_TRUE(s.calls.empty()) << status;
  }
}

TEST(SendResponse, Status200AddsTheNineHeadersInOrder) {
  FakeServer s(SF_NOTIFY_SEND_RESPONSE);
  s.WithStatus(200);
  EXPECT_EQ(Send(s), 0u);
  EXPECT_EQ(s.record.m_dwControlMessage, ControlMessageNone);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"X-QLProduct:", "PL_HX"},          {"Pragma:", "no-cache"},         {"Cache-control:", "no-cache"},
      {"Cache-control:", "must-revalidate"}, {"Cache-control:", "max-age=0"}, {"Cache-control:", "s-maxage=0"},
      {"Cache-control:", "no-store"},     {"Cache-control:", "private"},   {"Cache-control:", "proxy-revalidate"},
  };
  ASSERT_EQ(s.calls.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(s.calls[i].op, "add");
    EXPECT_EQ(s.calls[i].name, expected[i].first) << i;
    EXPECT_EQ(s.calls[i].value, expected[i].second) << i;
  }
}

TEST(SendResponse, RefusedThirdHeaderStopsTheRestButNotTheResponse) {
  FakeServer s(SF_NOTIFY_SEND_RESPONSE);
  s.WithStatus(200);
  s.failAddHeaderAt = 3;
  LogCapture log;
  EXPECT_EQ(Send(s), 0u);
  EXPECT_EQ(s.calls.size(), 3u);
  EXPECT_EQ(s.record.m_dwControlMessage, ControlMessageNone);
  EXPECT_TRUE(log.Has("[AddWorkerHeader] for header: Cache-control: return 0"));
  EXPECT_TRUE(log.Has("[CNotificationsHelper::AddNoCacheHeaders] returns <FALSE>"));
  EXPECT_EQ(LogCapture::Lines().back(),
            "[CNotifications::NotifySendResponse] finished.  Win32 RC=0.  Control Message=<None>");
}

TEST(SendResponse, NoFilterContextMeansNoHeaderGoesIn) {
  FakeServer s(SF_NOTIFY_SEND_RESPONSE);
  s.WithStatus(200);
  s.record.m_pFilterContext = nullptr;
  EXPECT_EQ(Send(s), 0u);
  EXPECT_TRUE(s.calls.empty());
}

// A body that is not the page goes out as the server sent it, the reason in
// the debug log; the 200 answer's headers still go in. A status-100 answer
// that goes on to the page's edits is judged alike.
TEST(SendResponse, BodyThatIsNotThePageIsIgnoredWithItsReason) {
  for (DWORD status : {200u, 100u}) {
    FakeServer s(SF_NOTIFY_SEND_RESPONSE);
    s.WithStatus(status);
    s.WithResponseHeader("Content-Encoding:", "gzip");
    LogCapture log;
    EXPECT_EQ(Send(s), 0u);
    EXPECT_EQ(s.record.m_dwControlMessage, ControlMessageIgnore) << status;
    EXPECT_EQ(s.calls.size(), status == 200 ? 9u : 0u);
    EXPECT_TRUE(log.Has("[CNotifications::NotifySendResponse] The body is compressed (Content-Encoding: <gzip>); it "
                        "goes out as the server sent it."));
  }
  // Headers that cannot be read are not taken for absent ones.
  FakeServer s(SF_NOTIFY_SEND_RESPONSE);
  s.WithStatus(200);
  s.headers.GetHeader = [](HTTP_FILTER_CONTEXT*, LPSTR, LPVOID, LPDWORD) -> BOOL { throw std::bad_alloc(); };
  EXPECT_EQ(Send(s), 0u);
  EXPECT_EQ(s.record.m_dwControlMessage, ControlMessageIgnore);
}

}  // namespace
