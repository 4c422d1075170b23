#include "common/js_string.h"

#include <string_view>

#include "common/string_utils.h"

namespace {

void AppendHexEscape(std::string& out, unsigned char c) {
  static const char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

// U+2028 and U+2029 end a line inside older JavaScript string literals.
bool AppendLineSeparatorEscape(std::string_view chars, std::string& out) {
  if (chars == "\xE2\x80\xA8") out += "\\u2028";
  if (chars == "\xE2\x80\xA9") out += "\\u2029";
  return !out.empty();
}

// Backslash, the quote, "<", control bytes, and the first byte of U+2028
// and U+2029 in UTF-8: a text with none of them needs no walk.
constexpr CRewrittenBytes kDoubleQuoted("\\\"<\xE2", true);
constexpr CRewrittenBytes kSingleQuoted("\\'<\xE2", true);

}  // namespace

std::string EscapeJavaScriptString(const std::string& text, char quote, const CPageChars& page) {
  const CRewrittenBytes* pRewritten = quote == '"' ? &kDoubleQuoted : quote == '\'' ? &kSingleQuoted : nullptr;
  if (pRewritten != nullptr && !pRewritten->AnyIn(text, page)) return text;
  const bool bUtf8 = page.GetKind() == CPageChars::Kind::Utf8;
  const bool bHz = page.GetKind() == CPageChars::Kind::Hz;
  const auto escape = [&](std::string_view chars, bool bAscii, std::string& out) {
    if (!bAscii) return bUtf8 && AppendLineSeparatorEscape(chars, out);
    const unsigned char c = static_cast<unsigned char>(chars[0]);
    if (c == '\\' || c == static_cast<unsigned char>(quote)) {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '<' || IsControlByte(chars[0]) || (bHz && c == '~')) {
      AppendHexEscape(out, c);
    }
    return !out.empty();
  };
  return RewritePageChars(text, page, NoCharacterSpelling::ScriptEscape, escape);
}
