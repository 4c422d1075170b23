// The one reader of character references in attribute values.
#include "forms/html_char_refs.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>

#include "common/page_chars.h"
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

// The longest name of the table is 32 characters, ";" included; the
// longest one the browser also reads without ";" is 6.
constexpr size_t kLongestName = 32;
constexpr size_t kLongestBareName = 6;

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

// An open-addressed index of the table by a hash of the name, built by the
// compiler, so that a look-up hashes the name once and compares it with one
// or two rows.
constexpr size_t kIndexSize = 8192;

constexpr uint32_t HashName(std::string_view name) {
  uint32_t hash = 2166136261u;
  for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return hash;
}

struct NameIndex {
  std::array<uint16_t, kIndexSize> slots{};  // row + 1; 0 is an empty slot
  constexpr NameIndex() {
    for (size_t row = 0; row < std::size(kNamedReferences); ++row) {
      size_t slot = HashName(kNamedReferences[row].name) % kIndexSize;
      while (slots[slot] != 0) slot = (slot + 1) % kIndexSize;
      slots[slot] = static_cast<uint16_t>(row + 1);
    }
  }
};
constexpr NameIndex kNameIndex;

const NamedReference* FindName(std::string_view name) {
  for (size_t slot = HashName(name) % kIndexSize; kNameIndex.slots[slot] != 0; slot = (slot + 1) % kIndexSize) {
    const NamedReference& row = kNamedReferences[kNameIndex.slots[slot] - 1];
    if (row.name == name) return &row;
  }
  return nullptr;
}

// The longest name of the table that the text continues with. Every name is
// letters and digits, with or without a final ";": the whole run of letters
// and digits with its ";" is the only name with ";" that can match, and
// otherwise only a bare name, the longest six characters, can.
size_t ReadNamed(std::string_view text, size_t amp, std::string& out) {
  const size_t first = amp + 1;
  size_t end = first;
  while (end < text.size() && end - first < kLongestName && IsAsciiAlnum(text[end])) ++end;
  if (end < text.size() && text[end] == ';') {
    if (const NamedReference* pRef = FindName(text.substr(first, end + 1 - first)); pRef != nullptr) {
      out = pRef->pText;
      return end + 1 - amp;
    }
  }
  for (size_t length = std::min(end - first, kLongestBareName); length > 0; --length) {
    const NamedReference* pRef = FindName(text.substr(first, length));
    if (pRef == nullptr) continue;
    const size_t after = first + length;
    if (after < text.size() && (IsAsciiAlnum(text[after]) || text[after] == '=')) return 0;
    out = pRef->pText;
    return length + 1;
  }
  return 0;
}

// Each character of UTF-8 text as the page's set spells it.
void AppendInPageSet(std::string_view utf8, const CPageChars& page, std::string& out) {
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length && i + k < utf8.size(); ++k) {
      codePoint = (codePoint << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    page.AppendCharacter(codePoint, out);
    i += length;
  }
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
  std::string ref;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t amp = std::min(text.find('&', pos), text.size());
    out.append(text, pos, amp - pos);
    if (amp == text.size()) break;
    const size_t length = ReadCharacterReference(text, amp, ref);
    if (length == 0) {
      out += '&';
    } else {
      out += ref;
    }
    pos = amp + (length == 0 ? 1 : length);
  }
  return out;
}

std::string DecodeHtmlCharacterReferences(const std::string& text, const CPageChars& page) {
  if (page.GetKind() == CPageChars::Kind::Utf8 || page.GetKind() == CPageChars::Kind::SingleByte) {
    return DecodeHtmlCharacterReferences(text);
  }
  std::string out;
  out.reserve(text.size());
  std::string ref;
  page_chars_detail::CWalk walk(text, page);
  size_t kept = 0;
  while (!walk.AtEnd()) {
    const size_t at = walk.Position();
    const page_chars_detail::Piece piece = walk.Next();
    if (at < kept) continue;
    // Bytes of no character become the one byte that begins none, so that
    // a reference's bytes after them cannot complete a character the
    // browser never read.
    if (piece.bNoCharacter) {
      out.append(text, kept, at - kept);
      out += page_chars_detail::kNoCharacterByte;
      kept = at + piece.length;
      continue;
    }
    if (!piece.bAscii || text[at] != '&') continue;
    const size_t length = ReadCharacterReference(text, at, ref);
    if (length == 0) continue;
    out.append(text, kept, at - kept);
    AppendInPageSet(ref, page, out);
    kept = at + length;
  }
  out.append(text, std::min(kept, text.size()), std::string::npos);
  return out;
}
