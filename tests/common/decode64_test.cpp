#include <gtest/gtest.h>

#include "common/string_operation.h"

namespace {

TEST(Decode64, ForeignCharactersSkippedAndZeroEnds) {
  ci_string text = "ZGly\r\nL3Jl cG9y dC5w ZGY=";
  EXPECT_TRUE(CStringOperation::Decode64(text));
  EXPECT_EQ("dir/report.pdf", text);
  text = "YQBi";  // "a", zero, "b"
  EXPECT_TRUE(CStringOperation::Decode64(text));
  EXPECT_EQ("a", text);
  text = "";
  EXPECT_FALSE(CStringOperation::Decode64(text));
}

}  // namespace
