// The bits of the record's RequestFlags, the subscription types the module
// distinguishes, and the test for the product's virtual-folder requests.
#pragma once

#include "platform/win_types.h"

namespace RequestFlag {
constexpr DWORD PremiumDeleteAttachment = 0x1;
constexpr DWORD PelloraVirtualFolder = 0x2;
constexpr DWORD Post = 0x4;
constexpr DWORD AttachFile = 0x8;
constexpr DWORD DirectAttachmentAccess = 0x10;
constexpr DWORD MacClient = 0x20;
constexpr DWORD PremiumClient = 0x40;
constexpr DWORD FBAClient = 0x80;
constexpr DWORD FBAPublicClient = 0x100;
constexpr DWORD DocumentViewDirectFileAccess = 0x200;
constexpr DWORD DocumentViewSort = 0x400;
constexpr DWORD DocumentViewForceSave = 0x800;
constexpr DWORD SMime = 0x1000;
constexpr DWORD DocumentViewRefresh = 0x2000;
}  // namespace RequestFlag

namespace SubscriptionType {
constexpr DWORD OwaPage = 2;
constexpr DWORD OwaEvent = 4;
constexpr DWORD OwaAttachment = 5;
constexpr DWORD PelloraView = 20;
constexpr DWORD PelloraClose = 21;
constexpr DWORD PelloraShow = 22;
constexpr DWORD PelloraPrint = 23;
constexpr DWORD PelloraMenu = 24;
constexpr DWORD PelloraGetFileScript = 25;
constexpr DWORD OwaReadPage = 30;
}  // namespace SubscriptionType

// The product's own pseudo-requests below its virtual folder.
inline bool IsBrowseCommandRequest(DWORD subscriptionType) {
  return subscriptionType >= SubscriptionType::PelloraView &&
         subscriptionType <= SubscriptionType::PelloraGetFileScript;
}
