#include "common/js_string.h"

namespace {

void AppendHexEscape(std::string& out, unsigned char c) {
  static const char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

// U+2028 and U+2029 end a line inside older JavaScript string literals.
bool IsUnicodeLineBreakAt(const std::string& text, size_t i) {
  return i + 2 < text.size() && static_cast<unsigned char>(text[i]) == 0xE2 &&
         static_cast<unsigned char>(text[i + 1]) == 0x80 &&
         (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9);
}

}  // namespace

std::string EscapeJavaScriptString(const std::string& text, char quote) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (IsUnicodeLineBreakAt(text, i)) {
      out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else if (c == '\\' || c == static_cast<unsigned char>(quote)) {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '<' || c < 0x20 || c == 0x7F) {
      AppendHexEscape(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}
