// A failure while a request is classified leaves its kind unknown: a request
// to a handler that serves files must still be decided as a download, where
// a refusal can stop it, and not be let go.
#include <gtest/gtest.h>

#include <stdexcept>

#include "fake_server.h"
#include "filter/notifications.h"
#include "filter/request_flags.h"
#include "filter/request_info.h"

namespace {

void Fail() { throw std::runtime_error("injected failure"); }

TEST(PreProcHeadersFailure, FileHandlersAreDecidedAsDownloads) {
  const struct {
    DWORD type;
    DWORD flags;
    DWORD control;
  } cases[] = {
      {SubscriptionType::OwaAttachment, RequestFlag::DirectAttachmentAccess, ControlMessageNone},
      {SubscriptionType::OwaEvent, RequestFlag::DocumentViewDirectFileAccess, ControlMessageNone},
      {SubscriptionType::OwaPage, 0, ControlMessageIgnore},
  };
  g_pfnPreProcHeadersTestFault = &Fail;
  for (const auto& c : cases) {
    FakeServer s(SF_NOTIFY_PREPROC_HEADERS);
    s.record.m_spRequestInfo = CCountedPtr<CRequestInfo>(new CRequestInfo);
    s.record.m_dwSubscriptionType = c.type;
    CNotifications n;
    n.NotifyPreProcHeaders(&s.record);
    EXPECT_EQ(c.flags, s.record.m_dwRequestFlags) << c.type;
    EXPECT_EQ(c.control, s.record.m_dwControlMessage) << c.type;
  }
  g_pfnPreProcHeadersTestFault = nullptr;
}

}  // namespace
