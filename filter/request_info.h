// The host's view of one request: its query and form parameters (names
// without case) and its headers and server variables (names with case). The
// host builds it; the module only reads it.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "common/ci_string.h"

// The order of std::less<> on header names (bytes as unsigned, then length),
// compared eight bytes at a time in line: every look-up passes several keys
// that share their "HTTP_" start, and a library call per key cost more than
// the comparison itself.
struct CHeaderKeyLess {
  using is_transparent = void;
  static bool Less(std::string_view a, std::string_view b) noexcept {
    static_assert(std::endian::native == std::endian::little, "the byte swap puts the first byte highest");
    const size_t n = std::min(a.size(), b.size());
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      uint64_t x;
      uint64_t y;
      std::memcpy(&x, a.data() + i, 8);
      std::memcpy(&y, b.data() + i, 8);
      if (x != y) return __builtin_bswap64(x) < __builtin_bswap64(y);
    }
    for (; i < n; ++i) {
      if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
    }
    return a.size() < b.size();
  }
  bool operator()(std::string_view a, std::string_view b) const noexcept { return Less(a, b); }
};

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
  bool GetHeaderValue(std::string_view name, std::string& value) const {
    const std::string* found = FindHeaderValue(name);
    if (found == nullptr) return false;
    value.assign(found->data(), found->size());
    return true;
  }

  // The same look-up without a copy: the stored value, or null. The pointer
  // lives as long as the entry.
  const std::string* FindHeaderValue(std::string_view name) const {
    if (const std::string* found = FindHeader(name)) return found;
    if (name.empty() || name.back() == ':') return nullptr;
    static constexpr std::string_view kHeaderPrefix = "HEADER_";
    if (name.substr(0, kHeaderPrefix.size()) == kHeaderPrefix) {
      return name.size() > kHeaderPrefix.size() ? FindWithColon(name.substr(kHeaderPrefix.size())) : nullptr;
    }
    return FindWithColon(name);
  }

  // A query or form parameter; present with an empty value counts as found.
  bool GetParamValue(ci_string_view name, ci_string& value) const {
    const ci_string* found = FindParamValue(name);
    if (found == nullptr) return false;
    value = *found;
    return true;
  }

  // The same look-up without a copy: the stored value, or null.
  const ci_string* FindParamValue(ci_string_view name) const {
    if (m_mapParams.empty()) return nullptr;
    auto it = m_mapParams.find(name);
    return it != m_mapParams.end() ? &it->second : nullptr;
  }

  // Ordered maps that a view of a name can search without building a key.
  std::map<ci_string, ci_string, std::less<>> m_mapParams;
  std::map<std::string, std::string, CHeaderKeyLess> m_mapHeaders;

 private:
  static bool SameHeaderChar(char a, char b) { return a == b || ((a == '-' || a == '_') && (b == '-' || b == '_')); }

  // The exact key first; a key that differs only in "-" against "_" next.
  const std::string* FindHeader(std::string_view key) const {
    auto it = m_mapHeaders.find(key);
    if (it == m_mapHeaders.end() && key.find_first_of("-_") != std::string_view::npos) {
      it = std::find_if(m_mapHeaders.begin(), m_mapHeaders.end(), [key](const auto& entry) {
        return std::equal(key.begin(), key.end(), entry.first.begin(), entry.first.end(), SameHeaderChar);
      });
    }
    return it != m_mapHeaders.end() ? &it->second : nullptr;
  }

  // `name` + ":" as the key, built on the stack for names of ordinary length.
  const std::string* FindWithColon(std::string_view name) const {
    char buffer[128];
    if (name.size() < sizeof buffer) {
      std::memcpy(buffer, name.data(), name.size());
      buffer[name.size()] = ':';
      return FindHeader(std::string_view(buffer, name.size() + 1));
    }
    return FindHeader(std::string(name) + ":");
  }
};
