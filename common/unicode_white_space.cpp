#include "common/unicode_white_space.h"

#include <algorithm>

#include "common/ci_string.h"

namespace {

// The length of the UTF-8 sequence a lead byte opens; 0 for a continuation.
size_t SequenceLength(unsigned char lead) {
  return lead < 0x80 ? 1 : lead >= 0xF8 ? 0 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
}

// The code point of the whole sequence that opens `text`, and its length.
size_t FirstCodePoint(std::string_view text, char32_t& code) {
  if (text.empty()) return 0;
  const size_t length = SequenceLength(static_cast<unsigned char>(text[0]));
  if (length == 0 || length > text.size()) return 0;
  return LastCodePoint(text.substr(0, length), code) == length ? length : 0;
}

// What some server's trim takes for white space: the web client's runs on a
// .NET whose trim removes U+200B and U+FEFF too, and U+180E was White_Space
// before Unicode 6.3.
bool IsTrimmedAsWhiteSpace(char32_t c) { return IsUnicodeWhiteSpace(c) || c == 0x180E || c == 0x200B || c == 0xFEFF; }

}  // namespace

bool IsUnicodeWhiteSpace(char32_t c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

size_t LastCodePoint(std::string_view text, char32_t& code) {
  size_t begin = text.size();
  while (begin > 0 && text.size() - begin < 4 && (static_cast<unsigned char>(text[begin - 1]) & 0xC0) == 0x80) --begin;
  if (begin == 0) return 0;
  --begin;
  const auto lead = static_cast<unsigned char>(text[begin]);
  const size_t length = text.size() - begin;
  if (SequenceLength(lead) != length) return 0;
  code = length == 1 ? lead : lead & (0xFF >> (length + 1));
  for (size_t i = begin + 1; i < text.size(); ++i) code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
  return length;
}

std::string_view TrimUnicodeWhiteSpace(std::string_view text) {
  char32_t code = 0;
  for (size_t length = FirstCodePoint(text, code); length != 0 && IsTrimmedAsWhiteSpace(code);
       length = FirstCodePoint(text, code)) {
    text.remove_prefix(length);
  }
  for (size_t length = LastCodePoint(text, code); length != 0 && IsTrimmedAsWhiteSpace(code);
       length = LastCodePoint(text, code)) {
    text.remove_suffix(length);
  }
  return text;
}

std::string AsciiFolded(std::string_view text) {
  std::string out;
  if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    out.assign(text);
    return out;
  }
  out.reserve(text.size());
  while (!text.empty()) {
    char32_t code = 0;
    const size_t length = std::max<size_t>(FirstCodePoint(text, code), 1);
    // The letters whose invariant upper or lower case is an ASCII one.
    const char ascii = length == 1                      ? '\0'
                       : code == 0x130 || code == 0x131 ? 'i'
                       : code == 0x17F                  ? 's'
                       : code == 0x212A                 ? 'k'
                                                        : '\0';
    if (ascii != '\0') {
      out += ascii;
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out;
}

bool ReadsAsName(std::string_view value, std::string_view name) {
  return AsCIView(AsciiFolded(TrimUnicodeWhiteSpace(value))) == AsCIView(name);
}
