// Win32-style results of the request pipeline, as the host and the log see
// them.
#pragma once

#include "platform/win_types.h"

// A record, host entry or request value the step needs is missing.
constexpr DWORD HX_RC_MISSING = 7;
// Invalid data, or nothing to do.
constexpr DWORD HX_RC_INVALID_DATA = 13;
// Something failed inside the module (an exception): never a success.
constexpr DWORD HX_RC_INTERNAL_ERROR = 1359;
