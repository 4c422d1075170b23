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

std::string WithPercentUAsUtf8(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  bool any = false;
  for (size_t i = 0; i < name.size(); ++i) {
    char32_t code = 0;
    bool hex = i + 5 < name.size() && name[i] == '%' && (name[i + 1] == 'u' || name[i + 1] == 'U');
    for (size_t k = 2; hex && k < 6; ++k) {
      const int digit = HexDigitValue(name[i + k]);
      hex = digit >= 0;
      code = (code << 4) | static_cast<char32_t>(digit < 0 ? 0 : digit);
    }
    if (!hex || (code >= 0xD800 && code <= 0xDFFF)) {
      out += name[i];
      continue;
    }
    any = true;
    unsigned char bytes[3];
    size_t count = 0;
    if (code < 0x80) {
      bytes[count++] = static_cast<unsigned char>(code);
    } else if (code < 0x800) {
      bytes[count++] = static_cast<unsigned char>(0xC0 | (code >> 6));
      bytes[count++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    } else {
      bytes[count++] = static_cast<unsigned char>(0xE0 | (code >> 12));
      bytes[count++] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
      bytes[count++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    }
    for (size_t b = 0; b < count; ++b) {
      out += '%';
      out += kHex[bytes[b] >> 4];
      out += kHex[bytes[b] & 0xF];
    }
    i += 5;
  }
  return any ? out : std::string();
}

std::string QueryValueAsServerReadsIt(std::string_view raw) {
  const std::string percentU = WithPercentUAsUtf8(raw);
  return URLDecode(percentU.empty() ? std::string(raw) : percentU, DecodedZero::EndsText, PlusSign::Blank);
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
