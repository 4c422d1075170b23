// The one reader of character references in attribute values.
#include "forms/html_char_refs.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "common/url_utils.h"
#include "platform/wide_text.h"

namespace {

struct NamedReference {
  std::string_view name;
  const char* pText;
};

constexpr NamedReference kNamedReferences[] = {
#include "forms/html_char_ref_names.inc"
};

// The longest name of the table is 32 characters, ";" included.
constexpr size_t kLongestName = 32;

// What 0x80-0x9F read as: the windows-1252 characters (0 where it has none,
// which reads as the code point itself).
constexpr uint16_t kC1Replacements[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsAsciiAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

int DigitValue(char c, bool bHex) {
  if (bHex) return HexDigitValue(c);
  return c >= '0' && c <= '9' ? c - '0' : -1;
}

uint32_t BrowserCodePoint(uint32_t value) {
  if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0xFFFD;
  if (value >= 0x80 && value <= 0x9F && kC1Replacements[value - 0x80] != 0) return kC1Replacements[value - 0x80];
  return value;
}

size_t ReadNumeric(std::string_view text, size_t amp, std::string& out) {
  size_t i = amp + 2;
  const bool bHex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
  if (bHex) ++i;
  const size_t first = i;
  uint32_t value = 0;
  for (int digit = 0; i < text.size() && (digit = DigitValue(text[i], bHex)) >= 0; ++i) {
    if (value <= 0x10FFFF) value = value * (bHex ? 16 : 10) + static_cast<uint32_t>(digit);
  }
  if (i == first) return 0;
  if (i < text.size() && text[i] == ';') ++i;
  out.clear();
  AppendUtf8(out, BrowserCodePoint(value));
  return i - amp;
}

const NamedReference* FindName(std::string_view name) {
  const auto it = std::lower_bound(std::begin(kNamedReferences), std::end(kNamedReferences), name,
                                   [](const NamedReference& ref, std::string_view n) { return ref.name < n; });
  return it != std::end(kNamedReferences) && it->name == name ? it : nullptr;
}

// The longest name of the table that the text continues with.
size_t ReadNamed(std::string_view text, size_t amp, std::string& out) {
  const size_t available = std::min(kLongestName, text.size() - amp - 1);
  for (size_t length = available; length > 0; --length) {
    const NamedReference* pRef = FindName(text.substr(amp + 1, length));
    if (pRef == nullptr) continue;
    const size_t after = amp + 1 + length;
    const bool bBare = pRef->name.back() != ';';
    if (bBare && after < text.size() && (IsAsciiAlnum(text[after]) || text[after] == '=')) return 0;
    out = pRef->pText;
    return length + 1;
  }
  return 0;
}

}  // namespace

size_t ReadCharacterReference(std::string_view text, size_t amp, std::string& out) {
  if (amp + 1 >= text.size() || text[amp] != '&') return 0;
  if (text[amp + 1] == '#') return ReadNumeric(text, amp, out);
  return ReadNamed(text, amp, out);
}

std::string DecodeHtmlCharacterReferences(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t amp = std::min(text.find('&', pos), text.size());
    out.append(text, pos, amp - pos);
    if (amp == text.size()) break;
    std::string ref;
    const size_t length = ReadCharacterReference(text, amp, ref);
    out += length == 0 ? std::string("&") : ref;
    pos = amp + (length == 0 ? 1 : length);
  }
  return out;
}
