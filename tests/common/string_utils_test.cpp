#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <stdexcept>
#include <vector>

#include "common/string_operation.h"
#include "common/string_utils.h"
#include "common/url_utils.h"

namespace {

using Parts = std::vector<ci_string>;

TEST(NumberToText, PlainDecimalForEveryWidth) {
  EXPECT_EQ("-42", ToString(int32_t{-42}));
  EXPECT_EQ("-2147483648", ToString(INT32_MIN));
  EXPECT_EQ("65535", ToString(uint16_t{65535}));
  EXPECT_EQ("18446744073709551615", ToString(UINT64_MAX));
  EXPECT_EQ("65", ToString('A'));  // a number, never a character
  EXPECT_EQ(L"-7", ToWString(int32_t{-7}));
  EXPECT_EQ(L"4294967295", ToWString(UINT32_MAX));
}

TEST(GetStringBetween, FindsPartAfterStartUpToEnd) {
  const std::string q = "a=1&b=2";
  EXPECT_EQ("2", GetStringBetween(q, "b=", "&"));
  EXPECT_EQ("1", GetStringBetween(q, "a=", "&"));
  EXPECT_EQ("", GetStringBetween(q, "c=", "&"));
  EXPECT_EQ("", GetStringBetween(std::string("x=1&b="), "b=", "&"));  // nothing after start
  EXPECT_EQ("", GetStringBetween(q, "a=", "&", 1));  // start searched from the position
  EXPECT_EQ("", GetStringBetween(q, "a=", "&", 100));
  // The ci_string form finds both delimiters without case.
  EXPECT_EQ(ci_string("Value"), GetStringBetween(ci_string("<TAG>Value</tag>"), ci_string("<tag>"),
                                                 ci_string("</TAG>")));
}

TEST(ReplaceAll, ReplacesEveryOccurrenceWithoutRescanning) {
  std::string s = "aaaa";
  EXPECT_TRUE(ReplaceAll(s, "aa", "aaa"));
  EXPECT_EQ("aaaaaa", s);
  s = "abcabc";
  EXPECT_TRUE(ReplaceAll(s, "b", "", 2));
  EXPECT_EQ("abcac", s);
  EXPECT_TRUE(ReplaceAll(s, "zz", "y"));  // nothing found is still success
  EXPECT_EQ("abcac", s);
  EXPECT_FALSE(ReplaceAll(s, "", "y"));
  std::string empty;
  EXPECT_FALSE(ReplaceAll(empty, "a", "b"));

  ci_string c = "One.DLL and two.dll";
  EXPECT_TRUE(CStringOperation::ReplaceAll(c, ".dll", ".log"));
  EXPECT_EQ(ci_string("One.log and two.log"), c);
  EXPECT_FALSE(CStringOperation::ReplaceAll(c, "", "x"));
}

TEST(JoinStrings, DropsTheFinalCharacterOfTheWhole) {
  using V = std::vector<std::string>;
  EXPECT_EQ("a,b", JoinStrings(",", V{"a", "b"}));
  // With no separator that is the last character of the last element.
  EXPECT_EQ("123456", JoinStrings("", V{"123", "4567"}));
  EXPECT_EQ("", JoinStrings("", V{}));
  EXPECT_EQ("", JoinStrings("", V{"x"}));
  EXPECT_EQ("a; b;", JoinStrings("; ", V{"a", "b"}));
}

TEST(Parse, SplitsWithAndWithoutStoppingAtEmptyParts) {
  Parts parts;
  EXPECT_TRUE(CStringOperation::Parse("a;b", ";", parts, true));
  EXPECT_EQ((Parts{"a", "b"}), parts);

  parts.clear();
  EXPECT_TRUE(CStringOperation::Parse("a;;b", ";", parts, true));
  EXPECT_EQ((Parts{"a"}), parts);

  parts.clear();
  EXPECT_TRUE(CStringOperation::Parse("a;b", ";", parts, false));
  EXPECT_EQ((Parts{"a", "b", ""}), parts);

  parts.clear();
  EXPECT_TRUE(CStringOperation::Parse("a;;b", ";", parts, false));
  EXPECT_EQ((Parts{"a", "", "b", ""}), parts);

  parts.clear();
  EXPECT_TRUE(CStringOperation::Parse(";x;y", ";", parts, true));  // leading delimiter
  EXPECT_EQ((Parts{"x", "y"}), parts);

  parts.clear();
  EXPECT_TRUE(CStringOperation::Parse("docXdocxDOC", "x", parts, true));  // without case
  EXPECT_EQ((Parts{"doc", "doc", "DOC"}), parts);

  parts.clear();
  EXPECT_TRUE(CStringOperation::Parse("one", ";", parts, true));
  EXPECT_EQ((Parts{"one"}), parts);

  parts.clear();
  EXPECT_FALSE(CStringOperation::Parse("", ";", parts, true));
  EXPECT_TRUE(parts.empty());

  // An empty delimiter would never move on: the text is one part.
  parts.clear();
  EXPECT_TRUE(CStringOperation::Parse("a;b", "", parts, false));
  EXPECT_EQ((Parts{"a;b"}), parts);

  parts.clear();
  EXPECT_TRUE(CStringOperation::Parse("a, b, c", ", ", parts, true));  // longer delimiter
  EXPECT_EQ((Parts{"a", "b", "c"}), parts);
}

TEST(Parse, IntoSetCollapsesDuplicatesWithoutCase) {
  std::set<ci_string> set;
  EXPECT_TRUE(CStringOperation::Parse("exe;EXE;bat;;com", ";", set));
  EXPECT_EQ((std::set<ci_string>{"bat", "exe"}), set);
  EXPECT_FALSE(CStringOperation::Parse("", ";", set));
  set.clear();
  EXPECT_TRUE(CStringOperation::Parse("a", "", set));
  EXPECT_EQ(1u, set.size());
}

TEST(Trim, RemovesSetCharactersFromTheEnds) {
  ci_string s = "  x  ";
  CStringOperation::Trim(s, " ");
  EXPECT_EQ(ci_string("x"), s);
  s = "xXaXx";
  CStringOperation::Trim(s, "x");  // matched without case
  EXPECT_EQ(ci_string("a"), s);
  s = " \t ";
  CStringOperation::Trim(s, " \t");
  EXPECT_TRUE(s.empty());
  s = "--a--";
  CStringOperation::TrimLeft(s, "-");
  EXPECT_EQ(ci_string("a--"), s);
  CStringOperation::TrimRight(s, "-");
  EXPECT_EQ(ci_string("a"), s);
  s = "keep";
  CStringOperation::Trim(s, "");
  EXPECT_EQ(ci_string("keep"), s);
}

TEST(URLDecode, DecodesEscapesAndKeepsBrokenOnes) {
  EXPECT_EQ("a b+c", URLDecode("a%20b+c"));
  EXPECT_EQ("", URLDecode(""));
  EXPECT_EQ("\xE9t\xE9", URLDecode("%E9t%e9"));
  // A '%' without two hexadecimal digits after it stays as it is.
  EXPECT_EQ("abc%4", URLDecode("abc%4"));
  EXPECT_EQ("abc%", URLDecode("abc%"));
  EXPECT_EQ("100%zz", URLDecode("100%zz"));
  EXPECT_EQ("%g1x", URLDecode("%g1x"));
  EXPECT_EQ("%A", URLDecode("%%41"));  // the first '%' stays, the escape after it decodes
  // What follows a decoded zero byte is cut, as a C string would be.
  EXPECT_EQ("file.exe", URLDecode("file.exe%00.txt"));
}

TEST(StringToUInt, ParsesByRadixAndRefusesOverflow) {
  DWORD v = 99;
  EXPECT_TRUE(StringToUInt("ff", v, 16));
  EXPECT_EQ(255u, v);
  EXPECT_TRUE(StringToUInt("FF", v, 16));
  EXPECT_EQ(255u, v);
  EXPECT_TRUE(StringToUInt("-12", v, 10, 0, std::string::npos, true));
  EXPECT_EQ(static_cast<DWORD>(-12), v);
  EXPECT_FALSE(StringToUInt("-12", v, 10));  // sign not allowed
  EXPECT_FALSE(StringToUInt("12x", v, 10));
  EXPECT_EQ(12u, v);
  EXPECT_FALSE(StringToUInt("12", v, 1));
  EXPECT_EQ(0u, v);
  EXPECT_FALSE(StringToUInt("12", v, 37));
  EXPECT_TRUE(StringToUInt("z", v, 36));
  EXPECT_EQ(35u, v);
  EXPECT_FALSE(StringToUInt("9", v, 8));

  EXPECT_TRUE(StringToUInt("4294967295", v, 10));
  EXPECT_EQ(UINT32_MAX, v);
  EXPECT_FALSE(StringToUInt("4294967296", v, 10));
  EXPECT_FALSE(StringToUInt("100000000", v, 16));
  EXPECT_FALSE(StringToUInt("99999999999999999999", v, 10));

  // Position and length.
  EXPECT_TRUE(StringToUInt("id=123;", v, 10, 3, 3));
  EXPECT_EQ(123u, v);
  EXPECT_TRUE(StringToUInt("abc", v, 10, 3));  // at the end: nothing to read
  EXPECT_EQ(0u, v);
  EXPECT_TRUE(StringToUInt("abc", v, 10, 1, 0));
  EXPECT_FALSE(StringToUInt("abc", v, 16, 2, 5));  // range past the end
  EXPECT_FALSE(StringToUInt("abc", v, 16, 10, 1));

  EXPECT_TRUE(CStringOperation::String2Int("1A", v, 16));
  EXPECT_EQ(26u, v);
  EXPECT_FALSE(CStringOperation::String2Int("1G", v, 16));
  EXPECT_EQ(1u, v);
  int32_t signedValue = 0;
  EXPECT_TRUE(CStringOperation::String2Int("-12", signedValue, 10, 0, ci_string::npos, true));
  EXPECT_EQ(-12, signedValue);
}

TEST(Encode64, EncodesWithPadding) {
  std::string s = "abc";
  EXPECT_TRUE(CStringOperation::Encode64(s));
  EXPECT_EQ("YWJj", s);
  s = "ab";
  CStringOperation::Encode64(s);
  EXPECT_EQ("YWI=", s);
  s = "a";
  CStringOperation::Encode64(s);
  EXPECT_EQ("YQ==", s);
  s = "";
  CStringOperation::Encode64(s);
  EXPECT_EQ("", s);
  s = std::string("\xFF\xFE\x00", 3);
  CStringOperation::Encode64(s);
  EXPECT_EQ("//4A", s);
  s = "Many hands make light work.";
  CStringOperation::Encode64(s);
  EXPECT_EQ("TWFueSBoYW5kcyBtYWtlIGxpZ2h0IHdvcmsu", s);
}

}  // namespace
