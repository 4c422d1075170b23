#include "platform/code_page.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/last_error.h"

namespace {

// ICU's converter of each Windows code page.
const char* ConverterName(UINT cp) {
  switch (cp) {
    case CP_ACP: return "windows-1252";
    case CP_UTF8: return "UTF-8";
    case 1200: return "UTF-16LE";
    case 437: return "ibm-437";
    case 850: return "ibm-850";
    case 874: return "windows-874";
    case 932: return "windows-932";
    case 936: return "windows-936-2000";
    case 949: return "windows-949-2000";
    case 950: return "windows-950-2000";
    case 1250: return "windows-1250";
    case 1251: return "windows-1251";
    case 1252: return "windows-1252";
    case 1253: return "windows-1253";
    case 1254: return "windows-1254";
    case 1255: return "windows-1255";
    case 1256: return "windows-1256";
    case 1257: return "windows-1257";
    case 1258: return "windows-1258";
    case 10000: return "macintosh";
    case 10006: return "x-mac-greek";
    case 10007: return "x-mac-cyrillic";
    // The Mac sets of Japanese, Chinese, Arabic and Hebrew extend the set
    // named here: letters, kana, ideographs and ASCII have the same bytes;
    // only a few Apple symbols (and Mac Arabic's own digits) differ, and
    // those become the replacement character. ICU's data has no converter
    // of their own for them.
    case 10001: return "Shift_JIS";
    case 10002: return "Big5";
    case 10004: return "ISO-8859-6";
    case 10005: return "ISO-8859-8";
    case 10008: return "GB2312";
    case 20127: return "US-ASCII";
    case 20866: return "KOI8-R";
    case 20932: return "EUC-JP";
    case 28591: return "ISO-8859-1";
    case 28592: return "ISO-8859-2";
    case 28593: return "ISO-8859-3";
    case 28594: return "ISO-8859-4";
    case 28595: return "ISO-8859-5";
    case 28596: return "ISO-8859-6";
    case 28597: return "ISO-8859-7";
    case 28598: return "ISO-8859-8";
    case 28599: return "ISO-8859-9";
    case 28605: return "ISO-8859-15";
    case 38598: return "ISO-8859-8";  // logical order; the bytes are the same
    case 50220: return "ISO-2022-JP";
    case 51932: return "EUC-JP";
    case 51949: return "EUC-KR";
    case 52936: return "HZ-GB-2312";
    case 54936: return "GB18030";
    default: return nullptr;
  }
}

struct CloseConverter {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, CloseConverter>;

// A converter opened for one call (ICU shares the tables behind it); null
// when there is none for the code page.
ConverterPtr OpenConverter(UINT cp) {
  const char* name = ConverterName(cp);
  if (name == nullptr) return nullptr;
  UErrorCode status = U_ZERO_ERROR;
  ConverterPtr converter(ucnv_open(name, &status));
  if (U_FAILURE(status)) return nullptr;
  return converter;
}

size_t WideLength(const WCHAR* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

// Substitutes a character the code page lacks and notes that it did.
void SubstituteAndNote(const void* context, UConverterFromUnicodeArgs* args, const UChar* units, int32_t length,
                       UChar32 codePoint, UConverterCallbackReason reason, UErrorCode* status) {
  if (reason <= UCNV_IRREGULAR) *static_cast<bool*>(const_cast<void*>(context)) = true;
  UCNV_FROM_U_CALLBACK_SUBSTITUTE(nullptr, args, units, length, codePoint, reason, status);
}

// Encodes UTF-16 into the code page; characters it lacks become the
// replacement. False only when there is no converter.
bool EncodeWide(UINT cp, const WCHAR* wide, size_t count, const char* defaultChar, std::string& out,
                bool& usedReplacement) {
  ConverterPtr converter = OpenConverter(cp);
  if (!converter) return false;
  UErrorCode status = U_ZERO_ERROR;
  if (cp != CP_UTF8) {
    // Windows replaces with "?" (or the caller's byte), not ICU's SUB byte. A
    // stateful set that refuses a one-byte substitute keeps its own.
    ucnv_setSubstChars(converter.get(), defaultChar != nullptr ? defaultChar : "?", 1, &status);
    status = U_ZERO_ERROR;
  }
  usedReplacement = false;
  ucnv_setFromUCallBack(converter.get(), &SubstituteAndNote, &usedReplacement, nullptr, nullptr, &status);
  if (U_FAILURE(status)) return false;
  const UChar* source = reinterpret_cast<const UChar*>(wide);
  const int32_t length = static_cast<int32_t>(count);
  const int32_t needed = ucnv_fromUChars(converter.get(), nullptr, 0, source, length, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return false;
  out.assign(static_cast<size_t>(needed), '\0');
  if (needed == 0) return true;
  status = U_ZERO_ERROR;
  usedReplacement = false;
  ucnv_fromUChars(converter.get(), out.data(), needed, source, length, &status);
  return U_SUCCESS(status);
}

}  // namespace

bool IsCodePageAvailable(UINT codePage) { return OpenConverter(codePage) != nullptr; }

int WideCharToMultiByte(UINT codePage, DWORD, const WCHAR* wide, int cchWide, LPSTR out, int cbOut,
                        LPCSTR defaultChar, BOOL* usedDefaultChar) {
  if (wide == nullptr || cchWide == 0 || cchWide < -1 || cbOut < 0 || (cbOut > 0 && out == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t count = cchWide == -1 ? WideLength(wide) + 1 : static_cast<size_t>(cchWide);
  if (count > 0x7FFFFFFFu) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string encoded;
  bool used = false;
  if (!EncodeWide(codePage, wide, count, codePage == CP_UTF8 ? nullptr : defaultChar, encoded, used)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (usedDefaultChar != nullptr) *usedDefaultChar = used ? TRUE : FALSE;
  const int needed = static_cast<int>(encoded.size());
  if (cbOut == 0) return needed;
  if (cbOut < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, encoded.data(), encoded.size());
  return needed;
}

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR bytes, int cbBytes, WCHAR* out, int cchOut) {
  if (bytes == nullptr || cbBytes == 0 || cbBytes < -1 || cchOut < 0 || (cchOut > 0 && out == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t count = cbBytes == -1 ? std::strlen(bytes) + 1 : static_cast<size_t>(cbBytes);
  ConverterPtr converter = OpenConverter(codePage);
  if (!converter || count > 0x7FFFFFFFu) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  UErrorCode status = U_ZERO_ERROR;
  // Invalid bytes end the conversion instead of turning into U+FFFD.
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  const int32_t length = static_cast<int32_t>(count);
  const int32_t needed = ucnv_toUChars(converter.get(), nullptr, 0, bytes, length, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  std::u16string result(static_cast<size_t>(needed), u'\0');
  status = U_ZERO_ERROR;
  if (needed > 0) ucnv_toUChars(converter.get(), reinterpret_cast<UChar*>(result.data()), needed, bytes, length, &status);
  if (status == U_STRING_NOT_TERMINATED_WARNING) status = U_ZERO_ERROR;
  if (U_FAILURE(status)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (cchOut == 0) return needed;
  if (cchOut < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, result.data(), result.size() * sizeof(WCHAR));
  return needed;
}
