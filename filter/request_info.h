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

// The order of std::string (bytes compared unsigned), but spelt inline:
// header names are short and most begin with "HTTP_", so eight bytes at a
// time settle nearly every step of a look-up without a library call.
struct CHeaderNameLess {
  using is_transparent = void;

  static int Compare(std::string_view a, std::string_view b) noexcept {
    static_assert(std::endian::native == std::endian::little, "the byte order of the word compare");
    const size_t common = std::min(a.size(), b.size());
    auto words = [&](size_t at) {
      uint64_t x;
      uint64_t y;
      std::memcpy(&x, a.data() + at, 8);
      std::memcpy(&y, b.data() + at, 8);
      return x == y ? 0 : __builtin_bswap64(x) < __builtin_bswap64(y) ? -1 : 1;
    };
    size_t i = 0;
    for (; common - i >= 8; i += 8) {
      if (const int order = words(i)) return order;
    }
    // The last eight common bytes again, overlapping bytes already equal.
    if (i < common && common >= 8) {
      if (const int order = words(common - 8)) return order;
      i = common;
    }
    for (; i < common; ++i) {
      const auto x = static_cast<unsigned char>(a[i]);
      const auto y = static_cast<unsigned char>(b[i]);
      if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
  }

  bool operator()(std::string_view a, std::string_view b) const noexcept { return Compare(a, b) < 0; }
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
  std::map<std::string, std::string, CHeaderNameLess> m_mapHeaders;

 private:
  static bool IsSeparator(char c) { return c == '-' || c == '_'; }
  static bool SameHeaderChar(char a, char b) { return a == b || (IsSeparator(a) && IsSeparator(b)); }

  // The exact key first; a key that differs only in "-" against "_" next,
  // the first such in the map's order. Those keys all lie between the key
  // with "-" at each separator and the key with "_" ("-" sorts first), and
  // so does the exact key: one descent finds where the exact key would be,
  // and only that stretch of the map around it is walked. The bounds are
  // spelt on the stack for names of ordinary length: the language header
  // takes this way on every request.
  const std::string* FindHeader(std::string_view key) const {
    const auto at = m_mapHeaders.lower_bound(key);
    if (at != m_mapHeaders.end() && CHeaderNameLess::Compare(at->first, key) == 0) return &at->second;
    if (std::none_of(key.begin(), key.end(), IsSeparator)) return nullptr;
    char room[256];
    std::string spill;
    char* lowest = room;
    if (2 * key.size() > sizeof room) {
      spill.resize(2 * key.size());
      lowest = spill.data();
    }
    char* const highest = lowest + key.size();
    for (size_t i = 0; i < key.size(); ++i) {
      lowest[i] = IsSeparator(key[i]) ? '-' : key[i];
      highest[i] = IsSeparator(key[i]) ? '_' : key[i];
    }
    const std::string_view lowestKey(lowest, key.size());
    const std::string_view highestKey(highest, key.size());
    auto alike = [key](const std::string& name) {
      return std::equal(key.begin(), key.end(), name.begin(), name.end(), SameHeaderChar);
    };
    // Before the exact key's place the earliest alike key wins; after it,
    // the first.
    const std::string* found = nullptr;
    for (auto it = at; it != m_mapHeaders.begin();) {
      --it;
      if (CHeaderNameLess::Compare(it->first, lowestKey) < 0) break;
      if (alike(it->first)) found = &it->second;
    }
    if (found != nullptr) return found;
    for (auto it = at; it != m_mapHeaders.end() && CHeaderNameLess::Compare(it->first, highestKey) <= 0; ++it) {
      if (alike(it->first)) return &it->second;
    }
    return nullptr;
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
