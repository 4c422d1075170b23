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

// An encoding name as XML writes one: a letter, then letters, digits, '.',
// '_' or '-'. Anything else names no set, and is not quoted in a message.
bool IsEncodingName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = Lower(name[i]);
    const bool letter = c >= 'a' && c <= 'z';
    const bool other = (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    if (!letter && !(i > 0 && other)) return false;
  }
  return true;
}

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};

// A set the parser's markup survives: every ASCII character of the
// declaration and the markup stands for itself, and no byte sequence shifts
// the meaning of later ones. In UTF-7, ISO-2022, HZ, SCSU or EBCDIC, bytes
// that read as text to an editor or a check that takes the file as ASCII
// would become a quote or a '<' here (or the other way round): the file would
// say one thing to the administrator and another to the module.
bool WritesMarkupAsAscii(UConverter* utf8, UConverter* converter) {
  switch (ucnv_getType(converter)) {
    case UCNV_UTF7:
    case UCNV_ISO_2022:
    case UCNV_HZ:
    case UCNV_SCSU:
    case UCNV_BOCU1:
    case UCNV_IMAP_MAILBOX:
    case UCNV_EBCDIC_STATEFUL:
      return false;
    default:
      break;
  }
  if (ucnv_getType(converter) >= UCNV_LMBCS_1 && ucnv_getType(converter) <= UCNV_LMBCS_LAST) return false;
  std::string ascii = "\t\n\r";
  for (char c = 0x20; c < 0x7F; ++c) ascii += c;
  std::string out(ascii.size() * 4, '\0');
  char* target = out.data();
  const char* source = ascii.data();
  UErrorCode status = U_ZERO_ERROR;
  ucnv_convertEx(utf8, converter, &target, out.data() + out.size(), &source, ascii.data() + ascii.size(), nullptr,
                 nullptr, nullptr, nullptr, true, true, &status);
  ucnv_reset(converter);
  ucnv_reset(utf8);
  out.resize(static_cast<size_t>(target - out.data()));
  return U_SUCCESS(status) && out == ascii;
}

}  // namespace

std::string DeclaredEightBitEncoding(const std::string& bytes) {
  // A file with a byte-order mark or in a UTF-16/UTF-32 form does not start
  // with these five bytes; the parser reads it by its own form.
  if (!StartsWith(bytes, "<?xml") || bytes.size() < 6 || !IsXmlBlank(bytes[5])) return std::string();
  // The declaration is read as an XML reader reads it: name="value" pairs,
  // either quote, blanks around '='; only a pair named encoding counts
  // (not "xencoding", nor "encoding" inside another pair's value).
  size_t at = 5;
  while (true) {
    while (at < bytes.size() && IsXmlBlank(bytes[at])) ++at;
    const size_t nameStart = at;
    while (at < bytes.size() && Lower(bytes[at]) >= 'a' && Lower(bytes[at]) <= 'z') ++at;
    if (at == nameStart) return std::string();
    const std::string name = bytes.substr(nameStart, at - nameStart);
    while (at < bytes.size() && IsXmlBlank(bytes[at])) ++at;
    if (at >= bytes.size() || bytes[at] != '=') return std::string();
    ++at;
    while (at < bytes.size() && IsXmlBlank(bytes[at])) ++at;
    if (at >= bytes.size() || (bytes[at] != '"' && bytes[at] != '\'')) return std::string();
    const size_t close = bytes.find(bytes[at], at + 1);
    if (close == std::string::npos) return std::string();
    if (name == "encoding") return bytes.substr(at + 1, close - at - 1);
    at = close + 1;
  }
}

bool ConvertDeclaredEncodingToUTF8(std::string& bytes, std::string* reason) {
  const std::string name = DeclaredEightBitEncoding(bytes);
  const std::string lower = LowerText(name);
  if (name.empty() || lower == "utf-8" || lower == "utf8") return true;
  if (!IsEncodingName(name)) {
    *reason = "its encoding declaration names no character set; save it as UTF-8";
    return false;
  }
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
  if (!WritesMarkupAsAscii(utf8.get(), converter.get())) {
    *reason = "it declares the encoding \"" + name + "\", in which the characters of XML markup are not written as "
              "in ASCII or change meaning after a shift sequence; save it as UTF-8";
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
    // The converter stops past the bytes it could not read: the offset
    // named is that of their first.
    char invalid[32];
    int8_t invalidLength = sizeof invalid;
    UErrorCode ignored = U_ZERO_ERROR;
    ucnv_getInvalidChars(converter.get(), invalid, &invalidLength, &ignored);
    size_t at = static_cast<size_t>(source - bytes.data());
    if (U_SUCCESS(ignored) && invalidLength > 0 && static_cast<size_t>(invalidLength) <= at) at -= static_cast<size_t>(invalidLength);
    *reason = "it declares the encoding \"" + name + "\", but the bytes at offset " + std::to_string(at) +
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
