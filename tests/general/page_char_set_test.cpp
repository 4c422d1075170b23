#include <gtest/gtest.h>

#include <string>

#include "general/page_char_set.h"
#include "platform/code_page.h"

namespace {

std::string Detect(const std::string& contentType, int32_t length = -1, bool* found = nullptr) {
  std::string out = "stale";
  bool ok = CPageCharSet::DetectCharSet(contentType.c_str(),
                                        length < 0 ? static_cast<int32_t>(contentType.size()) : length, out);
  if (found != nullptr) *found = ok;
  return out;
}

TEST(DetectCharSet, TakesTheValueAfterCharset) {
  bool found = false;
  EXPECT_EQ(Detect("text/html; charset=utf-8", -1, &found), "utf-8");
  EXPECT_TRUE(found);
  EXPECT_EQ(Detect("text/html; Charset=UTF-8\r\n"), "UTF-8");
  EXPECT_EQ(Detect("text/html", -1, &found), "");
  EXPECT_FALSE(found);
  // The length bounds the search.
  EXPECT_EQ(Detect("text/html; charset=utf-8", 12, &found), "");
  EXPECT_FALSE(found);
  EXPECT_EQ(Detect("text/html; charset=", -1, &found), "");
  EXPECT_FALSE(found);
}

// The value as a MIME type parser reads it: a quoted string unquoted, a
// bare value up to ";" less trailing blanks; single quotes are no quotes.
TEST(DetectCharSet, ValueEndsAtSemicolonOrBlankAndLosesQuotes) {
  EXPECT_EQ(Detect("text/html; charset=\"utf-8\""), "utf-8");
  EXPECT_EQ(Detect("text/html; charset=utf-8; x=y"), "utf-8");
  EXPECT_EQ(Detect("text/html; charset=\"utf-8\"; x=y"), "utf-8");
  EXPECT_EQ(Detect("text/html; charset='big5' "), "'big5'");
  EXPECT_EQ(Detect("text/html; charset=iso-8859-1\tmore"), "iso-8859-1\tmore");
}

class PageCharSetTranslate : public ::testing::Test {
 protected:
  void SetUp() override { charSets.Init(); }
  std::string Translate(const std::u16string& text, const char* name, bool* ok = nullptr) {
    std::string out = "unchanged";
    bool r = charSets.Translate(text, ci_string(name), out);
    if (ok != nullptr) *ok = r;
    return out;
  }
  CPageCharSet charSets;
};

TEST_F(PageCharSetTranslate, Utf8EscapesOtherSetsDoNot) {
  EXPECT_EQ(Translate(u"a<b", "UTF-8"), "a&lt;b");
  EXPECT_EQ(Translate(u"a<b\u0151", "windows-1250"), "a<b\xF5");
  // Every label of UTF-8 is UTF-8.
  EXPECT_EQ(Translate(u"a<b", "utf8"), "a&lt;b");
  bool ok = true;
  EXPECT_EQ(Translate(u"x", "utf-9", &ok), "unchanged");
  EXPECT_FALSE(ok);
  EXPECT_EQ(Translate(u"\u00E9", "utf-16"), "\xE9");  // the ANSI code page
}

// Each declared set gets bytes of that set.
TEST_F(PageCharSetTranslate, RowsConvertToTheDeclaredSet) {
  EXPECT_EQ(Translate(u"\u00E9", "iso-8859-1"), "\xE9");
  EXPECT_EQ(Translate(u"\u4E2D", "BIG5"), "\xA4\xA4");
  EXPECT_EQ(Translate(u"\u4E2D", "gb2312"), "\xD6\xD0");
  EXPECT_EQ(Translate(u"\u03A9", "windows-1253"), "\xD9");
  EXPECT_EQ(Translate(u"\u011F", "iso-8859-9"), "\xF0");
  EXPECT_EQ(Translate(u"\u05D0", "iso-8859-8"), "\xE0");
  EXPECT_EQ(Translate(u"\u3042", "iso-2022-jp"), "\x1B$B$\"\x1B(B");
  EXPECT_EQ(Translate(u"\u3042", "shift_jis"), "\x82\xA0");
  EXPECT_EQ(charSets.CodePageOf("x-mac-greek"), 10006u);
  EXPECT_EQ(charSets.CodePageOf("big5"), 950u);
}

// A localised text in each row's own script converts, and back.
TEST_F(PageCharSetTranslate, EveryRowConvertsItsScriptBothWays) {
  const std::u16string greek = u"\u039A\u03B1\u03BB\u03AE", hebrew = u"\u05E9\u05DC\u05D5\u05DD",
                       arabic = u"\u0645\u0631\u062D\u0628\u0627", japanese = u"\u65E5\u672C\u8A9E\u3042",
                       chinese = u"\u4E2D\u6587";
  const std::pair<const char*, const std::u16string*> rows[] = {
      {"iso-8859-1", nullptr},        {"iso-8859-2", nullptr},      {"iso-8859-9", nullptr},
      {"windows-1250", nullptr},      {"windows-1254", nullptr},    {"iso-8859-7", &greek},
      {"windows-1253", &greek},       {"x-mac-greek", &greek},      {"windows-1255", &hebrew},
      {"iso-8859-8", &hebrew},        {"iso-8859-8-i", &hebrew},    {"x-mac-hebrew", &hebrew},
      {"iso-8859-6", &arabic},        {"windows-1256", &arabic},    {"x-mac-arabic", &arabic},
      {"shift_jis", &japanese},       {"iso-2022-jp", &japanese},   {"x-mac-japan", &japanese},
      {"big5", &chinese},             {"x-mac-chinesetrad", &chinese}, {"gb2312", &chinese},
      {"hz-gb-2312", &chinese},       {"x-mac-chineseimp", &chinese},
  };
  const std::u16string latinOf[] = {u"caf\u00E9", u"\u0159\u00E1d", u"\u011F\u0131", u"\u0159\u0151", u"\u011F\u015F"};
  int latinRow = 0;
  for (const auto& [name, script] : rows) {
    const std::u16string& text = script != nullptr ? *script : latinOf[latinRow++];
    bool ok = false;
    const std::string bytes = Translate(text, name, &ok);
    ASSERT_TRUE(ok) << name;
    EXPECT_EQ(bytes.find('?'), std::string::npos) << name;
    const UINT codePage = charSets.CodePageOf(name);
    std::u16string back(bytes.size() + 1, u'\0');
    const int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), back.data(),
                                      static_cast<int>(back.size()));
    back.resize(n > 0 ? static_cast<size_t>(n) : 0);
    EXPECT_TRUE(back == text) << name;
  }
}

// Any label of a set the table has a row for converts with that row; a set
// without a row stays without texts.
TEST_F(PageCharSetTranslate, EveryLabelOfARowsSet) {
  for (const char* label : {"cp932", "windows-31j", "csShiftJIS", "Shift-JIS"}) {
    EXPECT_EQ(Translate(u"\u3042", label), "\x82\xA0") << label;
  }
  EXPECT_EQ(Translate(u"\u4E2D", "gbk"), "\xD6\xD0");
  EXPECT_EQ(Translate(u"\u00E9", "latin1"), "\xE9");
  bool ok = true;
  EXPECT_EQ(Translate(u"x", "euc-kr", &ok), "unchanged");
  EXPECT_FALSE(ok);
}

TEST_F(PageCharSetTranslate, UnmappableCharactersAndEmptyTexts) {
  bool ok = false;
  EXPECT_EQ(Translate(u"a\u4E2Db", "windows-1250", &ok), "a?b");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Translate(u"", "windows-1250", &ok), "");
  EXPECT_TRUE(ok);
}

TEST_F(PageCharSetTranslate, InitTwiceAddsNothing) {
  charSets.Init();
  EXPECT_EQ(charSets.CodePageOf("ISO-8859-2"), 28592u);
  EXPECT_EQ(charSets.CodePageOf("utf-8"), 0u);
}

}  // namespace
