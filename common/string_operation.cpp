#include "common/string_operation.h"

#include <cstdint>
#include <stdexcept>

#include "common/string_utils.h"
#include "common/url_utils.h"

bool CStringOperation::ReplaceAll(ci_string& text, const ci_string& what, const ci_string& with,
                                  size_t start) {
  if (text.empty() || what.empty()) return false;
  for (size_t pos = text.find(what, start); pos != ci_string::npos;
       pos = text.find(what, pos + with.size())) {
    text.replace(pos, what.size(), with);
  }
  return true;
}

namespace {

template <class Add>
bool Split(const ci_string& text, const ci_string& delimiter, bool stopAtEmpty, Add add) {
  if (text.empty()) return false;
  // An empty delimiter would never move the position on.
  const size_t first = delimiter.empty() ? ci_string::npos : text.find(delimiter);
  if (first == ci_string::npos) {
    add(text);
    return true;
  }
  if (first > 0) add(text.substr(0, first));
  size_t pos = first;
  while (pos <= text.size()) {
    ci_string part = GetStringBetween(text, delimiter, delimiter, pos);
    if (part.empty() && stopAtEmpty) break;
    pos += part.size() + delimiter.size();
    add(std::move(part));
  }
  return true;
}

}  // namespace

bool CStringOperation::Parse(const ci_string& text, const ci_string& delimiter,
                             std::vector<ci_string>& parts, bool stopAtEmpty) {
  return Split(text, delimiter, stopAtEmpty,
               [&parts](ci_string part) { parts.push_back(std::move(part)); });
}

bool CStringOperation::Parse(const ci_string& text, const ci_string& delimiter,
                             std::set<ci_string>& parts) {
  return Split(text, delimiter, true, [&parts](ci_string part) { parts.insert(std::move(part)); });
}

void CStringOperation::TrimRight(ci_string& text, const ci_string& chars) {
  const size_t last = text.find_last_not_of(chars);
  text.erase(last == ci_string::npos ? 0 : last + 1);
}

void CStringOperation::TrimLeft(ci_string& text, const ci_string& chars) {
  const size_t first = text.find_first_not_of(chars);
  text.erase(0, first == ci_string::npos ? text.size() : first);
}

void CStringOperation::Trim(ci_string& text, const ci_string& chars) {
  TrimRight(text, chars);
  TrimLeft(text, chars);
}

bool CStringOperation::String2Int(const ci_string& text, DWORD& value, int radix, size_t pos,
                                  size_t length, bool signAllowed) {
  return StringToUIntRange(text.data(), text.size(), value, radix, pos, length, signAllowed);
}

bool CStringOperation::String2Int(const ci_string& text, int32_t& value, int radix, size_t pos,
                                  size_t length, bool signAllowed) {
  DWORD bits = 0;
  const bool ok = String2Int(text, bits, radix, pos, length, signAllowed);
  value = static_cast<int32_t>(bits);
  return ok;
}

bool CStringOperation::Encode64(std::string& text) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() > static_cast<size_t>(INT32_MAX) / 4) {
    throw std::length_error("Encode64: text too long");
  }
  std::string out;
  out.reserve((text.size() + 2) / 3 * 4);
  size_t i = 0;
  const auto byte = [&text](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(text[k])); };
  for (; i + 3 <= text.size(); i += 3) {
    const uint32_t v = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += kAlphabet[v >> 6 & 63];
    out += kAlphabet[v & 63];
  }
  const size_t rest = text.size() - i;
  if (rest > 0) {
    uint32_t v = byte(i) << 16;
    if (rest == 2) v |= byte(i + 1) << 8;
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += rest == 2 ? kAlphabet[v >> 6 & 63] : '=';
    out += '=';
  }
  text.swap(out);
  return true;
}

bool CStringOperation::Decode64(ci_string& text) {
  if (text.empty()) return false;
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    if (c == '\0') break;
    int v = -1;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    if (v < 0) continue;
    bits = bits << 6 | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      const char byte = static_cast<char>(bits >> count & 0xFF);
      // The decoded text ends at its first zero byte.
      if (byte == '\0') break;
      out += byte;
    }
  }
  text.assign(out.data(), out.size());
  return true;
}
