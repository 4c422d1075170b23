#include <gtest/gtest.h>

#include <random>
#include <string>

#include "common/cookie_key.h"

// The "=" search must find exactly what the plain case-blind search finds,
// also on keys that overlap, repeat or stand at the very start.
TEST(FindCookieKey, AgreesWithTheCaseBlindSearch) {
  std::mt19937 random(19);
  const char alphabet[] = "cadtACDT=; \"x";
  const char* keys[] = {"cadata=", "CADATA=", "a=", "=", "UserContext=", "sessionid=", "ata=", "cadata"};
  for (int round = 0; round < 20000; ++round) {
    std::string cookie;
    const int length = static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) cookie += alphabet[random() % (sizeof alphabet - 1)];
    for (const char* key : keys) {
      const ci_string_view c(cookie.data(), cookie.size());
      ASSERT_EQ(FindNoCase(c, key), FindCookieKey(c, key)) << cookie << " / " << key;
    }
  }
}
