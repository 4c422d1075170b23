// Cookie look-ups on the request's cookie header as it is held, without a
// copy of the header: every request of a logged-on user asks for its
// "cadata=" pair twice.
#pragma once

#include <string_view>

#include "common/ci_string.h"
#include "platform/win_types.h"

// extractCookie on a view: `value` views the cookie's text after `key` (which
// must end with "=") up to the next ";". The same log lines.
BOOL ExtractCookieView(ci_string_view cookie, std::string_view key, std::string_view& value);
// GetCadataCookie on a view: "cadata=" and its value up to the next ";", or
// false with an empty `pair`.
BOOL CadataCookieView(ci_string_view cookie, std::string_view& pair);
