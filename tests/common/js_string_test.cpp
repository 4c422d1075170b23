#include <gtest/gtest.h>

#include "common/js_string.h"

namespace {

using namespace std::string_literals;
const CPageChars kUtf8 = CPageChars::Utf8();

TEST(EscapeJavaScriptString, PlainValueUnchangedHostileValueStaysOneLiteral) {
  const std::string cookie = "cadata=\"4QkJ7w8h2kVxE2C1rMZ0oYw==\"";
  EXPECT_EQ(cookie, EscapeJavaScriptString(cookie, '\'', kUtf8));

  EXPECT_EQ("a\\'b\\\\c\\r\\nd\\x3C/script>\\x00\\x1F\\x7F",
            EscapeJavaScriptString("a'b\\c\r\nd</script>\0\x1F\x7F"s, '\'', kUtf8));
  EXPECT_EQ("\\u2028\\u2029\xE2\x80\xA0", EscapeJavaScriptString("\xE2\x80\xA8\xE2\x80\xA9\xE2\x80\xA0", '\'', kUtf8));
  // Only the delimiting quote is escaped.
  EXPECT_EQ("'\\\"", EscapeJavaScriptString("'\"", '"', kUtf8));
}

}  // namespace
