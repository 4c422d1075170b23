// The request path as a web server reads it before it picks a handler. The
// host classifies requests and fills the "URL" variable from this reading,
// not from the text as sent: otherwise "/owa/attachment%2eashx" or
// "/x/../owa/attachment.ashx" would escape the checks of the handler that a
// server goes on to serve them with.
#pragma once

#include <string>
#include <string_view>

// Why a path cannot be read safely; a server answers such a request with 400
// before any filter sees it.
enum class HxPathRefusal {
  None,
  NotAbsolute,       // the path does not start with "/"
  MalformedEscape,   // "%" not followed by two hexadecimal digits
  EscapedSeparator,  // "%2F" or "%5C": a separator the routing could not see
  Nul,               // a NUL byte, sent or escaped
  InvalidUtf8,       // overlong, truncated, surrogate or out-of-range UTF-8
  AboveRoot,         // a ".." segment above "/"
};

// A short text for reports and logs: "an escaped '/' or '\\' in the path".
const char* HxPathRefusalText(HxPathRefusal refusal);

// Reads `sent` (the path of the request target, without its query) segment
// by segment, in the order servers do: "/" and "\" separate segments; a ";"
// and what follows it in a segment go (path parameters); the rest of the
// segment is percent-decoded once and must be valid UTF-8; empty and "."
// segments go and ".." drops the segment before it. Letter case is kept
// (callers compare without case). On success `routed` starts with "/" and
// ends with "/" when the sent path did (or ended in a dot segment); on a
// refusal `routed` is empty.
HxPathRefusal HxRoutePath(std::string_view sent, std::string& routed);
