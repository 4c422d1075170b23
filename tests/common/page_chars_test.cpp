// Escaping walks the page's characters: the text the browser decodes from
// the escaped bytes is the escaped text of what it decodes from the value,
// in every character set the module serves, hostile values included.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

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

// What the browser shows: ICU writes U+001A for bytes of no character in
// some sets, the browser U+FFFD; a script reads "\\uFFFD" as U+FFFD.
std::string Shown(const char* pConverter, const std::string& bytes) {
  std::u16string text = Decode(pConverter, bytes);
  for (char16_t& c : text) {
    if (c == 0x1A) c = 0xFFFD;
  }
  std::string out = Utf8(text);
  for (size_t at = 0; (at = out.find("\\uFFFD", at)) != std::string::npos;) out.replace(at, 6, "\xEF\xBF\xBD");
  return out;
}

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
      // A byte that begins no character in front of a quote or at the end:
      // the browser shows U+FFFD and reads the quote by itself.
      {"shift_jis", "windows-932", "I\x95\");pwn(1);//"},
      {"shift_jis", "windows-932", "I\xF0\");pwn(1);//\x95"},
      {"big5", "windows-950-2000", "I\xA4\");pwn(1);//\xA4"},
      {"gbk", "GB18030", "I\x81\");pwn(1);//\x81\x30x\x81"},
      {"euc-kr", "windows-949-2000", "I\xB0\");pwn(1);//\xB0"},
      // The shift sequences stay; text between them is copied whole, and a
      // value left outside ASCII is shifted back.
      {"iso-2022-jp", "ISO-2022-JP", "\x1B$B2q5D;qNA\x1B(B.pdf"},
      {"ISO-2022-JP", "ISO-2022-JP", "\x1B$B$\"%\\&'\x1B(B\"\\\x1B$B2q"},
      {"iso-2022-jp", "ISO-2022-JP", "\x1B(Ja\"\\~b\x1B(B\x1B"},
      // 唖 and 鮎 are 0" and 0> after either shift into JIS X 0208; a value
      // left in the Roman or the Katakana set is shifted back too.
      {"iso-2022-jp", "ISO-2022-JP", "\x1B$@0\"0>\x1B(B\"\\"},
      {"iso-2022-jp", "ISO-2022-JP", "\x1B$B0\"0>"},
      {"iso-2022-jp", "ISO-2022-JP", "x\x1B(Ja\"b"},
      {"iso-2022-jp", "ISO-2022-JP", "x\x1B(I1\"2"},
      {"hz-gb-2312", "HZ", "~{;a~}\"\\~~x~{;a"},
      {"utf-8", "UTF-8", "\xE8\xA1\xA8\"\\\xE2\x80\xA8\x01"},
      {"windows-1252", "windows-1252", "\x95\x5C\"\xE2\x80\xA8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.charSet + std::string(" ") + c.value);
    // The page's own quote after the value must read as written.
    const std::string escaped = EscapeJavaScriptString(c.value, '"', CPageChars::ForCharSet(c.charSet)) + "\");";
    const std::string shown = Shown(c.pConverter, c.value);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(Shown(c.pConverter, escaped), EscapeJavaScriptString(shown, '"', CPageChars::Utf8()) + "\");");
  }
  // Where the set has no character, the browser reads the lead byte alone
  // (U+FFFD) and the 0x5C after it as a backslash; the lead byte is not
  // written, so it cannot take an escape's backslash as its second byte.
  EXPECT_EQ("\\uFFFD\\\\\\\"", EscapeJavaScriptString("\x85\\\"", '"', CPageChars::ForCharSet("shift_jis")));
  EXPECT_EQ("\\uFFFD\\\\\\\"", EscapeJavaScriptString("\x86\\\"", '"', CPageChars::ForCharSet("big5")));
  // UTF-8 and single-byte pages keep their bytes as written.
  EXPECT_EQ("\xE8\xA1\xA8\\\"\\\\\\u2028", EscapeJavaScriptString("\xE8\xA1\xA8\"\\\xE2\x80\xA8", '"', CPageChars::Utf8()));
  EXPECT_EQ("\x95\\\\\\x3C", EscapeJavaScriptString("\x95\\<", '"', CPageChars::ForCharSet("iso-8859-1")));
}

// The sets whose characters are one or two bytes, with ICU's converter of
// each as browsers decode it.
struct TwoByteSet {
  const char* charSet;
  const char* pConverter;
};
const TwoByteSet kTwoByteSets[] = {
    {"shift_jis", "windows-932"}, {"big5", "windows-950-2000"}, {"gbk", "GB18030"},
    {"gb18030", "GB18030"},       {"euc-kr", "windows-949-2000"},
};

// Where browsers read otherwise than ICU's converter: the user-defined
// characters of windows-950 and windows-949 are none in browsers, 0x80
// alone is U+0080 in Shift_JIS and the euro sign in GBK, and 0x80 and 0xFF
// are no character in Big5 and EUC-KR.
bool BrowsersHaveNoPair(const std::string& charSet, unsigned lead) {
  return (charSet == "big5" && lead < 0x87) || (charSet == "euc-kr" && (lead == 0xC9 || lead == 0xFE));
}

// Big5's four pairs that read as a letter and a combining mark.
bool IsBig5Pair(unsigned lead, unsigned trail) {
  return lead == 0x88 && (trail == 0x62 || trail == 0x64 || trail == 0xA3 || trail == 0xA5);
}

enum class Alone { Character, Lead, None };

Alone ReadAlone(UConverter* pIcu, const std::string& charSet, unsigned byte) {
  const bool bBig5OrEucKr = charSet == "big5" || charSet == "euc-kr";
  if (byte == 0x80 || (byte == 0xFF && bBig5OrEucKr)) return bBig5OrEucKr ? Alone::None : Alone::Character;
  const char c = static_cast<char>(byte);
  UChar unit[4];
  UErrorCode status = U_ZERO_ERROR;
  ucnv_resetToUnicode(pIcu);
  const int32_t n = ucnv_toUChars(pIcu, unit, 4, &c, 1, &status);
  if (status == U_TRUNCATED_CHAR_FOUND) return Alone::Lead;
  return U_SUCCESS(status) && n == 1 ? Alone::Character : Alone::None;
}

bool PairIsOne(UConverter* pIcu, const std::string& charSet, unsigned lead, unsigned trail) {
  const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  UChar units[4];
  UErrorCode status = U_ZERO_ERROR;
  ucnv_resetToUnicode(pIcu);
  const int32_t n = ucnv_toUChars(pIcu, units, 4, bytes, 2, &status);
  const bool bOne = n == 1 || (n == 2 && (U16_IS_LEAD(units[0]) || (charSet == "big5" && IsBig5Pair(lead, trail))));
  return U_SUCCESS(status) && bOne && !BrowsersHaveNoPair(charSet, lead);
}

// The walk's reading: each character in brackets, U+FFFD where the bytes
// make none.
std::string Reading(const std::string& bytes, const CPageChars& page) {
  return RewritePageChars(bytes, page, NoCharacterSpelling::MarkupReference,
                          [](std::string_view chars, bool, std::string& out) {
                            out.append("[").append(chars).append("]");
                            return true;
                          });
}

// The browser's reading of a byte alone at the end of the text.
std::string ReadingAlone(UConverter* pIcu, const std::string& charSet, unsigned byte) {
  return ReadAlone(pIcu, charSet, byte) == Alone::Character ? "[" + std::string(1, static_cast<char>(byte)) + "]"
                                                            : "&#xFFFD;";
}

// A lead byte and the next byte the set has no character for are read as
// U+FFFD, and the next byte by itself when it is ASCII.
std::string BrowserReading(UConverter* pIcu, const std::string& charSet, unsigned lead, unsigned trail) {
  if (PairIsOne(pIcu, charSet, lead, trail)) return "[" + std::string{static_cast<char>(lead), static_cast<char>(trail)} + "]";
  switch (ReadAlone(pIcu, charSet, lead)) {
    case Alone::Character: return "[" + std::string(1, static_cast<char>(lead)) + "]" + ReadingAlone(pIcu, charSet, trail);
    case Alone::Lead: return trail < 0x80 ? "&#xFFFD;[" + std::string(1, static_cast<char>(trail)) + "]" : "&#xFFFD;";
    case Alone::None: break;
  }
  return "&#xFFFD;" + ReadingAlone(pIcu, charSet, trail);
}

TEST(PageChars, EveryLeadByteWithEveryTrailThatMattersReadsAsTheBrowserReadsIt) {
  std::vector<unsigned> trails;
  for (unsigned t = 0; t < 0x80; ++t) trails.push_back(t);
  for (unsigned t : {0x80u, 0x81u, 0x9Fu, 0xA0u, 0xA1u, 0xDFu, 0xE0u, 0xFCu, 0xFDu, 0xFEu, 0xFFu}) trails.push_back(t);
  for (const TwoByteSet& set : kTwoByteSets) {
    const CPageChars page = CPageChars::ForCharSet(set.charSet);
    ASSERT_TRUE(page.IsReadable()) << set.charSet;
    UErrorCode status = U_ZERO_ERROR;
    UConverter* pIcu = ucnv_open(set.pConverter, &status);
    ASSERT_TRUE(U_SUCCESS(status)) << set.pConverter;
    ucnv_setToUCallBack(pIcu, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    int failures = 0;
    for (unsigned lead = 0x80; lead <= 0xFF && failures < 10; ++lead) {
      for (const unsigned trail : trails) {
        const std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
        const std::string expected = BrowserReading(pIcu, set.charSet, lead, trail);
        const std::string read = Reading(bytes, page);
        if (read == expected) continue;
        ADD_FAILURE() << set.charSet << " " << std::hex << lead << " " << trail << ": " << testing::PrintToString(read)
                      << " not " << testing::PrintToString(expected);
        ++failures;
      }
    }
    ucnv_close(pIcu);
  }
  // gb18030's four-byte characters, and a pointer without one: the first
  // byte alone reads U+FFFD and the digit after it by itself.
  const CPageChars gbk = CPageChars::ForCharSet("gbk");
  EXPECT_EQ("[\x81\x30\x81\x30]", Reading("\x81\x30\x81\x30", gbk));
  EXPECT_EQ("[\xE3\x32\x9A\x35]", Reading("\xE3\x32\x9A\x35", gbk));
  EXPECT_EQ("&#xFFFD;[2]&#xFFFD;[6]", Reading("\xE3\x32\x9A\x36", gbk));
}

// The shift sequences the browser accepts in ISO-2022-JP and HZ: text after
// each is read in its set, and the walk ends in ASCII.
TEST(PageChars, EveryShiftSequenceTheBrowserAcceptsSwitchesTheSet) {
  const CPageChars jis = CPageChars::ForCharSet("iso-2022-jp");
  const auto read = [](const std::string& bytes, const CPageChars& page) {
    return RewritePageChars(bytes, page, [](std::string_view chars, bool bAscii, std::string& out) {
      out.append(bAscii ? "a" : "n").append(std::to_string(chars.size()));
      return true;
    });
  };
  EXPECT_EQ("\x1B$Bn2n2\x1B(B", read("\x1B$B0\"0>", jis));
  EXPECT_EQ("\x1B$@n2n2\x1B(B", read("\x1B$@0\"0>", jis));
  EXPECT_EQ("\x1B(In1n1\x1B(B", read("\x1B(I1\"", jis));
  EXPECT_EQ("\x1B(Ja1n1a1\x1B(B", read("\x1B(Ja\\\"", jis));
  EXPECT_EQ("\x1B(Ba1a1", read("\x1B(B\"\\", jis));
  EXPECT_EQ("~{n2~}a1~{~}", read("~{0\"~}\"~{", CPageChars::ForCharSet("hz-gb-2312")));
}

// Without the converter the walk cannot tell characters apart: the page is
// not one it can escape values for.
TEST(PageChars, ASetWithoutItsConverterIsNotReadable) {
  EXPECT_FALSE(page_chars_detail::CanBuildPairTable("x-no-such-converter", CPageChars::Kind::ShiftJis));
  EXPECT_TRUE(page_chars_detail::CanBuildPairTable("windows-932", CPageChars::Kind::ShiftJis));
  for (const char* pSet : {"shift_jis", "big5", "gbk", "gb18030", "euc-kr", "utf-8", "iso-8859-1", "iso-2022-jp"}) {
    EXPECT_TRUE(CPageChars::ForCharSet(pSet).IsReadable()) << pSet;
  }
}

// The first pages of each set build its table while others read it.
TEST(PageCharsConcurrent, FirstPagesOfEachSetReadTheSameCharacters) {
  const char* const kSets[] = {"shift_jis", "big5", "gbk", "euc-kr"};
  const std::string value = "\x95\x5C\xB3\x5C\x81\x5C\xC8\xB8\x95\"";
  std::vector<std::string> results(8 * std::size(kSets));
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (size_t i = 0; i < std::size(kSets); ++i) {
        results[t * std::size(kSets) + i] = EscapeJavaScriptString(value, '"', CPageChars::ForCharSet(kSets[i]));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(EscapeJavaScriptString(value, '"', CPageChars::ForCharSet(kSets[i % std::size(kSets)])), results[i]);
  }
  EXPECT_EQ("\x95\x5C\xB3\\\\\x81\x5C\xC8\xB8\\uFFFD\\\"", results[0]);
}

}  // namespace
