// Escaping of the values a form writes into a page, one function per place.
#include "forms/page_values.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/js_string.h"
#include "common/string_utils.h"
#include "common/url_utils.h"
#include "platform/wide_text.h"

namespace {

// How the script is to receive a value.
enum class Reading { Exact, ProductName };

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// The value of one digit of a numeric character reference, or -1.
int DigitValue(char c, bool bHex) {
  if (bHex) return HexDigitValue(c);
  return IsAsciiDigit(c) ? c - '0' : -1;
}

// The browser reads a character reference only where "&" is followed by a
// letter or "#"; no reference name begins with a digit.
bool CouldBeginReference(const std::string& text, size_t amp) {
  return amp + 1 < text.size() && (IsAsciiLetter(text[amp + 1]) || text[amp + 1] == '#');
}

// The value, script-string and javascript: link layers of plain text.
std::string ScriptLayers(std::string text, Reading reading, ScriptCarrier carrier) {
  if (reading == Reading::ProductName) std::replace(text.begin(), text.end(), '"', '\'');
  std::string out = EscapeJavaScriptString(text, '"');
  if (carrier == ScriptCarrier::JavaScriptLink) ReplaceAll(out, "%", "%25");
  return out;
}

// The attribute layer of plain text in a single-quoted attribute.
std::string InSingleQuotes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\'') {
      out += "&#39;";
    } else if (text[i] == '&' && CouldBeginReference(text, i)) {
      out += "&amp;";
    } else {
      out += text[i];
    }
  }
  return out;
}

// "&#34;", "&#x22", "&#0000034;" and the like, as the browser reads them in
// an attribute: the ";" is optional, and zero, a surrogate or a value beyond
// Unicode is U+FFFD. The length of the reference, 0 without a digit.
size_t ReadNumericReference(const std::string& markup, size_t amp, std::string& text) {
  size_t i = amp + 2;
  const bool bHex = i < markup.size() && (markup[i] == 'x' || markup[i] == 'X');
  if (bHex) ++i;
  const size_t first = i;
  uint32_t value = 0;
  for (int digit = 0; i < markup.size() && (digit = DigitValue(markup[i], bHex)) >= 0; ++i) {
    if (value <= 0x10FFFF) value = value * (bHex ? 16 : 10) + static_cast<uint32_t>(digit);
  }
  if (i == first) return 0;
  if (i < markup.size() && markup[i] == ';') ++i;
  const bool bValid = value != 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
  text.clear();
  AppendUtf8(text, bValid ? value : 0xFFFD);
  return i - amp;
}

// The named references that stand for a character some layer escapes (a
// double quote, "<", "\", "%", a tab, a line feed). The legacy ones are also
// read without ";", unless a letter, a digit or "=" follows (attribute rule).
struct EscapedNamedReference {
  const char* pName;
  const char* pText;
  bool bLegacy;
};
const EscapedNamedReference kEscapedNamedReferences[] = {
    {"quot", "\"", true},       {"QUOT", "\"", true},    {"lt", "<", true},
    {"LT", "<", true},          {"bsol", "\\", false},   {"percnt", "%", false},
    {"NewLine", "\n", false},   {"Tab", "\t", false},    {"nvlt", "<\xE2\x83\x92", false},
};

// The length of such a named reference at amp, 0 for any other text.
size_t ReadNamedReference(const std::string& markup, size_t amp, std::string& text) {
  for (const EscapedNamedReference& ref : kEscapedNamedReferences) {
    const size_t nameLength = std::strlen(ref.pName);
    if (markup.compare(amp + 1, nameLength, ref.pName) != 0) continue;
    const size_t after = amp + 1 + nameLength;
    const bool bSemicolon = after < markup.size() && markup[after] == ';';
    const bool bEnds = after == markup.size() ||
                       (!IsAsciiLetter(markup[after]) && !IsAsciiDigit(markup[after]) && markup[after] != '=');
    const bool bBare = ref.bLegacy && bEnds;
    if (!bSemicolon && !bBare) continue;
    text = ref.pText;
    return after - amp + (bSemicolon ? 1 : 0);
  }
  return 0;
}

// A reference whose character may need escaping; 0 for a literal "&" or a
// reference that stands for nothing any layer escapes.
size_t ReadReference(const std::string& markup, size_t amp, std::string& text) {
  if (amp + 1 < markup.size() && markup[amp + 1] == '#') return ReadNumericReference(markup, amp, text);
  return ReadNamedReference(markup, amp, text);
}

// Markup through every layer. A reference whose character no layer changes
// stays as written, so the attribute gives the script what the page showed;
// any other one is replaced by its character, escaped.
std::string MarkupLayers(const std::string& markup, Reading reading, ScriptCarrier carrier) {
  std::string out;
  out.reserve(markup.size() + 16);
  size_t pos = 0;
  while (pos < markup.size()) {
    const size_t amp = std::min(markup.find('&', pos), markup.size());
    out += InSingleQuotes(ScriptLayers(markup.substr(pos, amp - pos), reading, carrier));
    if (amp == markup.size()) break;
    std::string text;
    const size_t length = ReadReference(markup, amp, text);
    if (length == 0) {
      out += '&';
      pos = amp + 1;
      continue;
    }
    const std::string escaped = ScriptLayers(text, reading, carrier);
    out += escaped == text ? markup.substr(amp, length) : InSingleQuotes(escaped);
    pos = amp + length;
  }
  return out;
}

}  // namespace

std::string ValueInScriptAttribute(const std::string& sValue, ScriptCarrier carrier) {
  return InSingleQuotes(ScriptLayers(sValue, Reading::Exact, carrier));
}

std::string MarkupInScriptAttribute(const std::string& sMarkup, ScriptCarrier carrier) {
  return MarkupLayers(sMarkup, Reading::Exact, carrier);
}

std::string MarkupNameInScriptAttribute(const std::string& sMarkup, ScriptCarrier carrier) {
  return MarkupLayers(sMarkup, Reading::ProductName, carrier);
}

std::string MarkupInDoubleQuotedAttribute(const std::string& sMarkup) {
  std::string out = sMarkup;
  ReplaceAll(out, "\"", "&quot;");
  return out;
}

std::string ValueInAnyAttribute(const std::string& sValue) {
  std::string out;
  out.reserve(sValue.size());
  for (size_t i = 0; i < sValue.size(); ++i) {
    switch (sValue[i]) {
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
      case '&': out += CouldBeginReference(sValue, i) ? "&amp;" : "&"; break;
      default: out += sValue[i];
    }
  }
  return out;
}
