#include <gtest/gtest.h>

#include <string>

#include "common/string_operation.h"

namespace {

TEST(Decode64, SkipsForeignCharactersAndStopsAtZero) {
  ci_string text = "ZGlyL3JlcG9ydC5wZGY=";
  EXPECT_TRUE(CStringOperation::Decode64(text));
  EXPECT_EQ("dir/report.pdf", text);
  // Line breaks and blanks are not part of the alphabet.
  text = "ZGly\r\nL3Jl cG9y dC5w ZGY";
  EXPECT_TRUE(CStringOperation::Decode64(text));
  EXPECT_EQ("dir/report.pdf", text);
  // A decoded zero byte ends the text; a malformed text still gives what it can.
  text = "YQBi";
  EXPECT_TRUE(CStringOperation::Decode64(text));
  EXPECT_EQ("a", text);
  text = "Y";
  EXPECT_TRUE(CStringOperation::Decode64(text));
  EXPECT_EQ("", text);
  text = "";
  EXPECT_FALSE(CStringOperation::Decode64(text));
}

}  // namespace
