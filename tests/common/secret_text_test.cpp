#include "common/secret_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A cookie header in the logs shows its cookies' names and value lengths
// only: a value holding "=" or a folded header (", ") must not leak a
// value as if it were a name.
TEST(SecretText, CookiesShowNamesAndLengthsOnly) {
  EXPECT_EQ("sessionid=(3 bytes); cadata=(5 bytes)", CookieForLog("sessionid=abc; cadata=\"x=y\""));
  EXPECT_EQ("a=(11 bytes)", CookieForLog("a=1, b=secret"));
  EXPECT_EQ("(6 bytes); x=(absent)", CookieForLog("secret;  ;x="));
  EXPECT_EQ("(absent)", CookieForLog(""));
  EXPECT_EQ("(17 bytes)", CookieForLog("x y=secretsecrets"));
  EXPECT_EQ("(4 bytes)", SecretForLog("pass"));
}

}  // namespace
