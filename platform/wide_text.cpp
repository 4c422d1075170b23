#include "platform/wide_text.h"

#include <errno.h>
#include <iconv.h>

#include <cstdint>
#include <cstring>

namespace {

// Converts `in` from one iconv encoding to another; an unconvertible unit
// becomes `replacement` and the conversion goes on after it.
std::string Convert(const char* to, const char* from, const char* in, size_t inBytes, size_t unit,
                    const std::string& replacement) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  char buffer[1024];
  char* src = const_cast<char*>(in);
  size_t left = inBytes;
  while (left > 0) {
    char* dst = buffer;
    size_t room = sizeof buffer;
    size_t rc = iconv(cd, &src, &left, &dst, &room);
    out.append(buffer, static_cast<size_t>(dst - buffer));
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or a cut sequence at the end: skip one unit.
    out += replacement;
    const size_t skip = left < unit ? left : unit;
    src += skip;
    left -= skip;
  }
  iconv_close(cd);
  return out;
}

// Directory paths, names and filters are ASCII almost always; such a text
// converts unit for unit, without opening a converter.
template <class To, class From>
bool CopyAscii(const From& from, To& to) {
  for (const auto c : from) {
    if (static_cast<uint32_t>(c) >= 0x80) return false;
  }
  to.assign(from.begin(), from.end());
  return true;
}

}  // namespace

std::wstring WideFromBytes(const std::string& bytes) {
  std::wstring ascii;
  if (CopyAscii(bytes, ascii)) return ascii;
  const wchar_t question = L'?';
  std::string raw = Convert("WCHAR_T", "UTF-8", bytes.data(), bytes.size(), 1,
                            std::string(reinterpret_cast<const char*>(&question), sizeof question));
  std::wstring wide(raw.size() / sizeof(wchar_t), L'\0');
  if (!wide.empty()) std::memcpy(wide.data(), raw.data(), wide.size() * sizeof(wchar_t));
  return wide;
}

std::string BytesFromWide(const std::wstring& wide) {
  std::string ascii;
  if (CopyAscii(wide, ascii)) return ascii;
  return Convert("UTF-8", "WCHAR_T", reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t),
                 sizeof(wchar_t), "?");
}
