// How the host turns a request description into what the module reads: the
// subscription type of its URL, the request information (parameters, headers
// and server variables) and the mail server URL record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "filter/exchange_url.h"
#include "filter/request_info.h"
#include "host/hx_request.h"

// The product's virtual folder the URL rule recognises by default.
inline constexpr const char kHxDefaultVirtualFolder[] = "X-Pellora";
// The mail server's base path, and with it its folder, without
// "@exchange-base-path".
inline constexpr const char kHxDefaultExchangeBasePath[] = "/owa/";

// The request's mail server base path: its "@exchange-base-path", else the
// default.
std::string HxExchangeBasePath(const HxRequest& request);

// The host's URL rule (README "Subscription types") on the path as routed
// (HxRoutePath), folders and handlers named by whole segments
// (HxPathStartsWithSegments, HxSegmentHandler): 20 to 25 for the
// pseudo-requests under the virtual folder; below the mail folder (the base
// path's, "/owa" by default) the segment that names a handler decides (a
// routed path names one at most), 4 for "ev.owa", 5 for "attachment.ashx" (a
// server hands what follows to that handler), else 2; 0 for anything else.
uint32_t HxSubscriptionTypeForPath(const std::string& routedPath,
                                   const std::string& virtualFolder = kHxDefaultVirtualFolder,
                                   std::string_view exchangeBasePath = kHxDefaultExchangeBasePath);

// Query-string parameters, then form fields of a url-encoded POST body; on a
// name given twice the first value stays.
void HxAddParameters(const std::string& encoded, CRequestInfo& info);

// Header-map name of a request header in server-variable style:
// "User-Agent" -> "HTTP_USER_AGENT".
std::string HxServerVariableName(const std::string& header);

// The variables the server itself fills (HTTP_URL, URL, QUERY_STRING, the
// method, version, client address, server name, the user names and every
// HEADER_<name>); a client header never changes them.
bool HxIsHostVariable(const std::string& name);

// Fills the request information of a request (README "Request information");
// "URL" holds routedPath, the path as HxRoutePath read it, and "HTTP_URL"
// the target as sent.
void HxFillRequestInfo(const HxRequest& request, const std::string& routedPath, CRequestInfo& info);
// Points the URL fields of the header map at a new request URL.
void HxSetRequestUrl(const std::string& url, CRequestInfo& info);

void HxFillExchangeUrl(const HxRequest& request, CExchangeURL& url);
