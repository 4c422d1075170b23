// How the tests spell a value into the pages they hand the module: as the
// mail server writes attribute text and URL parameters.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>

// Plain text spelt for a double-quoted attribute of the page.
inline std::string InDoubleQuotes(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '&' ? "&amp;" : c == '"' ? "&quot;" : c == '<' ? "&lt;" : std::string(1, c);
  return out;
}

// Markup (a name as the text spells it) moved into a single-quoted attribute.
inline std::string InSingleQuotes(std::string markup) {
  for (size_t p = markup.find('\''); p != std::string::npos; p = markup.find('\'', p)) markup.replace(p, 1, "&#39;");
  return markup;
}

// Every byte but letters and digits as %XX, as a URL parameter.
inline std::string PercentEncoded(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (std::isalnum(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

// The name as the product's scripts receive it.
inline std::string ScriptName(std::string shown) {
  std::replace(shown.begin(), shown.end(), '"', '\'');
  return shown;
}
