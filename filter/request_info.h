// The host's view of one request: its query and form parameters (names
// without case) and its headers and server variables (names with case). The
// host builds it; the module only reads it.
#pragma once

#include <map>
#include <string>

#include "common/ci_string.h"

class CRequestInfo {
 public:
  virtual ~CRequestInfo() = default;

  // A header or server variable. "Cookie" also finds an entry stored as
  // "Cookie:", because the host keeps request headers in the form the ISAPI
  // header calls take.
  bool GetHeaderValue(const std::string& name, std::string& value) const {
    auto it = m_mapHeaders.find(name);
    if (it != m_mapHeaders.end()) {
      value = it->second;
      return true;
    }
    if (!name.empty() && name.back() == ':') return false;
    it = m_mapHeaders.find(name + ":");
    if (it == m_mapHeaders.end()) return false;
    value = it->second;
    return true;
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
};
