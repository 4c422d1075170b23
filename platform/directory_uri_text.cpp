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

std::string ConfiguredUriWithoutUserPart(std::string uri) {
  const size_t sign = uri.rfind('@');
  if (sign == std::string::npos) return uri;
  const size_t scheme = uri.find("://");
  const bool schemeFirst = scheme != std::string::npos && scheme < uri.find('@');
  const size_t from = schemeFirst ? scheme + 3 : 0;
  uri.erase(from, sign + 1 - from);
  return uri;
}
