// Client IP addresses and the direct-access ranges of a settings set.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

constexpr uint8_t kIPKindIPv6 = 0;
constexpr uint8_t kIPKindIPv4 = 1;
// A text that was refused (neither a dotted IPv4 address of four groups up
// to 255 nor an IPv6 address; a port, a zone or trailing text included).
// Such an address lies in no range and bounds none.
constexpr uint8_t kIPKindRefused = 2;

struct IPAddress {
  int32_t groups[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  uint8_t kind = kIPKindIPv6;
};

struct IPRange {
  IPAddress low;
  IPAddress high;
};

// IPv4 dotted decimal or IPv6 colon hexadecimal with "::"; an IPv4-mapped
// IPv6 address is its IPv4 address. Blanks around the text are ignored; any
// other text is refused (kind kIPKindRefused).
void ParseIPAddress(const std::string& text, IPAddress& address);
IPRange MakeIPRange(const std::pair<std::string, std::string>& bounds, IPRange& range);
bool IsIPAddressInRange(const IPAddress& address, const IPRange& range);
// Reads a range of the settings list; null when it holds addresses,
// otherwise what is wrong with it (a range that cannot be read holds none).
const char* ReadIPRange(const std::string& low, const std::string& high, IPRange& range);
