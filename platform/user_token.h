// The user token the host hands out through the authentication-complete
// notification's GetUserToken call. On this platform a token handle points to
// this record, owned by the host and valid until the end of the request: the
// module copies what it needs (for instance into its request identity) while
// it handles the notification.
#pragma once

#include <cstddef>

#include "platform/win_types.h"

struct HX_USER_TOKEN {
  const char* account;             // never null; may be empty
  const char* domain;              // never null; may be empty
  const char* sid;                 // string SID "S-1-...", never null; may be empty
  DWORD groupCount;
  const char* const* groupSids;    // groupCount string SIDs
};

static_assert(offsetof(HX_USER_TOKEN, groupCount) == 24);
static_assert(offsetof(HX_USER_TOKEN, groupSids) == 32);
