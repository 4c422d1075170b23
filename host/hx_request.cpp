#include "host/hx_request.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "host/hx_text.h"

std::string HxRequest::Path() const {
  const size_t q = target.find('?');
  return q == std::string::npos ? target : target.substr(0, q);
}

std::string HxRequest::QueryString() const {
  const size_t q = target.find('?');
  return q == std::string::npos ? std::string() : target.substr(q + 1);
}

const std::string* HxRequest::Header(const std::string& name) const {
  for (const auto& [n, v] : headers) {
    if (HxEqualsNoCase(n, name)) return &v;
  }
  return nullptr;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  content = s.str();
  return !in.bad();
}

namespace {

bool ParseNumber(const std::string& text, uint32_t& out) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (v > 0xFFFFFFFFull) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

std::string JoinPath(const std::string& dir, const std::string& file) {
  if (file.empty() || file[0] == '/' || dir.empty()) return file;
  return dir.back() == '/' ? dir + file : dir + "/" + file;
}

bool ApplyDirective(const std::string& name, const std::string& value, const std::string& baseDir,
                    HxRequest& r, std::string& why) {
  uint32_t n = 0;
  if (name == "client-address") {
    r.clientAddress = value;
  } else if (name == "subscription") {
    if (!ParseNumber(value, n)) return why = "subscription type must be a number", false;
    r.subscriptionType = n;
  } else if (name == "criteria") {
    if (!ParseNumber(value, n)) return why = "criteria id must be a number", false;
    r.criteriaId = n;
  } else if (name == "user-account") {
    r.identity.account = value;
  } else if (name == "user-domain") {
    r.identity.domain = value;
  } else if (name == "user-sid") {
    r.identity.sid = value;
  } else if (name == "user-group") {
    r.identity.groupSids.push_back(value);
  } else if (name == "response-status") {
    if (!ParseNumber(value, n) || n < 100 || n > 999) return why = "response status must be 100 to 999", false;
    r.responseStatus = n;
  } else if (name == "response-content-type") {
    r.responseContentType = value;
  } else if (name == "response-header") {
    // Read as a header line is: "Content-Length: 5" names Content-Length.
    const size_t sp = value.find_first_of(" \t:");
    const std::string header = value.substr(0, sp);
    if (header.empty()) return why = "response header needs a name", false;
    std::string rest = sp == std::string::npos ? std::string() : HxTrim(value.substr(sp));
    if (!rest.empty() && rest[0] == ':') rest = HxTrim(std::string_view(rest).substr(1));
    r.responseHeaders.emplace_back(header, rest);
  } else if (name == "response-page") {
    if (value.empty()) return why = "response page needs a file", false;
    r.responsePagePath = JoinPath(baseDir, value);
  } else if (name == "server-variable") {
    const size_t sp = value.find_first_of(" \t");
    const std::string var = value.substr(0, sp);
    const std::string val = sp == std::string::npos ? std::string() : HxTrim(value.substr(sp));
    if (var.empty()) return why = "server variable needs a name", false;
    r.serverVariables.emplace_back(var, val);
  } else if (name == "exchange-root-url") {
    r.exchangeRootUrl = value;
  } else if (name == "exchange-base-path") {
    r.exchangeBasePath = value;
  } else if (name == "csm-prefix") {
    r.csmPrefix = value;
  } else {
    return why = "unknown directive @" + name, false;
  }
  return true;
}

}  // namespace

bool ParseRequestDescription(const std::string& text, const std::string& baseDir, HxRequest& r,
                             std::string& error) {
  enum class State { Preamble, Headers, Body } state = State::Preamble;
  size_t pos = 0;
  int lineNo = 0;
  std::string body;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    const size_t next = eol == std::string::npos ? text.size() : eol + 1;
    if (state == State::Body) {
      body.append(text, pos, next - pos);
      pos = next;
      continue;
    }
    std::string line = text.substr(pos, (eol == std::string::npos ? text.size() : eol) - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos = next;
    ++lineNo;
    const std::string where = "line " + std::to_string(lineNo) + ": ";

    if (state == State::Preamble) {
      const std::string trimmed = HxTrim(line);
      if (trimmed.empty() || trimmed[0] == '#') continue;
      if (trimmed[0] == '@') {
        const size_t sp = trimmed.find_first_of(" \t");
        const std::string name = trimmed.substr(1, sp == std::string::npos ? std::string::npos : sp - 1);
        const std::string value = sp == std::string::npos ? std::string() : HxTrim(trimmed.substr(sp));
        std::string why;
        if (!ApplyDirective(name, value, baseDir, r, why)) return error = where + why, false;
        continue;
      }
      // The request line: METHOD TARGET [VERSION]
      std::istringstream words(trimmed);
      std::string version;
      words >> r.method >> r.target >> version;
      if (r.method.empty() || r.target.empty() || r.target[0] != '/') {
        return error = where + "expected a request line such as 'GET /owa/ HTTP/1.1'", false;
      }
      if (!version.empty()) r.version = version;
      state = State::Headers;
      continue;
    }

    // Headers until the blank line.
    if (line.empty()) {
      state = State::Body;
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return error = where + "expected 'Name: value'", false;
    r.headers.emplace_back(line.substr(0, colon), HxTrim(line.substr(colon + 1)));
  }
  if (r.method.empty()) return error = "no request line", false;
  // The file's own final line end is not part of the body.
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
  r.body = body;
  return true;
}

bool LoadRequestDescription(const std::string& path, HxRequest& request, std::string& error) {
  std::string text;
  if (!ReadWholeFile(path, text)) {
    error = "cannot read " + path;
    return false;
  }
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  request.sourceName = path;
  if (!ParseRequestDescription(text, dir, request, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}
