#include "settings/ip_range.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "common/debug_log.h"

namespace {

void Refuse(const std::string& text, IPAddress& address) {
  DebugLog("IP not in IPv4 ot IPV6 format %s", text.c_str());
  address.kind = kIPKindRefused;
}

// Exactly four decimal groups of one to three digits, each at most 255.
bool ParseIPv4(const std::string& text, IPAddress& address) {
  int group = 0;
  int digits = 0;
  int value = 0;
  for (char c : text) {
    if (c == '.') {
      if (digits == 0 || group == 3 || value > 255) return false;
      address.groups[group++] = value;
      digits = 0;
      value = 0;
    } else if (c >= '0' && c <= '9' && digits < 3) {
      value = value * 10 + (c - '0');
      ++digits;
    } else {
      return false;
    }
  }
  if (digits == 0 || group != 3 || value > 255) return false;
  address.groups[3] = value;
  address.kind = kIPKindIPv4;
  return true;
}

// The colon form with "::" and an embedded dotted tail, no zone and no port.
// An IPv4-mapped address ("::ffff:10.0.0.5") is that IPv4 address.
bool ParseIPv6(const std::string& text, IPAddress& address) {
  in6_addr bytes{};
  if (inet_pton(AF_INET6, text.c_str(), &bytes) != 1) return false;
  if (IN6_IS_ADDR_V4MAPPED(&bytes)) {
    address.kind = kIPKindIPv4;
    for (int g = 0; g < 4; ++g) address.groups[g] = bytes.s6_addr[12 + g];
    return true;
  }
  address.kind = kIPKindIPv6;
  for (int g = 0; g < 8; ++g) address.groups[g] = (bytes.s6_addr[2 * g] << 8) | bytes.s6_addr[2 * g + 1];
  return true;
}

}  // namespace

void ParseIPAddress(const std::string& text, IPAddress& address) {
  address = IPAddress();
  // Blanks around an address of the settings list ("a; b") are no part of it.
  const size_t first = text.find_first_not_of(" \t");
  const size_t last = text.find_last_not_of(" \t");
  const std::string work = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
  // A port, a zone, a second address or trailing text makes the whole text
  // malformed: it must not be read as the address it starts with.
  const bool parsed = work.find(':') != std::string::npos ? ParseIPv6(work, address) : ParseIPv4(work, address);
  if (!parsed) {
    address = IPAddress();
    Refuse(text, address);
  }
}

IPRange MakeIPRange(const std::pair<std::string, std::string>& bounds, IPRange& range) {
  range = IPRange();
  ParseIPAddress(bounds.first, range.low);
  ParseIPAddress(bounds.second, range.high);
  return range;
}

namespace {
int CompareAddresses(const IPAddress& a, const IPAddress& b) {
  for (int g = 0; g < 8; ++g) {
    if (a.groups[g] != b.groups[g]) return a.groups[g] < b.groups[g] ? -1 : 1;
  }
  return 0;
}
}  // namespace

bool IsIPAddressInRange(const IPAddress& address, const IPRange& range) {
  if (address.kind != range.low.kind || address.kind != range.high.kind) return false;
  if (address.kind == kIPKindRefused) return false;
  return CompareAddresses(range.low, address) <= 0 && CompareAddresses(address, range.high) <= 0;
}

const char* ReadIPRange(const std::string& low, const std::string& high, IPRange& range) {
  MakeIPRange({low, high}, range);
  if (range.low.kind == kIPKindRefused || range.high.kind == kIPKindRefused) {
    return "an end is not an IPv4 or IPv6 address";
  }
  if (range.low.kind != range.high.kind) return "one end is IPv4, the other IPv6";
  if (CompareAddresses(range.low, range.high) > 0) return "its low end lies above its high end";
  return nullptr;
}
