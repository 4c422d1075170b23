// Escaping of the values a form writes into a page, one function per place.
#include "forms/page_values.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "common/js_string.h"
#include "forms/html_char_refs.h"

namespace {

// No byte of its own: what a rewrite reads in the sets whose bytes above
// 0x7F need reading.
constexpr CRewrittenBytes kAnyHighByte("", false);
// Quotes, "<", ">", "`", blanks and "&".
constexpr CRewrittenBytes kAnyAttributeLayer("\"'<>` \t\n\f\r&", false);

// How the script is to receive a value.
enum class Reading { Exact, ProductName };

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The browser reads a character reference only where "&" is followed by a
// letter or "#"; no reference name begins with a digit.
bool CouldBeginReference(std::string_view text, size_t amp) {
  return amp + 1 < text.size() && (IsAsciiLetter(text[amp + 1]) || text[amp + 1] == '#');
}

// Each ASCII character `from` of the text written as `to`.
std::string ReplaceAsciiChar(const std::string& text, char from, const char* to, const CPageChars& page,
                             NoCharacterSpelling spelling) {
  const bool bSomeByte = text.find(from) != std::string::npos || kAnyHighByte.AnyIn(text, page);
  if (!bSomeByte) return text;
  return RewritePageChars(text, page, spelling, [&](std::string_view chars, bool bAscii, std::string& out) {
    if (!bAscii || chars[0] != from) return false;
    out += to;
    return true;
  });
}

// The value, script-string and javascript: link layers of plain text.
std::string ScriptLayers(const std::string& text, Reading reading, ScriptCarrier carrier, const CPageChars& page) {
  constexpr NoCharacterSpelling kPlain = NoCharacterSpelling::PlainText;
  std::string out = reading == Reading::ProductName ? ReplaceAsciiChar(text, '"', "'", page, kPlain) : text;
  out = EscapeJavaScriptString(out, '"', page);
  if (carrier == ScriptCarrier::JavaScriptLink) {
    out = ReplaceAsciiChar(out, '%', "%25", page, NoCharacterSpelling::ScriptEscape);
  }
  return out;
}

// The attribute layer of plain text in a single-quoted attribute.
constexpr CRewrittenBytes kSingleQuoteLayer("'&", false);
std::string InSingleQuotes(const std::string& text, const CPageChars& page) {
  if (!kSingleQuoteLayer.AnyIn(text, page)) return text;
  return RewritePageChars(text, page, [&](std::string_view chars, bool bAscii, std::string& out) {
    if (!bAscii) return false;
    const size_t at = static_cast<size_t>(chars.data() - text.data());
    if (chars[0] == '\'') out += "&#39;";
    if (chars[0] == '&' && CouldBeginReference(text, at)) out += "&amp;";
    return !out.empty();
  });
}

// Text of a reference (UTF-8) as ASCII markup: every other character as a
// numeric reference, so it reads the same in a page of any character set.
std::string AsAsciiMarkup(const std::string& text) {
  std::string out;
  ForEachPageChar(text, CPageChars::Utf8(), [&](std::string_view chars, bool bAscii) {
    if (bAscii) {
      out += chars;
      return;
    }
    uint32_t cp = static_cast<unsigned char>(chars[0]) & (chars.size() == 2 ? 0x1F : chars.size() == 3 ? 0x0F : 0x07);
    for (size_t i = 1; i < chars.size(); ++i) cp = (cp << 6) | (static_cast<unsigned char>(chars[i]) & 0x3F);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "&#x%X;", static_cast<unsigned>(cp));
    out += buffer;
  });
  return out;
}

// Where the browser reads an "&" in the markup: only an ASCII one is.
std::vector<size_t> Ampersands(const std::string& markup, const CPageChars& page) {
  std::vector<size_t> at;
  if (markup.find('&') == std::string::npos) return at;
  ForEachPageChar(markup, page, [&](std::string_view chars, bool bAscii) {
    if (bAscii && chars[0] == '&') at.push_back(static_cast<size_t>(chars.data() - markup.data()));
  });
  return at;
}

// Markup through every layer. A reference whose character no layer changes
// stays as written, so the attribute gives the script what the page showed;
// any other one is replaced by its character, escaped.
std::string MarkupLayers(const std::string& markup, Reading reading, ScriptCarrier carrier, const CPageChars& page) {
  std::string out;
  out.reserve(markup.size() + 16);
  size_t pos = 0;
  for (const size_t amp : Ampersands(markup, page)) {
    std::string text;
    const size_t length = ReadCharacterReference(markup, amp, text);
    out += InSingleQuotes(ScriptLayers(markup.substr(pos, amp - pos), reading, carrier, page), page);
    pos = amp + std::max<size_t>(length, 1);
    if (length == 0) {
      out += '&';
      continue;
    }
    // The reference's text is Unicode whatever the page's set is.
    const std::string escaped = ScriptLayers(text, reading, carrier, CPageChars::Utf8());
    if (escaped == text) {
      out += markup.substr(amp, length);
    } else {
      const std::string quoted = InSingleQuotes(escaped, CPageChars::Utf8());
      out += page.GetKind() == CPageChars::Kind::Utf8 ? quoted : AsAsciiMarkup(quoted);
    }
  }
  out += InSingleQuotes(ScriptLayers(markup.substr(pos), reading, carrier, page), page);
  return out;
}

}  // namespace

std::string ValueInScriptAttribute(const std::string& sValue, ScriptCarrier carrier, const CPageChars& page) {
  return InSingleQuotes(ScriptLayers(sValue, Reading::Exact, carrier, page), page);
}

std::string MarkupInScriptAttribute(const std::string& sMarkup, ScriptCarrier carrier, const CPageChars& page) {
  return MarkupLayers(sMarkup, Reading::Exact, carrier, page);
}

std::string MarkupNameInScriptAttribute(const std::string& sMarkup, ScriptCarrier carrier, const CPageChars& page) {
  return MarkupLayers(sMarkup, Reading::ProductName, carrier, page);
}

std::string MarkupInDoubleQuotedAttribute(const std::string& sMarkup, const CPageChars& page) {
  return ReplaceAsciiChar(sMarkup, '"', "&quot;", page, NoCharacterSpelling::MarkupReference);
}

std::string ValueInAnyAttribute(const std::string& sValue, const CPageChars& page) {
  if (!kAnyAttributeLayer.AnyIn(sValue, page)) return sValue;
  return RewritePageChars(sValue, page, [&](std::string_view chars, bool bAscii, std::string& out) {
    if (!bAscii) return false;
    const size_t at = static_cast<size_t>(chars.data() - sValue.data());
    switch (chars[0]) {
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '`': out += "&#96;"; break;
      case ' ': out += "&#32;"; break;
      case '\t': out += "&#9;"; break;
      case '\n': out += "&#10;"; break;
      case '\f': out += "&#12;"; break;
      case '\r': out += "&#13;"; break;
      case '&': if (CouldBeginReference(sValue, at)) out += "&amp;"; break;
      default: break;
    }
    return !out.empty();
  });
}
