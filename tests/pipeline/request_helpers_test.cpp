#include <gtest/gtest.h>

#include <cctype>
#include <iterator>
#include <string>
#include <string_view>

#include "common/ci_string.h"
#include "filter/notifications_helper.h"
#include "filter/request_flags.h"
#include "filter/util.h"

namespace {

TEST(HashString, KnownValuesAndSignedBytes) {
  EXPECT_EQ("108966", CUtil::HashString("abc"));
  EXPECT_EQ("0", CUtil::HashString(""));
  EXPECT_EQ("0", CUtil::HashString(nullptr));
  // 0xE9 counts as -23: 97 * 33 - 23.
  EXPECT_EQ(std::to_string(97u * 33u - 23u), CUtil::HashString("a\xE9"));
  // A leading high byte wraps below zero: -1 as unsigned 32-bit.
  EXPECT_EQ("4294967295", CUtil::HashString("\xFF"));
  // Long identifiers wrap at 32 bits rather than growing.
  uint32_t h = 0;
  const std::string id(200, 'z');
  for (char c : id) h = h * 33u + static_cast<uint32_t>(static_cast<int8_t>(c));
  EXPECT_EQ(std::to_string(h), CUtil::HashString(id.c_str()));
}

TEST(UserAgent, MacPremiumAndOwaAuth) {
  EXPECT_TRUE(CUtil::IsMacClient("Mozilla/5.0 (Macintosh; Intel)"));
  EXPECT_TRUE(CUtil::IsMacClient("x mac os y"));
  EXPECT_TRUE(CUtil::IsMacClient("MAC_POWERPC"));
  EXPECT_FALSE(CUtil::IsMacClient("Mozilla/5.0 (Windows NT 10.0)"));
  EXPECT_TRUE(CUtil::IsMacClient("Machine/1 (mac_powerpc)"));  // not the first "Mac"
  EXPECT_FALSE(CUtil::IsMacClient("MacOS; Mac"));

  EXPECT_TRUE(CUtil::IsPremiumIEClient("Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1)"));
  EXPECT_TRUE(CUtil::IsPremiumIEClient("mozilla (compatible; msie 6.0; windows)"));
  EXPECT_FALSE(CUtil::IsPremiumIEClient("Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)"));
  EXPECT_FALSE(CUtil::IsPremiumIEClient("Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.1)"));
  EXPECT_FALSE(CUtil::IsPremiumIEClient("Mozilla/4.0 (compatible; MSIE 7.0; Macintosh)"));
  EXPECT_FALSE(CUtil::IsPremiumIEClient("Windows MSIE "));
  // Anything above '5' in byte order counts, letters included.
  EXPECT_TRUE(CUtil::IsPremiumIEClient("MSIE x; Windows"));

  EXPECT_TRUE(CUtil::IsOWAAuthWindowsClient("MSIE 5.5; Windows 98; OWAAuth"));
  EXPECT_FALSE(CUtil::IsOWAAuthWindowsClient("owaauth on Linux"));
}

// The agent tests read the text in eight-byte words; the searches they
// replaced, run on agents made of the pieces that matter at every offset
// and case, must give the same answers.
bool MacBySearch(const std::string& agent) {
  const ci_string_view ua(agent.data(), agent.size());
  for (size_t at = FindNoCase(ua, "Mac"); at != ci_string_view::npos; at = FindNoCase(ua, "Mac", at + 1)) {
    const ci_string_view rest = ua.substr(at + 3);
    if (rest.starts_with("intosh") || rest.starts_with(" OS") || rest.starts_with("_PowerPC")) return true;
  }
  return false;
}

bool PremiumBySearch(const std::string& agent) {
  const ci_string_view ua(agent.data(), agent.size());
  const size_t msie = FindNoCase(ua, "MSIE ");
  if (msie == ci_string_view::npos || FindNoCase(ua, "Windows") == ci_string_view::npos) return false;
  return msie + 5 < ua.size() && static_cast<unsigned char>(ua[msie + 5]) > '5';
}

TEST(UserAgent, WordScanAgreesWithSearchOnVariedAgents) {
  const std::string_view kPieces[] = {
      "Mozilla/4.0 ", "MSIE ", "msie", "MSIE 7.0", "MSIE 5.5", "MSIE 10", "Windows", "windowS NT", "Windo",
      "Mac", "Macintosh", "mac OS", "Mac_PowerPC", "MacOS", "mAc", " ", ";", "m", "w", "W", "\xCD", "\xED",
      std::string_view("\0", 1), "x", "(compatible; "};
  uint32_t seed = 19;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  for (int round = 0; round < 20000; ++round) {
    std::string agent;
    for (uint32_t n = next() % 7; n > 0; --n) agent += kPieces[next() % std::size(kPieces)];
    if (next() % 3 == 0) agent.insert(0, next() % 9, 'z');
    for (char& c : agent) {
      if (std::isalpha(static_cast<unsigned char>(c)) && next() % 4 == 0) c ^= 0x20;
    }
    ASSERT_EQ(MacBySearch(agent), CUtil::IsMacClient(agent)) << agent;
    ASSERT_EQ(PremiumBySearch(agent), CUtil::IsPremiumIEClient(agent)) << agent;
  }
}

TEST(RequestKinds, BrowseCommandsAreTwentyToTwentyFive) {
  EXPECT_FALSE(IsBrowseCommandRequest(19));
  for (DWORD t = 20; t <= 25; ++t) EXPECT_TRUE(IsBrowseCommandRequest(t)) << t;
  EXPECT_FALSE(IsBrowseCommandRequest(26));
  EXPECT_FALSE(IsBrowseCommandRequest(30));
}

TEST(RemoveParamFromQueryString, FirstMiddleLastAndMissing) {
  ci_string q = "fidh=1&a=2";
  EXPECT_EQ(TRUE, CNotificationsHelper::RemoveParamFromQueryString(q, "fidh"));
  EXPECT_EQ("a=2", q);

  q = "a=2&fidh=1&b=3";
  EXPECT_EQ(TRUE, CNotificationsHelper::RemoveParamFromQueryString(q, "FIDH"));
  EXPECT_EQ("a=2&b=3", q);

  q = "a=2&midh=77";
  EXPECT_EQ(TRUE, CNotificationsHelper::RemoveParamFromQueryString(q, "midh"));
  EXPECT_EQ("a=2", q);

  q = "fidh=1";
  EXPECT_EQ(TRUE, CNotificationsHelper::RemoveParamFromQueryString(q, "fidh"));
  EXPECT_EQ("", q);

  q = "a=2";
  EXPECT_EQ(FALSE, CNotificationsHelper::RemoveParamFromQueryString(q, "fidh"));
  EXPECT_EQ("a=2", q);

  // A parameter whose name merely ends in the searched one stays.
  q = "xfidh=1&b=2";
  EXPECT_EQ(FALSE, CNotificationsHelper::RemoveParamFromQueryString(q, "fidh"));
  EXPECT_EQ("xfidh=1&b=2", q);
}

TEST(CookieHelpers, ExtractCookieKeysAndValues) {
  std::string v = "keep";
  EXPECT_EQ(FALSE, extractCookie("a=1; cadata=\"1xyz\"", "", v));
  EXPECT_EQ(FALSE, extractCookie("a=1; cadata=\"1xyz\"", "cadata", v));
  EXPECT_EQ("keep", v);
  EXPECT_EQ(FALSE, extractCookie("a=1", "cadata=", v));
  EXPECT_EQ("keep", v);

  EXPECT_EQ(TRUE, extractCookie("a=1; CADATA=\"1xyz\"; b=2", "cadata=", v));
  EXPECT_EQ("\"1xyz\"", v);
  EXPECT_EQ(TRUE, extractCookie("a=1; cadata= %41x", "cadata=", v));
  EXPECT_EQ(" %41x", v);  // neither trimmed nor decoded
  EXPECT_EQ(TRUE, CNotificationsHelper::GetFBACadataCookieValue("cadata=;x=1", v));
  EXPECT_EQ("", v);
}

TEST(CookieHelpers, CadataPair) {
  std::string pair = "old";
  EXPECT_EQ(TRUE, CNotificationsHelper::GetCadataCookie("sessionid=9; cadata=\"5abc\"; x=1", pair));
  EXPECT_EQ("cadata=\"5abc\"", pair);
  EXPECT_EQ(TRUE, CNotificationsHelper::GetCadataCookie("CAData=zz", pair));
  EXPECT_EQ("CAData=zz", pair);
  EXPECT_EQ(FALSE, CNotificationsHelper::GetCadataCookie("sessionid=9", pair));
  EXPECT_EQ("", pair);
}

}  // namespace
