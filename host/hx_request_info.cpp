#include "host/hx_request_info.h"

#include "host/hx_routed_path.h"
#include "host/hx_text.h"

namespace {
const char* const kCsmPrefixHeader = "QL_CSMPREFIX";

uint32_t PseudoRequestType(const std::string& path) {
  if (HxFindNoCase(path, "/cmd/show/") != std::string::npos) return 22;
  if (HxEndsWithNoCase(path, "/bin/view.htm")) return 20;
  if (HxFindNoCase(path, "/cmd/close") != std::string::npos) return 21;
  if (HxFindNoCase(path, "/cmd/print") != std::string::npos) return 23;
  if (HxFindNoCase(path, "/cmd/menu") != std::string::npos) return 24;
  if (HxEndsWithNoCase(path, "/GetFile.js")) return 25;
  return 0;
}

// The segments below the mail folder, "/"-led; checked one by one so that
// "ev.owa/more" reaches the same handler as "ev.owa". A routed path names
// one handler at most: HxRoutePath refuses one that names two.
uint32_t MailHandlerType(std::string_view below) {
  while (!below.empty()) {
    below.remove_prefix(1);
    const std::string_view segment = below.substr(0, below.find('/'));
    const HxHandler handler = HxSegmentHandler(segment);
    if (handler == HxHandler::Event) return 4;
    if (handler == HxHandler::Attachment) return 5;
    below.remove_prefix(segment.size());
  }
  return 2;
}

// "/owa/" names the folder "/owa"; "/" (or nothing) the whole site, "".
std::string MailFolder(std::string_view basePath) {
  while (!basePath.empty() && basePath.front() == '/') basePath.remove_prefix(1);
  while (!basePath.empty() && basePath.back() == '/') basePath.remove_suffix(1);
  return basePath.empty() ? std::string() : "/" + std::string(basePath);
}

}  // namespace

std::string HxExchangeBasePath(const HxRequest& request) {
  return request.exchangeBasePath.value_or(kHxDefaultExchangeBasePath);
}

uint32_t HxSubscriptionTypeForPath(const std::string& routedPath, const std::string& virtualFolder,
                                   std::string_view exchangeBasePath) {
  std::string_view below;
  if (HxPathStartsWithSegments(routedPath, "/" + virtualFolder, below)) return PseudoRequestType(routedPath);
  if (HxPathStartsWithSegments(routedPath, MailFolder(exchangeBasePath), below)) return MailHandlerType(below);
  return 0;
}

void HxAddParameters(const std::string& encoded, CRequestInfo& info) {
  size_t pos = 0;
  while (pos <= encoded.size()) {
    size_t amp = encoded.find('&', pos);
    if (amp == std::string::npos) amp = encoded.size();
    const std::string pair = encoded.substr(pos, amp - pos);
    if (!pair.empty()) {
      const size_t eq = pair.find('=');
      const std::string name = HxFormDecode(pair.substr(0, eq));
      const std::string value = eq == std::string::npos ? std::string() : HxFormDecode(pair.substr(eq + 1));
      if (!name.empty()) info.m_mapParams.emplace(ToCI(name), ToCI(value));
    }
    pos = amp + 1;
  }
}

std::string HxServerVariableName(const std::string& header) {
  std::string name = "HTTP_";
  for (char c : header) {
    if (c == '-') {
      name += '_';
    } else {
      name += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    }
  }
  return name;
}

void HxSetRequestUrl(const std::string& url, CRequestInfo& info) {
  const size_t q = url.find('?');
  info.m_mapHeaders["HTTP_URL"] = url;
  info.m_mapHeaders["URL"] = url.substr(0, q);
  info.m_mapHeaders["QUERY_STRING"] = q == std::string::npos ? std::string() : url.substr(q + 1);
}

bool HxIsHostVariable(const std::string& name) {
  static const char* const kHostVariables[] = {
      "HTTP_URL",        "URL",         "QUERY_STRING", "HTTP_METHOD", "REQUEST_METHOD",
      "HTTP_VERSION",    "SERVER_PROTOCOL", "REMOTE_ADDR", "REMOTE_HOST", "SERVER_NAME",
      "LOGON_USER",      "AUTH_USER",   "REMOTE_USER"};
  for (const char* v : kHostVariables) {
    if (HxEqualsNoCase(name, v)) return true;
  }
  return HxStartsWithNoCase(name, "HEADER_");
}

void HxFillRequestInfo(const HxRequest& request, const std::string& routedPath, CRequestInfo& info) {
  HxAddParameters(request.QueryString(), info);
  const std::string* contentType = request.Header("Content-Type");
  const bool formBody = contentType == nullptr ||
                        HxFindNoCase(*contentType, "application/x-www-form-urlencoded") != std::string::npos;
  if (HxEqualsNoCase(request.method, "POST") && formBody) HxAddParameters(request.body, info);

  auto& h = info.m_mapHeaders;
  HxSetRequestUrl(request.target, info);
  // The module sees the path as the server routes it; HTTP_URL and the query
  // stay as sent.
  h["URL"] = routedPath;
  h["HTTP_METHOD"] = request.method;
  h["REQUEST_METHOD"] = request.method;
  h["HTTP_VERSION"] = request.version;
  h["SERVER_PROTOCOL"] = request.version;
  h["REMOTE_ADDR"] = request.clientAddress;
  h["REMOTE_HOST"] = request.clientAddress;
  const std::string* host = request.Header("Host");
  h["SERVER_NAME"] = host != nullptr ? host->substr(0, host->find(':')) : std::string();
  // Present, and empty for an anonymous request, so that no client header of
  // the same name can be read in their place.
  const std::string logon = request.identity.empty() ? std::string() : request.identity.LogonName();
  h["LOGON_USER"] = logon;
  h["AUTH_USER"] = logon;
  h["REMOTE_USER"] = logon;
  // A repeated header joins its values, as a server folds them.
  auto add = [&h](const std::string& key, const std::string& v) {
    auto [it, inserted] = h.emplace(key, v);
    if (!inserted) it->second += ", " + v;
  };
  for (const auto& [name, value] : request.headers) {
    add(name + ":", value);
    // A header such as "Method:" would otherwise join the server's own
    // HTTP_METHOD; it stays readable as "Method:" only.
    const std::string variable = HxServerVariableName(name);
    if (!HxIsHostVariable(variable)) add(variable, value);
  }
  // The host passes its prefix on, unless the request carries its own.
  if (!request.csmPrefix.empty() && request.Header(kCsmPrefixHeader) == nullptr) {
    add(std::string(kCsmPrefixHeader) + ":", request.csmPrefix);
    add(HxServerVariableName(kCsmPrefixHeader), request.csmPrefix);
  }
  for (const auto& [name, value] : request.serverVariables) h[name] = value;
}

void HxFillExchangeUrl(const HxRequest& request, CExchangeURL& url) {
  const std::string* host = request.Header("Host");
  url.m_sRootURL = request.exchangeRootUrl.value_or("https://" + (host != nullptr ? *host : std::string("localhost")) +
                                                    "/owa/");
  url.m_sBasePath = HxExchangeBasePath(request);
}
