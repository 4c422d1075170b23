// What the logs may say about a secret (a cookie's value, a credential, an
// Authorization header): whether it is there and how long it is, never its
// text. The debug log reaches syslog and the event-log file at setting 14 =
// 10, and a ring every process on the machine may read, so every line that
// would show request headers or cookies goes through these.
#pragma once

#include <string>
#include <string_view>

// "(absent)" for an empty value, else "(N bytes)".
std::string SecretForLog(std::string_view value);
// A Cookie header as its cookies' names and value lengths, in order:
// "sessionid=(36 bytes); cadata=(26 bytes)". A piece without "=" is shown by
// its length only, as it may be a value a client folded into the header.
std::string CookieForLog(std::string_view cookie);
// A finished log line with the value of every session parameter it holds
// ("canary=...", "UserContext=...", in a query string, a URL or a header;
// names without case) shown by its length: "canary=(32 bytes)". The client
// sends these tokens in the query string too, and lines quote whole URLs.
std::string SessionValuesForLog(std::string_view line);
