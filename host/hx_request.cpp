#include "host/hx_request.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

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

const char* HxHeadRefusalText(HxHeadRefusal refusal) {
  switch (refusal) {
    case HxHeadRefusal::None: return "none";
    case HxHeadRefusal::FoldedLine: return "a header line folded onto the line before";
    case HxHeadRefusal::ControlCharacter: return "a control character in the request line or a header (a bare CR, a NUL)";
    case HxHeadRefusal::NameNotToken: return "a header name that is not a token ('Content-Length : 5')";
    case HxHeadRefusal::BadRequestLine: return "a request line other than 'METHOD target HTTP/x.y'";
    case HxHeadRefusal::FragmentInTarget: return "a '#' in the request target";
  }
  return "unknown";
}

namespace {

// A byte no field value or request line may hold; a tab is a blank.
bool IsControlChar(char c) { return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F; }

bool HoldsControlChar(std::string_view text) { return std::any_of(text.begin(), text.end(), IsControlChar); }

bool IsHttpVersion(std::string_view v) {
  return v.size() == 8 && v.substr(0, 5) == "HTTP/" && v[5] >= '0' && v[5] <= '9' && v[6] == '.' && v[7] >= '0' &&
         v[7] <= '9';
}

}  // namespace

HxHeadRefusal HxCheckRequestHead(const HxRequest& request) {
  if (request.foldedHeaderLine) return HxHeadRefusal::FoldedLine;
  if (HoldsControlChar(request.method) || HoldsControlChar(request.target) || HoldsControlChar(request.version)) {
    return HxHeadRefusal::ControlCharacter;
  }
  for (const auto& [name, value] : request.headers) {
    if (HoldsControlChar(name) || HoldsControlChar(value)) return HxHeadRefusal::ControlCharacter;
    if (!HxIsToken(name)) return HxHeadRefusal::NameNotToken;
  }
  if (!HxIsToken(request.method) || !IsHttpVersion(request.version)) return HxHeadRefusal::BadRequestLine;
  if (request.target.find('#') != std::string::npos) return HxHeadRefusal::FragmentInTarget;
  return HxHeadRefusal::None;
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

constexpr std::string_view kBlanks = " \t";

std::string TrimBlanks(std::string_view s) {
  const size_t b = s.find_first_not_of(kBlanks);
  if (b == std::string_view::npos) return std::string();
  return std::string(s.substr(b, s.find_last_not_of(kBlanks) - b + 1));
}

// The word at the start of `text` (no blanks before it) into `word`; returns
// what follows it, its blanks skipped.
std::string_view NextWord(std::string_view text, std::string& word) {
  const size_t end = std::min(text.find_first_of(kBlanks), text.size());
  word.assign(text.substr(0, end));
  const size_t next = text.find_first_not_of(kBlanks, end);
  return next == std::string_view::npos ? std::string_view() : text.substr(next);
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
      // The request line: METHOD TARGET [VERSION], split at blanks only; any
      // further word stays in the version, for the host to refuse.
      const std::string_view rest = NextWord(trimmed, r.method);
      const std::string version = TrimBlanks(NextWord(rest, r.target));
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
    if (line[0] == ' ' || line[0] == '\t') {
      r.foldedHeaderLine = true;
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return error = where + "expected 'Name: value'", false;
    // Only blanks surround a value: a bare CR stays, for the host to refuse.
    r.headers.emplace_back(line.substr(0, colon), TrimBlanks(std::string_view(line).substr(colon + 1)));
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
