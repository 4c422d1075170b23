// Escaping walks the page's characters: the text the browser decodes from
// the escaped bytes is the escaped text of what it decodes from the value,
// in every character set the module serves, hostile values included.
#include <gtest/gtest.h>

#include <string>

#include "common/js_string.h"
#include "common/page_chars.h"
#include "platform/code_page.h"

#include <unicode/ucnv.h>

namespace {

using namespace std::string_literals;

// What the browser reads: bytes that make no character read U+FFFD.
std::u16string Decode(const char* pConverter, const std::string& bytes) {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* pIcu = ucnv_open(pConverter, &status);
  std::u16string out(bytes.size() * 2 + 4, u'\0');
  const int32_t n = ucnv_toUChars(pIcu, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                                  bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  ucnv_close(pIcu);
  out.resize(U_SUCCESS(status) ? static_cast<size_t>(n) : 0);
  return out;
}

std::string Encode(UINT codePage, const std::u16string& text) {
  if (text.empty()) return std::string();
  const int length = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(codePage, 0, text.data(), length, out.data(), n, nullptr, nullptr);
  return out;
}

std::string Utf8(const std::u16string& text) { return Encode(CP_UTF8, text); }

TEST(PageChars, EscapedBytesDecodeToTheEscapedText) {
  const struct {
    const char* charSet;
    const char* pConverter;  // ICU's converter of the set
    std::string value;  // as the page spells it
  } cases[] = {
      // 表, ソ, 許, 功 and a GBK character end in byte 0x5C; a lone 0x5C is
      // a backslash.
      {"Shift_JIS", "windows-932", "\x94\x84\x8F\xE3\x95\x5C\")\\\x83\x5C\x95\x5C"},
      {"shift_jis", "windows-932", "\x95\x5C\x31.xls\n\x95\x5Cn"},
      {"x-mac-japan", "windows-932", "\x95\x5C\");pwn(1);//"},
      {"big5", "windows-950-2000", "\xB3\x5Cx.txt\xA5\x5C\"<\\"},
      {"x-mac-chinesetrad", "windows-950-2000", "\xB3\x5C\");pwn(1);//"},
      {"gb2312", "GB18030", "\x81\x5C\"\xB9\xA6\xC4\xDC\x81\x30\x81\x30\\"},
      {"GBK", "GB18030", "\xD5\x5C\x5C\x22"},
      {"euc-kr", "windows-949-2000", "\xC8\xB8\xC0\xC7\"\\<"},
      // The shift sequences stay; text between them is copied whole, and a
      // value left outside ASCII is shifted back.
      {"iso-2022-jp", "ISO-2022-JP", "\x1B$B2q5D;qNA\x1B(B.pdf"},
      {"ISO-2022-JP", "ISO-2022-JP", "\x1B$B$\"%\\&'\x1B(B\"\\\x1B$B2q"},
      {"iso-2022-jp", "ISO-2022-JP", "\x1B(Ja\"\\~b\x1B(B\x1B"},
      {"hz-gb-2312", "HZ", "~{;a~}\"\\~~x~{;a"},
      {"utf-8", "UTF-8", "\xE8\xA1\xA8\"\\\xE2\x80\xA8\x01"},
      {"windows-1252", "windows-1252", "\x95\x5C\"\xE2\x80\xA8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.charSet + std::string(" ") + c.value);
    const std::string escaped = EscapeJavaScriptString(c.value, '"', CPageChars::ForCharSet(c.charSet));
    const std::string shown = Utf8(Decode(c.pConverter, c.value));
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(Utf8(Decode(c.pConverter, escaped)), EscapeJavaScriptString(shown, '"', CPageChars::Utf8()));
  }
  // Where the set has no character, the browser reads the lead byte alone
  // and the 0x5C after it as a backslash.
  EXPECT_EQ("\x85\\\\\\\"", EscapeJavaScriptString("\x85\\\"", '"', CPageChars::ForCharSet("shift_jis")));
  EXPECT_EQ("\x86\\\\\\\"", EscapeJavaScriptString("\x86\\\"", '"', CPageChars::ForCharSet("big5")));
  // UTF-8 and single-byte pages keep their bytes as written.
  EXPECT_EQ("\xE8\xA1\xA8\\\"\\\\\\u2028", EscapeJavaScriptString("\xE8\xA1\xA8\"\\\xE2\x80\xA8", '"', CPageChars::Utf8()));
  EXPECT_EQ("\x95\\\\\\x3C", EscapeJavaScriptString("\x95\\<", '"', CPageChars::ForCharSet("iso-8859-1")));
}

}  // namespace
