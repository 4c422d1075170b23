#include <gtest/gtest.h>

#include "filter/control_message.h"
#include "filter/dll_context.h"
#include "filter/notifications.h"
#include "filter/pl_hx_context.h"
#include "general/log_capture.h"

namespace {

TEST(PreProcHeaders, MissingRecordOrRequestInformation) {
  CNotifications handlers;
  EXPECT_EQ(13u, handlers.NotifyPreProcHeaders(nullptr));

  CDLLContext record;
  record.m_dwRequestFlags = 0x80;
  EXPECT_EQ(13u, handlers.NotifyPreProcHeaders(&record));
  EXPECT_EQ(static_cast<DWORD>(ControlMessageIgnore), record.m_dwControlMessage);
  EXPECT_EQ(0x80u, record.m_dwRequestFlags);  // not reset without request information
}

TEST(PreProcHeaders, ResetsTheRequestStateWithoutFreeingIt) {
  CNotifications handlers;
  CDLLContext record;
  record.m_spRequestInfo = CCountedPtr<CRequestInfo>(new CRequestInfo());
  auto& h = record.m_spRequestInfo->m_mapHeaders;
  h["HTTP_URL"] = "/owa/?ae=Item&id=1";
  h["HTTP_METHOD"] = "GET";
  h["HTTP_USER_AGENT"] = "MSIE 7.0; Windows";
  record.m_spRequestInfo->m_mapParams.emplace("ae", "Item");
  record.m_spRequestInfo->m_mapParams.emplace("id", "1");
  record.m_dwSubscriptionType = 2;
  record.m_dwRequestFlags = 0xFFFF;
  // Left over from an earlier request on this record; end of request owns it.
  auto* leftover = new CPLHXContext("en", 0x409, "");
  BYTE* leftoverBuffer = new BYTE[4];
  record.m_pMyOwnContext = leftover;
  record.m_pReplaceBuffer = leftoverBuffer;
  record.m_dwReplaceBufferLength = 4;

  EXPECT_EQ(0u, handlers.NotifyPreProcHeaders(&record));
  EXPECT_EQ(0x40u, record.m_dwRequestFlags);
  EXPECT_EQ(nullptr, record.m_pMyOwnContext);
  EXPECT_EQ(nullptr, record.m_pReplaceBuffer);
  EXPECT_EQ(0u, record.m_dwReplaceBufferLength);
  EXPECT_EQ(static_cast<DWORD>(ControlMessageNone), record.m_dwControlMessage);
  delete leftover;
  delete[] leftoverBuffer;
}

// The kinds appear in the long line in their own order: item, dialog,
// delete, document view, sort, Basic manager, attachment, document file,
// virtual folder, refresh.
TEST(PreProcHeaders, LongLineNamesEachKind) {
  CNotifications handlers;
  CDLLContext record;
  record.m_spRequestInfo = CCountedPtr<CRequestInfo>(new CRequestInfo());
  auto& h = record.m_spRequestInfo->m_mapHeaders;
  h["HTTP_URL"] = "/owa/?ae=Item&a=Attach&id=1";
  h["HTTP_METHOD"] = "POST";
  h["HTTP_USER_AGENT"] = "Macintosh";
  for (const char* name : {"ae", "a", "id", "smime"}) record.m_spRequestInfo->m_mapParams.emplace(name, "x");
  record.m_spRequestInfo->m_mapParams["ae"] = "Item";
  record.m_spRequestInfo->m_mapParams["a"] = "Attach";
  record.m_dwSubscriptionType = 2;
  CLogCapture log;
  EXPECT_EQ(0u, handlers.NotifyPreProcHeaders(&record));
  EXPECT_EQ(0x1000u | 0x20u | 0x8u | 0x4u, record.m_dwRequestFlags);
  EXPECT_TRUE(CLogCapture::Has(
      "[CNotifications::NotifyPreProcHeaders] HTTP URL </owa/?ae=Item&a=Attach&id=1> METHOD <POST> SMIME <Y> "
      "UA <Macintosh> Mac client <Y> Premium client <N> SubscriptionType <2> ReadEditItemRequest <Y> "
      "PremiumAttachFileDialogRequest <N> PremiumDeleteAttachmentRequest <N> PremiumDocumentViewRequest <N> "
      "PremiumDocumentViewSortRequest <N> BasicAttachmentManager <Y> DirectAttachmentAccessRequest <N> "
      "PremiumDocumentViewDirectFileAccessRequest <N> FakePelloraVirtualFolderRequest <N> "
      "PremiumDocumentViewRefreshRequest <N>."));
  EXPECT_TRUE(CLogCapture::Has(
      "[CNotifications::NotifyPreProcHeaders] finished.  Win32 RC=0.  Control Message=<None>"));
}

}  // namespace
