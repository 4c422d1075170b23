#include "settings/ip_range.h"

#include <algorithm>

#include "common/debug_log.h"
#include "settings/settings_text.h"

namespace {

bool RefuseIPv6(const std::string& text) {
  if (std::count(text.begin(), text.end(), ':') > 8) return true;
  const size_t first = text.find("::");
  // ":::" holds "::" twice as well.
  if (first != std::string::npos && text.find("::", first + 1) != std::string::npos) return true;
  // A zone ("%eth0") or the bracketed form that carries a port.
  return text.find_first_of("%[]") != std::string::npos;
}

}  // namespace

void ParseIPAddress(const std::string& text, IPAddress& address) {
  address = IPAddress();
  char separator;
  int base;
  int maxGroups;
  std::string work = text;
  if (text.find('.') != std::string::npos) {
    address.kind = kIPKindIPv4;
    separator = '.';
    base = 10;
    maxGroups = 4;
  } else if (text.find(':') != std::string::npos) {
    address.kind = kIPKindIPv6;
    separator = ':';
    base = 16;
    maxGroups = 8;
    if (RefuseIPv6(text)) {
      DebugLog("IP not in IPv4 ot IPV6 format %s", text.c_str());
      address.kind = kIPKindRefused;
      return;
    }
    const size_t gap = work.find("::");
    if (gap != std::string::npos) {
      const int colons = static_cast<int>(std::count(work.begin(), work.end(), ':'));
      std::string fill;
      for (int i = 0; i < 8 - colons; ++i) fill += ":0000";
      fill += ":";
      work.replace(gap, 2, fill);
    }
  } else {
    DebugLog("IP not in IPv4 ot IPV6 format %s", text.c_str());
    return;
  }

  size_t pos = 0;
  for (int g = 0; g < maxGroups; ++g) {
    const size_t end = work.find(separator, pos);
    const std::string group = work.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    address.groups[g] = SettingsTextToLong(group, base);
    if (end == std::string::npos) break;
    pos = end + 1;
  }
}

IPRange MakeIPRange(const std::pair<std::string, std::string>& bounds, IPRange& range) {
  range = IPRange();
  ParseIPAddress(bounds.first, range.low);
  ParseIPAddress(bounds.second, range.high);
  return range;
}

bool IsIPAddressInRange(const IPAddress& address, const IPRange& range) {
  if (address.kind != range.low.kind || address.kind != range.high.kind) return false;
  if (address.kind == kIPKindRefused) return false;
  const auto compare = [](const IPAddress& a, const IPAddress& b) {
    for (int g = 0; g < 8; ++g) {
      if (a.groups[g] != b.groups[g]) return a.groups[g] < b.groups[g] ? -1 : 1;
    }
    return 0;
  };
  return compare(range.low, address) <= 0 && compare(address, range.high) <= 0;
}
