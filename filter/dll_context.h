// The filter host's per-request record, handed to every notification. The
// host owns and fills it; the module reads and writes some fields in place.
// Byte offsets and widths are the interface between host and module; the
// host-reserved bytes are never touched by the module.
#pragma once

#include <cstddef>

#include "common/counted_ptr.h"
#include "filter/control_message.h"
#include "filter/core_services.h"
#include "filter/exchange_url.h"
#include "filter/outbound_context.h"
#include "filter/request_info.h"
#include "platform/http_filter.h"
#include "platform/win_types.h"

class CPLHXContext;

struct CDLLContext {
  void* m_pHostReserved0 = nullptr;                        // 0
  DWORD m_dwNotificationType = 0;                          // 8
  BYTE m_hostReserved12[76] = {};                          // 12..87
  DWORD m_dwRequestFlags = 0;                              // 88  RequestFlags bits
  DWORD m_dwReserved92 = 0;                                // 92
  CPLHXContext* m_pMyOwnContext = nullptr;                 // 96
  DWORD m_dwControlMessage = ControlMessageNone;           // 104 a ControlMessage value
  DWORD m_dwReplaceBufferLength = 0;                       // 108
  BYTE* m_pReplaceBuffer = nullptr;                        // 112 allocated with new[] by the module
  CCoreServices* m_pCoreServices = nullptr;                // 120
  BYTE m_hostReserved128[16] = {};                         // 128..143
  CCountedPtr<COutboundContext> m_spOutboundContext;       // 144
  CCountedPtr<CRequestInfo> m_spRequestInfo;               // 168
  CCountedPtr<CExchangeURL> m_spExchangeURL;               // 192
  HTTP_FILTER_CONTEXT* m_pFilterContext = nullptr;         // 216
  void* m_pNotification = nullptr;                         // 224 notification structure of this call
  BYTE m_hostReserved232[12] = {};                         // 232..243
  DWORD m_dwCriteriaID = 0;                                // 244
  DWORD m_dwSettingsID = 0;                                // 248
  DWORD m_dwSubscriptionType = 0;                          // 252
};

static_assert(offsetof(CDLLContext, m_dwNotificationType) == 8);
static_assert(offsetof(CDLLContext, m_dwRequestFlags) == 88);
static_assert(offsetof(CDLLContext, m_pMyOwnContext) == 96);
static_assert(offsetof(CDLLContext, m_dwControlMessage) == 104);
static_assert(offsetof(CDLLContext, m_dwReplaceBufferLength) == 108);
static_assert(offsetof(CDLLContext, m_pReplaceBuffer) == 112);
static_assert(offsetof(CDLLContext, m_pCoreServices) == 120);
static_assert(offsetof(CDLLContext, m_spOutboundContext) == 144);
static_assert(offsetof(CDLLContext, m_spRequestInfo) == 168);
static_assert(offsetof(CDLLContext, m_spExchangeURL) == 192);
static_assert(offsetof(CDLLContext, m_pFilterContext) == 216);
static_assert(offsetof(CDLLContext, m_pNotification) == 224);
static_assert(offsetof(CDLLContext, m_dwCriteriaID) == 244);
static_assert(offsetof(CDLLContext, m_dwSettingsID) == 248);
static_assert(offsetof(CDLLContext, m_dwSubscriptionType) == 252);
static_assert(sizeof(CDLLContext) == 256);
