#include "platform/directory_uri_text.h"

std::string UriWithoutUserPart(std::string text) {
  static constexpr char kScheme[] = "://";
  for (size_t at = text.find(kScheme); at != std::string::npos; at = text.find(kScheme, at)) {
    at += 3;
    const size_t next = text.find(kScheme, at);
    const size_t sign = text.rfind('@', next == std::string::npos ? std::string::npos : next - 1);
    if (sign != std::string::npos && sign >= at) text.erase(at, sign + 1 - at);
  }
  return text;
}
