// The host's view of one request: its query and form parameters (names
// without case) and its headers and server variables (names with case). The
// host builds it; the module only reads it.
#pragma once

#include <algorithm>
#include <map>
#include <string>

#include "common/ci_string.h"

class CRequestInfo {
 public:
  virtual ~CRequestInfo() = default;

  // A header or server variable. "Cookie" also finds an entry stored as
  // "Cookie:", because the host keeps request headers in the form the ISAPI
  // header calls take. "-" and "_" count as the same character, as the
  // server's own variable look-up has them, so "HTTP_ACCEPT-LANGUAGE" finds
  // "HTTP_ACCEPT_LANGUAGE". "HEADER_<name>" is the request header <name>
  // (the server's variable of that name); a client header that is itself
  // called "HEADER_..." never stands in for it.
  bool GetHeaderValue(const std::string& name, std::string& value) const {
    if (FindHeader(name, value)) return true;
    if (name.empty() || name.back() == ':') return false;
    static constexpr char kHeaderPrefix[] = "HEADER_";
    constexpr size_t kPrefixLength = sizeof kHeaderPrefix - 1;
    if (name.compare(0, kPrefixLength, kHeaderPrefix) == 0) {
      return name.size() > kPrefixLength && FindHeader(name.substr(kPrefixLength) + ":", value);
    }
    return FindHeader(name + ":", value);
  }

  // A query or form parameter; present with an empty value counts as found.
  bool GetParamValue(const ci_string& name, ci_string& value) const {
    if (m_mapParams.empty()) return false;
    auto it = m_mapParams.find(name);
    if (it == m_mapParams.end()) return false;
    value = it->second;
    return true;
  }

  std::map<ci_string, ci_string> m_mapParams;
  std::map<std::string, std::string> m_mapHeaders;

 private:
  static bool SameHeaderChar(char a, char b) { return a == b || ((a == '-' || a == '_') && (b == '-' || b == '_')); }

  // The exact key first; a key that differs only in "-" against "_" next.
  bool FindHeader(const std::string& key, std::string& value) const {
    auto it = m_mapHeaders.find(key);
    if (it == m_mapHeaders.end() && key.find_first_of("-_") != std::string::npos) {
      it = std::find_if(m_mapHeaders.begin(), m_mapHeaders.end(), [&key](const auto& entry) {
        return std::equal(key.begin(), key.end(), entry.first.begin(), entry.first.end(), SameHeaderChar);
      });
    }
    if (it == m_mapHeaders.end()) return false;
    value = it->second;
    return true;
  }
};
