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

// Unicode's format characters (general category Cf): invisible, and dropped
// from the ends of a name by the parsers that drop white space there.
bool IsFormatCharacter(char32_t c) {
  return c == 0xAD || (c >= 0x600 && c <= 0x605) || c == 0x61C || c == 0x6DD || c == 0x70F || c == 0x890 ||
         c == 0x891 || c == 0x8E2 || c == 0x180E || (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x2064) || (c >= 0x2066 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB) ||
         c == 0x110BD || c == 0x110CD || (c >= 0x13430 && c <= 0x1343F) || (c >= 0x1BCA0 && c <= 0x1BCA3) ||
         (c >= 0x1D173 && c <= 0x1D17A) || c == 0xE0001 || (c >= 0xE0020 && c <= 0xE007F);
}

// What some server's trim takes for white space: every White_Space and
// format character (the web client's .NET trims U+200B and U+FEFF, and
// U+180E was White_Space before Unicode 6.3).
bool IsTrimmedAsWhiteSpace(char32_t c) { return IsUnicodeWhiteSpace(c) || IsFormatCharacter(c); }

// A byte that is no whole UTF-8 sequence is read by a server that falls back
// to Latin-1: 0x85 and 0xA0 are white space there (NEL and no-break space).
bool IsLatin1WhiteSpaceByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte == 0x85 || byte == 0xA0;
}

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
  // Most names begin and end with an ASCII letter: such a byte settles it.
  auto asciiKept = [](char c) { return static_cast<unsigned char>(c) < 0x80 && !IsUnicodeWhiteSpace(static_cast<unsigned char>(c)); };
  while (!text.empty() && !asciiKept(text.front())) {
    size_t length = FirstCodePoint(text, code);
    if (length == 0 && IsLatin1WhiteSpaceByte(text.front())) {
      length = 1;
    } else if (length == 0 || !IsTrimmedAsWhiteSpace(code)) {
      break;
    }
    text.remove_prefix(length);
  }
  while (!text.empty() && !asciiKept(text.back())) {
    size_t length = LastCodePoint(text, code);
    if (length == 0 && IsLatin1WhiteSpaceByte(text.back())) {
      length = 1;
    } else if (length == 0 || !IsTrimmedAsWhiteSpace(code)) {
      break;
    }
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
    // The letters whose invariant upper or lower case is an ASCII one, and
    // the fullwidth forms, which a conversion to the server's code page
    // turns into their ASCII letters ("\uFF4Fwaal" is "owaal" to it).
    const char ascii = length == 1                        ? '\0'
                       : code == 0x130 || code == 0x131   ? 'i'
                       : code == 0x17F                    ? 's'
                       : code == 0x212A                   ? 'k'
                       : code >= 0xFF01 && code <= 0xFF5E ? static_cast<char>(code - 0xFEE0)
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
  auto reads = [name](std::string_view text) { return AsCIView(AsciiFolded(TrimUnicodeWhiteSpace(text))) == AsCIView(name); };
  if (reads(value)) return true;
  // A reader of bytes ends the value at a control byte, and a server that
  // splits pairs at ";" too ends it there.
  const auto cut = std::find_if(value.begin(), value.end(), [](char c) {
    return c == ';' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
  return cut != value.end() && reads(value.substr(0, static_cast<size_t>(cut - value.begin())));
}
