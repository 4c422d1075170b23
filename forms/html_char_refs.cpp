// Decoding of character references in attribute values.
#include "forms/html_char_refs.h"

#include <cstdint>
#include <cstring>

#include "platform/wide_text.h"

namespace {

struct NamedReference {
  const char* pName;
  const char* pText;
};

const NamedReference kNamedReferences[] = {
    {"amp", "&"}, {"quot", "\""}, {"lt", "<"}, {"gt", ">"}, {"apos", "'"}, {"nbsp", "\xC2\xA0"},
};

// The code point of "#38" or "#x26" (between "&" and ";"); false for anything
// else, a zero, a surrogate or a value beyond Unicode.
bool NumericReference(const std::string& body, uint32_t& cp) {
  if (body.size() < 2 || body[0] != '#') return false;
  const bool hex = body[1] == 'x' || body[1] == 'X';
  const size_t first = hex ? 2 : 1;
  if (first >= body.size() || body.size() - first > 8) return false;
  uint32_t value = 0;
  for (size_t i = first; i < body.size(); ++i) {
    const char c = body[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * (hex ? 16 : 10) + digit;
  }
  if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  cp = value;
  return true;
}

// Appends the text of the reference body; false when it is none we know.
bool AppendReference(const std::string& body, std::string& out) {
  uint32_t cp = 0;
  if (NumericReference(body, cp)) {
    AppendUtf8(out, cp);
    return true;
  }
  for (const NamedReference& ref : kNamedReferences) {
    if (body == ref.pName) {
      out += ref.pText;
      return true;
    }
  }
  return false;
}

}  // namespace

std::string DecodeHtmlCharacterReferences(const std::string& text) {
  // Longest reference body we decode: "#x10FFFF" and the named ones.
  constexpr size_t kMaxBody = 10;
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t amp = text.find('&', pos);
    if (amp == std::string::npos) break;
    out.append(text, pos, amp - pos);
    const size_t semi = text.find(';', amp + 1);
    if (semi != std::string::npos && semi - amp - 1 <= kMaxBody &&
        AppendReference(text.substr(amp + 1, semi - amp - 1), out)) {
      pos = semi + 1;
    } else {
      out += '&';
      pos = amp + 1;
    }
  }
  out.append(text, pos, std::string::npos);
  return out;
}
