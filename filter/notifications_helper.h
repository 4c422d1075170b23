// Request helpers shared by the notification handlers.
#pragma once

#include "filter/dll_context.h"
#include "platform/win_types.h"

class CNotificationsHelper {
 public:
  // Adds the response-header table in order, stopping at the first header
  // the host refuses; TRUE when all went in.
  static BOOL AddNoCacheHeaders(CDLLContext* pContext);
};
