#include <gtest/gtest.h>

#include <string>

#include "platform/code_page.h"
#include "platform/last_error.h"

namespace {

TEST(CodePage, WideToMultiByteSizesAndBuffers) {
  const std::u16string text = u"a\u00E9\u20AC";
  EXPECT_EQ(WideCharToMultiByte(1252, 0, text.data(), 3, nullptr, 0, nullptr, nullptr), 3);
  char out[8] = {};
  EXPECT_EQ(WideCharToMultiByte(1252, 0, text.data(), 3, out, sizeof out, nullptr, nullptr), 3);
  EXPECT_EQ(std::string(out, 3), "a\xE9\x80");
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text.data(), -1, out, sizeof out, nullptr, nullptr), 7);
  EXPECT_STREQ(out, "a\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text.data(), 3, out, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  BOOL used = FALSE;
  const std::u16string chinese = u"x\u4E2D";
  EXPECT_EQ(WideCharToMultiByte(1252, 0, chinese.data(), 2, out, sizeof out, "#", &used), 2);
  EXPECT_EQ(std::string(out, 2), "x#");
  EXPECT_TRUE(used);
}

TEST(CodePage, UnavailableCodePagesCannotConvert) {
  const std::u16string text = u"abc";
  char out[8];
  EXPECT_EQ(WideCharToMultiByte(12345, 0, text.data(), 3, out, sizeof out, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  WCHAR wide[8];
  EXPECT_EQ(MultiByteToWideChar(12345, 0, "abc", 3, wide, 8), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(IsCodePageAvailable(12345));
  EXPECT_TRUE(IsCodePageAvailable(10006));
}

TEST(CodePage, MultiByteToWide) {
  WCHAR out[8] = {};
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xC3\xA9", 3, out, 8), 2);
  EXPECT_EQ(out[1], 0x00E9);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC3\x28", 2, out, 8), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(MultiByteToWideChar(950, 0, "\xA4\xA4", 2, nullptr, 0), 1);
}

}  // namespace
