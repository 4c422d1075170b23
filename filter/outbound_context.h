// The host's outbound-response record. The module reads the HTTP status at
// byte 44 and, through m_pCommonPointers, the description of the response
// buffer; the rest of the record belongs to the host.
#pragma once

#include "filter/common_pointers.h"
#include "platform/layout_check.h"
#include "platform/win_types.h"

class COutboundContext {
 public:
  virtual ~COutboundContext() = default;

  CCommonPointers* m_pCommonPointers = nullptr;  // 8
  BYTE m_hostReserved[28] = {};                  // 16..43
  DWORD m_dwStatusCode = 0;                      // 44
};

HX_CHECK_OFFSET(COutboundContext, m_pCommonPointers, 8)
HX_CHECK_OFFSET(COutboundContext, m_dwStatusCode, 44)
