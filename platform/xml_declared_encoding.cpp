#include "platform/xml_declared_encoding.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <cstdint>
#include <memory>

namespace {

bool IsXmlBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerText(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) c = Lower(c);
  return lower;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The sets the parser reads itself, by byte-order mark or byte pattern.
bool IsUnicodeName(const std::string& lower) {
  return StartsWith(lower, "utf-16") || StartsWith(lower, "utf-32") || StartsWith(lower, "utf16") ||
         StartsWith(lower, "utf32") || StartsWith(lower, "ucs-2") || StartsWith(lower, "ucs-4") ||
         StartsWith(lower, "ucs2") || StartsWith(lower, "ucs4") || lower == "unicode";
}

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};

}  // namespace

std::string DeclaredEightBitEncoding(const std::string& bytes) {
  // A file with a byte-order mark or in a UTF-16/UTF-32 form does not start
  // with these five bytes; the parser reads it by its own form.
  if (!StartsWith(bytes, "<?xml") || bytes.size() < 6 || !IsXmlBlank(bytes[5])) return std::string();
  const size_t end = bytes.find("?>");
  if (end == std::string::npos) return std::string();
  const std::string declaration = bytes.substr(0, end);
  size_t at = declaration.find("encoding");
  if (at == std::string::npos) return std::string();
  at += 8;
  while (at < declaration.size() && IsXmlBlank(declaration[at])) ++at;
  if (at >= declaration.size() || declaration[at] != '=') return std::string();
  ++at;
  while (at < declaration.size() && IsXmlBlank(declaration[at])) ++at;
  if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\'')) return std::string();
  const size_t close = declaration.find(declaration[at], at + 1);
  if (close == std::string::npos) return std::string();
  return declaration.substr(at + 1, close - at - 1);
}

bool ConvertDeclaredEncodingToUTF8(std::string& bytes, std::string* reason) {
  const std::string name = DeclaredEightBitEncoding(bytes);
  const std::string lower = LowerText(name);
  if (name.empty() || lower == "utf-8" || lower == "utf8") return true;
  if (IsUnicodeName(lower)) {
    *reason = "it declares the encoding \"" + name + "\" but is written one byte per character without a byte-order "
              "mark; save it as UTF-8, or in " + name + " with its byte-order mark";
    return false;
  }
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, ConverterCloser> converter(ucnv_open(name.c_str(), &status));
  if (U_FAILURE(status) || converter == nullptr) {
    *reason = "it declares the encoding \"" + name + "\", which this reader does not know; save it as UTF-8";
    return false;
  }
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  std::unique_ptr<UConverter, ConverterCloser> utf8(ucnv_open("UTF-8", &status));
  if (U_FAILURE(status) || utf8 == nullptr) {
    *reason = "its declared encoding \"" + name + "\" cannot be converted here; save it as UTF-8";
    return false;
  }
  // One byte of the source gives at most three of UTF-8 (a character of the
  // Basic Multilingual Plane), four for a pair of source bytes.
  std::string out(bytes.size() * 3 + 4, '\0');
  char* target = out.data();
  const char* source = bytes.data();
  ucnv_convertEx(utf8.get(), converter.get(), &target, out.data() + out.size(), &source, bytes.data() + bytes.size(),
                 nullptr, nullptr, nullptr, nullptr, true, true, &status);
  if (U_FAILURE(status)) {
    const size_t at = static_cast<size_t>(source - bytes.data());
    *reason = "it declares the encoding \"" + name + "\", but the bytes near offset " + std::to_string(at) +
              " are not text of that set; save it in the set it declares, or as UTF-8";
    return false;
  }
  out.resize(static_cast<size_t>(target - out.data()));
  bytes.swap(out);
  return true;
}

size_t FirstByteNotUTF8(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;   // overlong
      if (c == 0xED) high = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;   // overlong
      if (c == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
      return i;
    }
    if (i + length > n || p[i + 1] < low || p[i + 1] > high) return i;
    for (size_t k = 2; k < length; ++k) {
      if (p[i + k] < 0x80 || p[i + k] > 0xBF) return i;
    }
    i += length;
  }
  return std::string::npos;
}
