#include "platform/computer_name.h"

#include <netdb.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/last_error.h"

namespace {

std::string HostName() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return {};
  return buf;
}

std::string FullyQualifiedName() {
  std::string host = HostName();
  if (host.empty()) return {};
  addrinfo hints{};
  hints.ai_flags = AI_CANONNAME;
  hints.ai_family = AF_UNSPEC;
  addrinfo* res = nullptr;
  std::string fqdn = host;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) == 0 && res != nullptr) {
    if (res->ai_canonname != nullptr && *res->ai_canonname != '\0') fqdn = res->ai_canonname;
    ::freeaddrinfo(res);
  }
  return fqdn;
}

}  // namespace

BOOL GetComputerNameExA(COMPUTER_NAME_FORMAT format, LPSTR buffer, LPDWORD size) {
  if (size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string name;
  switch (format) {
    case ComputerNameDnsFullyQualified:
      name = FullyQualifiedName();
      break;
    case ComputerNameDnsDomain: {
      std::string fqdn = FullyQualifiedName();
      size_t dot = fqdn.find('.');
      name = dot == std::string::npos ? std::string() : fqdn.substr(dot + 1);
      break;
    }
    case ComputerNameDnsHostname:
    case ComputerNameNetBIOS: {
      name = HostName();
      size_t dot = name.find('.');
      if (dot != std::string::npos) name.resize(dot);
      if (format == ComputerNameNetBIOS) {
        for (char& c : name) c = static_cast<char>((c >= 'a' && c <= 'z') ? c - 32 : c);
        if (name.size() > 15) name.resize(15);
      }
      break;
    }
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  DWORD needed = static_cast<DWORD>(name.size() + 1);
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  std::memcpy(buffer, name.c_str(), needed);
  *size = needed - 1;
  return TRUE;
}
