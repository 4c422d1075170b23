#include "platform/wide_text.h"

#include <unicode/utf8.h>

namespace {

constexpr uint32_t kLastCodePoint = 0x10FFFF;

bool IsSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

void AppendUtf8(std::string& out, uint32_t codePoint) {
  uint8_t bytes[U8_MAX_LENGTH];
  int32_t length = 0;
  U8_APPEND_UNSAFE(bytes, length, codePoint);
  out.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
}

std::wstring WideFromBytes(const std::string& bytes) {
  std::wstring wide;
  wide.reserve(bytes.size());
  const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto length = static_cast<int32_t>(bytes.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c = 0;
    U8_NEXT(s, i, length, c);
    wide += c < 0 ? L'?' : static_cast<wchar_t>(c);
  }
  return wide;
}

std::string BytesFromWide(const std::wstring& wide) {
  std::string bytes;
  bytes.reserve(wide.size());
  for (const wchar_t w : wide) {
    const auto c = static_cast<uint32_t>(w);
    if (c > kLastCodePoint || IsSurrogate(c)) {
      bytes += '?';
    } else {
      AppendUtf8(bytes, c);
    }
  }
  return bytes;
}
