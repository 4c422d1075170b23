#include "common/url_utils.h"

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string URLDecode(const std::string& text, DecodedZero zero, PlusSign plus) {
  std::string out;
  out.reserve(text.size());
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < n) {
      const int hi = HexDigitValue(text[i + 1]);
      const int lo = HexDigitValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        const char decoded = static_cast<char>(hi * 16 + lo);
        // The decoded text is handed on as a C string; what follows a zero
        // byte would be invisible there but not here.
        if (decoded == '\0' && zero == DecodedZero::EndsText) break;
        out.push_back(decoded);
        i += 2;
        continue;
      }
    }
    out.push_back(c == '+' && plus == PlusSign::Blank ? ' ' : c);
  }
  return out;
}

std::string URLEncodeQueryValue(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    const bool plain = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
                       (b != 0 && std::string_view("-._~/!$'()*,:;=@").find(c) != std::string_view::npos);
    if (plain) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 0xF]);
    }
  }
  return out;
}

bool StringToUIntRange(const char* data, size_t size, DWORD& value, int radix, size_t pos,
                       size_t length, bool signAllowed) {
  value = 0;
  if (radix < 2 || radix > 36) return false;
  if (length == std::string::npos) {
    if (pos >= size) return true;
    length = size - pos;
  }
  if (length == 0) return true;
  if (pos > size || length > size - pos) return false;

  size_t i = pos;
  const size_t end = pos + length;
  bool negative = false;
  if (signAllowed && data[i] == '-') {
    negative = true;
    ++i;
  }
  uint64_t acc = 0;
  for (; i < end; ++i) {
    const char c = data[i];
    int digit = radix;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'z') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'Z') {
      digit = c - 'A' + 10;
    }
    if (digit >= radix) return false;
    acc = acc * static_cast<uint64_t>(radix) + static_cast<uint64_t>(digit);
    if (acc > UINT32_MAX) return false;
    value = static_cast<DWORD>(acc);
  }
  if (negative) value = static_cast<DWORD>(0u - value);
  return true;
}

bool StringToUInt(const std::string& text, DWORD& value, int radix, size_t pos, size_t length,
                  bool signAllowed) {
  return StringToUIntRange(text.data(), text.size(), value, radix, pos, length, signAllowed);
}
