#include "host/hx_text.h"

char HxLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool HxEqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (HxLower(a[i]) != HxLower(b[i])) return false;
  }
  return true;
}

size_t HxFindNoCase(std::string_view hay, std::string_view needle, size_t from) {
  if (needle.size() > hay.size()) return std::string_view::npos;
  if (needle.empty()) return from <= hay.size() ? from : std::string_view::npos;
  // Only where the first character matches is the rest compared.
  const char first = HxLower(needle[0]);
  for (size_t i = from; i + needle.size() <= hay.size(); ++i) {
    if (HxLower(hay[i]) == first && HxEqualsNoCase(hay.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

bool HxStartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && HxEqualsNoCase(s.substr(0, prefix.size()), prefix);
}

bool HxEndsWithNoCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && HxEqualsNoCase(s.substr(s.size() - suffix.size()), suffix);
}

std::string HxTrim(std::string_view s) {
  const char* ws = " \t\r\n";
  const size_t b = s.find_first_not_of(ws);
  if (b == std::string_view::npos) return std::string();
  const size_t e = s.find_last_not_of(ws);
  return std::string(s.substr(b, e - b + 1));
}

namespace {

struct TokenBytes {
  bool bytes[256] = {};
  constexpr TokenBytes() {
    for (const char c : std::string_view("!#$%&'*+-.^_`|~")) bytes[static_cast<unsigned char>(c)] = true;
    for (int c = '0'; c <= '9'; ++c) bytes[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c) bytes[c] = bytes[c + 32] = true;
  }
};
constexpr TokenBytes kTokenBytes;

}  // namespace

bool HxIsToken(std::string_view s) {
  for (const char c : s) {
    if (!kTokenBytes.bytes[static_cast<unsigned char>(c)]) return false;
  }
  return !s.empty();
}

int HxHexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string HxFormDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+') {
      out += ' ';
    } else if (s[i] == '%' && i + 2 < s.size() && HxHexValue(s[i + 1]) >= 0 && HxHexValue(s[i + 2]) >= 0) {
      out += static_cast<char>(HxHexValue(s[i + 1]) * 16 + HxHexValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}
