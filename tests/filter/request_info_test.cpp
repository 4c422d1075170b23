#include <gtest/gtest.h>

#include <random>
#include <string>

#include "filter/request_info.h"

namespace {

TEST(RequestInfo, HeaderLookupFallsBackToTheColonForm) {
  CRequestInfo info;
  info.m_mapHeaders["Cookie:"] = "a=1";
  info.m_mapHeaders["HTTP_URL"] = "/owa/";
  std::string value = "unchanged";
  EXPECT_TRUE(info.GetHeaderValue("Cookie", value));
  EXPECT_EQ(value, "a=1");
  EXPECT_TRUE(info.GetHeaderValue("HTTP_URL", value));
  EXPECT_EQ(value, "/owa/");

  info.m_mapHeaders["Host"] = "mail";
  value = "unchanged";
  EXPECT_FALSE(info.GetHeaderValue("Host:", value));  // no fallback the other way
  EXPECT_FALSE(info.GetHeaderValue("cookie", value));  // names keep their case
  EXPECT_FALSE(info.GetHeaderValue("", value));
  EXPECT_EQ(value, "unchanged");
}

TEST(RequestInfo, DashAndUnderscoreAreAlikeInHeaderNames) {
  CRequestInfo info;
  info.m_mapHeaders["HTTP_ACCEPT_LANGUAGE"] = "de-CH";
  info.m_mapHeaders["X-Remote-Client-IP:"] = "10.0.0.5";
  info.m_mapHeaders["QL_CSMPREFIX:"] = "/owa/14/";
  std::string value;
  EXPECT_TRUE(info.GetHeaderValue("HTTP_ACCEPT-LANGUAGE", value));
  EXPECT_EQ(value, "de-CH");
  EXPECT_TRUE(info.GetHeaderValue("X_Remote_Client-IP", value));
  EXPECT_EQ(value, "10.0.0.5");
  EXPECT_TRUE(info.GetHeaderValue("HEADER_QL-CSMPREFIX", value));
  EXPECT_EQ(value, "/owa/14/");
  value = "unchanged";
  EXPECT_FALSE(info.GetHeaderValue("http_accept-language", value));  // case still counts
  EXPECT_FALSE(info.GetHeaderValue("HTTP_ACCEPT-LANGUAGES", value));
  // The exact spelling wins over an alike name that sorts before it.
  info.m_mapHeaders["X-Trace_Id:"] = "alike";
  info.m_mapHeaders["X_Trace_Id:"] = "exact";
  EXPECT_TRUE(info.GetHeaderValue("X_Trace_Id", value));
  EXPECT_EQ(value, "exact");
  EXPECT_TRUE(info.GetHeaderValue("X-Trace-Id", value));
  EXPECT_EQ(value, "alike");
  value.clear();
  EXPECT_TRUE(info.GetHeaderValue("X_Trace-Id", value));  // alike keys on both sides: the first
  EXPECT_EQ(value, "alike");
  value = "unchanged";
  // A client header called "HEADER_..." is no HEADER_ variable.
  info.m_mapHeaders["HEADER_QL_USER:"] = "evil";
  EXPECT_FALSE(info.GetHeaderValue("HEADER_QL_USER", value));
  EXPECT_EQ(value, "unchanged");
}

// Header look-ups and the host's listing of the headers rely on the map's
// order being exactly that of std::string: bytes above 0x7F, NUL, prefixes
// and differences on both sides of the eight-byte steps.
TEST(RequestInfo, HeaderNameOrderIsThatOfStdString) {
  std::mt19937 random(7);
  const std::string alphabet("\0-_AHPTZaz\x7F\x80\xFF", 14);
  auto name = [&] {
    std::string s(random() % 20, 'x');
    for (char& c : s) c = alphabet[random() % alphabet.size()];
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    std::string a = name();
    // Half the pairs share a prefix, so that later bytes decide.
    std::string b = random() % 2 ? a.substr(0, random() % (a.size() + 1)) + name() : name();
    const int expected = a.compare(b);
    const int got = CHeaderNameLess::Compare(a, b);
    ASSERT_EQ(got < 0, expected < 0) << i;
    ASSERT_EQ(got == 0, expected == 0) << i;
  }
}

TEST(RequestInfo, ParametersIgnoreCaseAndEmptyValuesCount) {
  CRequestInfo info;
  ci_string value = "unchanged";
  EXPECT_FALSE(info.GetParamValue("ae", value));
  info.m_mapParams["AE"] = "Item";
  info.m_mapParams["URL"] = "";
  EXPECT_TRUE(info.GetParamValue("ae", value));
  EXPECT_EQ(value, "item");  // compares without case
  EXPECT_EQ(ToStd(value), "Item");
  EXPECT_TRUE(info.GetParamValue("url", value));
  EXPECT_TRUE(value.empty());
  value = "unchanged";
  EXPECT_FALSE(info.GetParamValue("id", value));
  EXPECT_EQ(ToStd(value), "unchanged");
}

}  // namespace
