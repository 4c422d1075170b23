#include "platform/code_page.h"

#include <errno.h>
#include <iconv.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/last_error.h"

namespace {

const char* IconvName(UINT cp) {
  switch (cp) {
    case CP_ACP: return "CP1252";
    case CP_UTF8: return "UTF-8";
    case 1200: return "UTF-16LE";
    case 437: return "CP437";
    case 850: return "CP850";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1252: return "CP1252";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 10000: return "MACINTOSH";
    case 10001: return "MACJAPANESE";
    case 10002: return "MACCHINESETRAD";
    case 10004: return "MACARABIC";
    case 10005: return "MACHEBREW";
    case 10006: return "MACGREEK";
    case 10007: return "MACCYRILLIC";
    case 10008: return "MACCHINESESIMP";
    case 20127: return "ASCII";
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

// An iconv descriptor opened for one call.
class Converter {
 public:
  Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(m_cd);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return m_cd; }

 private:
  iconv_t m_cd;
};

size_t WideLength(const WCHAR* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

// Encodes UTF-16 into the code page; unmappable characters become the
// replacement text. False only when iconv lacks the code page.
bool EncodeWide(UINT cp, const WCHAR* wide, size_t count, const std::string& replacement, std::string& out,
                bool& usedReplacement) {
  const char* name = IconvName(cp);
  if (name == nullptr) return false;
  Converter conv(name, "UTF-16LE");
  if (!conv.ok()) return false;
  out.clear();
  usedReplacement = false;
  char buf[256];
  size_t i = 0;
  while (i < count) {
    char* inPtr = const_cast<char*>(reinterpret_cast<const char*>(wide + i));
    size_t inLeft = (count - i) * sizeof(WCHAR);
    bool failed = false;
    while (inLeft > 0) {
      char* outPtr = buf;
      size_t outLeft = sizeof buf;
      size_t rc = iconv(conv.get(), &inPtr, &inLeft, &outPtr, &outLeft);
      out.append(buf, sizeof buf - outLeft);
      if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
        failed = true;
        break;
      }
    }
    i = count - inLeft / sizeof(WCHAR);
    if (!failed) break;
    // Only the character iconv cannot map is replaced; the run goes on after it.
    size_t skip = 1;
    if (i + 1 < count && wide[i] >= 0xD800 && wide[i] < 0xDC00 && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
      skip = 2;
    }
    out += replacement;
    usedReplacement = true;
    i += skip;
  }
  // Back to the initial shift state (ISO-2022-JP ends in ASCII).
  char* outPtr = buf;
  size_t outLeft = sizeof buf;
  iconv(conv.get(), nullptr, nullptr, &outPtr, &outLeft);
  out.append(buf, sizeof buf - outLeft);
  return true;
}

}  // namespace

bool IsCodePageAvailable(UINT codePage) {
  const char* name = IconvName(codePage);
  if (name == nullptr) return false;
  Converter conv(name, "UTF-16LE");
  return conv.ok();
}

int WideCharToMultiByte(UINT codePage, DWORD, const WCHAR* wide, int cchWide, LPSTR out, int cbOut,
                        LPCSTR defaultChar, BOOL* usedDefaultChar) {
  if (wide == nullptr || cchWide == 0 || cchWide < -1 || cbOut < 0 || (cbOut > 0 && out == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t count = cchWide == -1 ? WideLength(wide) + 1 : static_cast<size_t>(cchWide);
  std::string encoded;
  bool used = false;
  std::string replacement = (defaultChar != nullptr && codePage != CP_UTF8) ? std::string(defaultChar, 1) : "?";
  if (codePage == CP_UTF8) replacement = "\xEF\xBF\xBD";
  if (!EncodeWide(codePage, wide, count, replacement, encoded, used)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (usedDefaultChar != nullptr) *usedDefaultChar = used ? TRUE : FALSE;
  if (encoded.size() > 0x7FFFFFFFu) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int needed = static_cast<int>(encoded.size());
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
  size_t count = cbBytes == -1 ? std::strlen(bytes) + 1 : static_cast<size_t>(cbBytes);
  const char* name = IconvName(codePage);
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Converter conv("UTF-16LE", name);
  if (!conv.ok()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::vector<char> in(bytes, bytes + count);
  std::u16string result;
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char buf[512];
  while (inLeft > 0) {
    char* outPtr = buf;
    size_t outLeft = sizeof buf;
    size_t rc = iconv(conv.get(), &inPtr, &inLeft, &outPtr, &outLeft);
    size_t produced = sizeof buf - outLeft;
    for (size_t k = 0; k + 1 < produced; k += 2) {
      result += static_cast<char16_t>(static_cast<unsigned char>(buf[k]) |
                                      (static_cast<unsigned char>(buf[k + 1]) << 8));
    }
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  }
  if (result.size() > 0x7FFFFFFFu) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int needed = static_cast<int>(result.size());
  if (cchOut == 0) return needed;
  if (cchOut < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, result.data(), result.size() * sizeof(WCHAR));
  return needed;
}
