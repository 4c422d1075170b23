#include <gtest/gtest.h>

#include "fake_server.h"
#include "log_capture.h"
#include "filter/buffer_instruction.h"
#include "filter/notifications.h"

namespace {

TEST(WorkerHeader, OnlyHeaderNotificationsReachTheHost) {
  for (DWORD type : {SF_NOTIFY_SEND_RESPONSE, SF_NOTIFY_PREPROC_HEADERS, SF_NOTIFY_AUTH_COMPLETE}) {
    FakeServer s(type);
    EXPECT_EQ(CBaseNotifications::AddWorkerHeader(&s.record, "X-A:", "1"), TRUE) << type;
    EXPECT_EQ(CBaseNotifications::SetWorkerHeader(&s.record, "URL", "/X-Pellora/bin/pellora.srf?cmd=menu&"), TRUE);
    ASSERT_EQ(s.calls.size(), 2u);
    EXPECT_EQ(s.calls[1].op, "set");
    EXPECT_EQ(s.calls[1].name, "URL");
    EXPECT_EQ(s.calls[1].value, "/X-Pellora/bin/pellora.srf?cmd=menu&");
  }
  LogCapture log;
  for (DWORD type : {SF_NOTIFY_END_OF_REQUEST, SF_NOTIFY_SEND_RAW_DATA, SF_NOTIFY_AUTHENTICATION, 0u}) {
    FakeServer s(type);
    EXPECT_EQ(CBaseNotifications::AddWorkerHeader(&s.record, "X-A:", "1"), FALSE) << type;
    EXPECT_EQ(CBaseNotifications::SetWorkerHeader(&s.record, "Cookie:", "a=1"), FALSE) << type;
    EXPECT_TRUE(s.calls.empty()) << type;
  }
  EXPECT_EQ(CBaseNotifications::SetWorkerHeader(nullptr, "URL", "/"), FALSE);
  EXPECT_TRUE(log.Has("[SetHeader] for header: Cookie: return 0"));
  EXPECT_TRUE(log.Has("[AddWorkerHeader] for header: X-A: return 0"));
}

TEST(WorkerHeader, TextThatWouldSplitOrCutTheLineNeverReachesTheHost) {
  FakeServer s(SF_NOTIFY_SEND_RESPONSE);
  const std::string nul("a\0b", 3);
  for (const std::string& bad : {std::string("a\r\nX: 1"), std::string("a\n"), std::string("\r"), nul}) {
    EXPECT_EQ(CBaseNotifications::AddWorkerHeader(&s.record, "X-A:", bad), FALSE);
    EXPECT_EQ(CBaseNotifications::SetWorkerHeader(&s.record, bad + ":", "1"), FALSE);
  }
  EXPECT_TRUE(s.calls.empty());
  // Long texts go through whole.
  const std::string longValue(1000, 'v');
  EXPECT_EQ(CBaseNotifications::AddWorkerHeader(&s.record, "X-A:", longValue), TRUE);
  ASSERT_EQ(s.calls.size(), 1u);
  EXPECT_EQ(s.calls[0].value, longValue);
}

TEST(WorkerHeader, MissingHeaderCallOrStructureGivesZero) {
  FakeServer s(SF_NOTIFY_AUTH_COMPLETE);
  s.headers.SetHeader = nullptr;
  EXPECT_EQ(CBaseNotifications::SetWorkerHeader(&s.record, "Cookie:", "a=1"), FALSE);
  EXPECT_EQ(CBaseNotifications::AddWorkerHeader(&s.record, "X-A:", "1"), TRUE);
  s.record.m_pNotification = nullptr;
  EXPECT_EQ(CBaseNotifications::AddWorkerHeader(&s.record, "X-A:", "1"), FALSE);
  EXPECT_EQ(s.calls.size(), 1u);
}

struct SentResponse {
  CDLLContext* record = nullptr;
  std::string text;
  DWORD length = 0;
  CCoreServices* table = nullptr;
};
SentResponse g_sent;

DWORD CaptureResponse(CDLLContext* pContext, const char* response, DWORD* pLength, CCoreServices* pServices) {
  g_sent = {pContext, std::string(response, *pLength), *pLength, pServices};
  *pLength = 0;  // the caller's length must not depend on what the host does with the copy
  return 99;
}

TEST(BaseSendResponse, NeedsTheHostSenderAndCompletesTheRequest) {
  CDLLContext record;
  record.m_dwControlMessage = ControlMessageNone;
  EXPECT_EQ(CBaseNotifications::SendResponse(&record, "x", "401 Access Denied", 1), 7u);
  CCoreServices services;
  record.m_pCoreServices = &services;
  EXPECT_EQ(CBaseNotifications::SendResponse(&record, "x", "401 Access Denied", 1), 7u);
  EXPECT_EQ(record.m_dwControlMessage, ControlMessageNone);

  services.SendResponse = &CaptureResponse;
  const char response[] = "HTTP/1.0 401 OK\r\n\r\ndenied";
  EXPECT_EQ(CBaseNotifications::SendResponse(&record, response, "401 Access Denied", sizeof(response) - 1), 0u);
  EXPECT_EQ(record.m_dwControlMessage, ControlMessageCompleted);
  EXPECT_EQ(g_sent.record, &record);
  EXPECT_EQ(g_sent.text, response);
  EXPECT_EQ(g_sent.table, &services);
}

DWORD g_submitResult = 0;
CBufferInstructionList* g_submittedList = nullptr;
DWORD Submit(CDLLContext*, CBufferInstructionList* list) {
  g_submittedList = list;
  return g_submitResult;
}

TEST(SubmitBufferCommands, AbsentEntryIsSuccessElseTheHostsAnswer) {
  CDLLContext record;
  CBufferInstructionList list;
  EXPECT_EQ(SubmitBufferCommands(nullptr, &record, &list), 0u);
  CCoreServices services;
  EXPECT_EQ(SubmitBufferCommands(&services, &record, &list), 0u);
  services.SubmitBufferCommands = &Submit;
  g_submitResult = 5;
  EXPECT_EQ(SubmitBufferCommands(&services, &record, &list), 5u);
  EXPECT_EQ(g_submittedList, &list);
}

}  // namespace
