#include "platform/directory_uri_text.h"

#include <cctype>
#include <string_view>

namespace {

bool EndsServerPart(char c) {
  return c == '/' || c == '?' || c == '#' || c == ',' || std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool IsListSeparator(char c) { return c == ',' || std::isspace(static_cast<unsigned char>(c)) != 0; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The server part as a URI reader sees it, escapes decoded once; false when
// an escape is broken (what it stands for cannot be told).
bool Decoded(const std::string& part, std::string& out) {
  out.clear();
  for (size_t i = 0; i < part.size(); ++i) {
    if (part[i] != '%') {
      out += part[i];
      continue;
    }
    if (i + 2 >= part.size()) return false;
    const int high = HexValue(part[i + 1]);
    const int low = HexValue(part[i + 2]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

// A host name's byte: a letter, digit, "-", ".", "_" or "~", a byte of a
// name in another script, or ldapi's "/" (its host is an escaped socket
// path). Anything else may be part of a password.
bool IsHostByte(unsigned char c) {
  return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~' || c == '/' || c >= 0x80;
}

// An IPv6 literal's byte between its brackets.
bool IsAddressByte(unsigned char c) { return std::isxdigit(c) != 0 || c == ':' || c == '.'; }

// Whether a server part reads as a host (a name, an address or a bracketed
// IPv6 literal) with at most a port of digits, once its escapes are
// decoded.
bool IsHostAndPort(const std::string& part) {
  std::string text;
  if (!Decoded(part, text)) return false;
  while (!text.empty() && text.back() == ':') text.pop_back();  // "host:" before ": reason"
  const bool bracketed = !text.empty() && text.front() == '[';
  size_t hostEnd = bracketed ? text.find(']') : text.find(':');
  if (bracketed && hostEnd == std::string::npos) return false;
  if (hostEnd == std::string::npos) hostEnd = text.size();
  for (size_t i = bracketed ? 1 : 0; i < hostEnd; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!(bracketed ? IsAddressByte(c) : IsHostByte(c))) return false;
  }
  if (bracketed) ++hostEnd;
  if (hostEnd == text.size()) return true;
  if (text[hostEnd] != ':') return false;
  for (size_t i = hostEnd + 1; i < text.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(text[i])) == 0) return false;
  }
  return true;
}

// Reads the server part that starts at `at` (its user part gone) and what
// follows it up to the URI's end; the position after what is kept.
size_t CleanServerPart(std::string& text, size_t at) {
  // A text cleaned before (a URI named in a failure's words) stays as it is.
  if (text.compare(at, sizeof kUriPartNotShown - 1, kUriPartNotShown) == 0) return at + sizeof kUriPartNotShown - 1;
  size_t end = at;
  while (end < text.size() && !EndsServerPart(text[end]) && text.compare(end, 3, "://") != 0) ++end;
  if (!IsHostAndPort(text.substr(at, end - at))) {
    text.replace(at, end - at, kUriPartNotShown);
    end = at + sizeof kUriPartNotShown - 1;
  }
  // A query holds the extensions, where a bind's credentials may stand.
  size_t uriEnd = end;
  while (uriEnd < text.size() && std::isspace(static_cast<unsigned char>(text[uriEnd])) == 0 &&
         text.compare(uriEnd, 3, "://") != 0) {
    ++uriEnd;
  }
  const size_t query = text.find('?', end);
  if (query != std::string::npos && query < uriEnd) {
    text.replace(query, uriEnd - query, "?...");
    return query + 4;
  }
  return end;
}

}  // namespace

std::string UriWithoutUserPart(std::string text) {
  static constexpr char kScheme[] = "://";
  for (size_t at = text.find(kScheme); at != std::string::npos; at = text.find(kScheme, at)) {
    at += 3;
    const size_t next = text.find(kScheme, at);
    const size_t sign = text.rfind('@', next == std::string::npos ? std::string::npos : next - 1);
    if (sign != std::string::npos && sign >= at) text.erase(at, sign + 1 - at);
    at = CleanServerPart(text, at);
  }
  return text;
}

std::string ConfiguredUriWithoutUserPart(std::string uri) {
  const size_t scheme = uri.find("://");
  const size_t sign = uri.rfind('@');
  if (sign != std::string::npos) {
    const bool schemeFirst = scheme != std::string::npos && scheme < uri.find('@');
    const size_t from = schemeFirst ? scheme + 3 : 0;
    uri.erase(from, sign + 1 - from);
  }
  // libldap splits the list at blanks and commas; a piece that is no URI is
  // no server it reads, and may be the rest of a password that held a blank
  // or a comma before an escaped "@" ("ldap://admin:PW1 PW2%40host").
  std::string pieces;
  for (size_t i = 0; i < uri.size();) {
    size_t end = i;
    while (end < uri.size() && !IsListSeparator(uri[end])) ++end;
    if (end == i) {
      pieces += uri[i++];
      continue;
    }
    const std::string_view piece(uri.data() + i, end - i);
    if (piece.find("://") != std::string_view::npos) {
      pieces += piece;
    } else {
      pieces += kUriPartNotShown;
    }
    i = end;
  }
  return UriWithoutUserPart(std::move(pieces));
}
