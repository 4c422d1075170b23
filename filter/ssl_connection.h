// Whether the client reached the server over SSL, as the show redirect and
// the page forms (safe open) must agree on it.
#pragma once

class CRequestInfo;

// The server variable "HTTPS" is "on", or a front end that ends SSL says so
// in its "Front-End-Https" header, or the server is set up as SSL off-loaded.
// Values compare without case.
bool IsSSLConnection(const CRequestInfo& info);
