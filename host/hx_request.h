// One request as the filter host is to run it: the HTTP request text and the
// directives around it (client address, subscription type, criteria id, the
// user's identity, the response). See README "Request descriptions".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct HxIdentity {
  std::string account;
  std::string domain;
  std::string sid;
  std::vector<std::string> groupSids;

  bool empty() const { return account.empty() && sid.empty(); }
  // "DOMAIN\account", or the bare account without a domain.
  std::string LogonName() const { return domain.empty() ? account : domain + "\\" + account; }
};

// The cached-script prefix of a request without "@csm-prefix".
constexpr const char* kDefaultCsmPrefix = "qlcsm-";

struct HxRequest {
  // Request line and headers, in the order given.
  std::string method;
  std::string target;  // path and query as sent
  std::string version = "HTTP/1.1";
  std::vector<std::pair<std::string, std::string>> headers;
  // A header line began with a blank or a tab (obs-fold); it is not among
  // the headers.
  bool foldedHeaderLine = false;
  std::string body;

  // Directives.
  std::string clientAddress = "127.0.0.1";
  std::optional<uint32_t> subscriptionType;  // unset: from the URL rule
  uint32_t criteriaId = 0;
  HxIdentity identity;
  uint32_t responseStatus = 200;
  std::string responseContentType = "text/html; charset=utf-8";
  // Further headers of the server's response, after Content-Type.
  std::vector<std::pair<std::string, std::string>> responseHeaders;
  std::optional<std::string> responsePagePath;  // resolved against the description's folder
  // The page itself, sent in place of reading responsePagePath at each run:
  // a server answers from memory, and a file read per request would put the
  // kernel's work into every measurement of the request.
  std::optional<std::string> responsePage;
  std::vector<std::pair<std::string, std::string>> serverVariables;
  std::optional<std::string> exchangeRootUrl;
  std::optional<std::string> exchangeBasePath;
  // The mail client's cached-script prefix the host passes on in the request
  // header "QL_CSMPREFIX"; empty: none.
  std::string csmPrefix = kDefaultCsmPrefix;

  std::string sourceName;  // the description file, for reports

  std::string Path() const;
  std::string QueryString() const;
  // The first header of that name (ASCII case ignored), or null.
  const std::string* Header(const std::string& name) const;
};

// Why a server answers the request's head with 400 before any filter sees
// it: a head that readers of HTTP read two ways. A server that unfolds a
// folded line, or trims a name ("Content-Length : 5"), frames the body by a
// header the module never saw; so does one that ends a line at a bare CR
// ("X-A: b\rContent-Length: 5") or a value at a NUL. One that drops a
// fragment reads a query the module read otherwise ("ev=GetDoc#x"), and one
// that splits the request line at other blanks reads another target.
enum class HxHeadRefusal {
  None,
  FoldedLine,        // a header line continued from the line before
  ControlCharacter,  // a control byte but a tab in the request line or a header
  NameNotToken,      // a header name that is not an HTTP token
  BadRequestLine,    // not "method target HTTP/x.y": a word more, a method not a token
  FragmentInTarget,  // a raw "#" in the request target
};
const char* HxHeadRefusalText(HxHeadRefusal refusal);
HxHeadRefusal HxCheckRequestHead(const HxRequest& request);

// Parses a description. baseDir resolves a relative response page. On a
// malformed description returns false with a message naming the line.
bool ParseRequestDescription(const std::string& text, const std::string& baseDir, HxRequest& request,
                             std::string& error);
bool LoadRequestDescription(const std::string& path, HxRequest& request, std::string& error);
// Reads a whole file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& content);
