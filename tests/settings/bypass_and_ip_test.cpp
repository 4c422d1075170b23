#include <gtest/gtest.h>

#include "platform/request_identity.h"
#include "settings/handle_pl_settings.h"
#include "settings/ip_range.h"
#include "settings_files.h"

namespace {

const char* kA = "S-1-5-21-1-2-3-500";
const char* kB = "S-1-5-32-544";
const char* kC = "S-1-5-21-1-2-3-1105";

size_t BypassCount(const std::string& s48, const std::string& s49) {
  CTempDir dir;
  std::string general;
  if (!s48.empty()) general += Item(48, s48);
  if (!s49.empty()) general += Item(49, s49);
  const std::string path = dir.Write("HXSettings.xml", ModuleSettings(general, ""));
  CPLSettings settings;
  EXPECT_EQ(S_OK, settings.LoadSettings(path));
  return settings.Store().m_byPassList.size();
}

TEST(BypassList, SplitOfSettings48And49) {
  const std::string a(kA);
  const std::string b(kB);
  const std::string c(kC);
  EXPECT_EQ(3u, BypassCount(a + ";" + b, c));
  EXPECT_EQ(3u, BypassCount(a + ";" + b + ";", c));  // no second separator is added
  EXPECT_EQ(2u, BypassCount(a + ";;" + b, ""));       // an empty entry is skipped, not the end
  EXPECT_EQ(1u, BypassCount("", c));
  EXPECT_EQ(2u, BypassCount(a + ";not-a-sid;" + b, ""));  // an unconvertible SID costs only itself
  EXPECT_EQ(0u, BypassCount("", ""));
}

class BypassHolder : public ::testing::Test {
 protected:
  void Load(const std::string& s48, long seconds) {
    tree.WriteModule(ModuleSettings(Item(48, s48) + Item(81, "0"), ""));
    SetFileTimeSeconds(tree.ModulePath(), seconds);
  }
  void SetUp() override {
    tree.WriteLinks(Links(""));
    Load(std::string(kA) + ";" + kB, 1000000000);
    std::string dir = tree.SettingsDir();
    ASSERT_EQ(S_OK, holder.LoadSettings(dir));
  }
  BOOL Check() {
    BOOL member = FALSE;
    EXPECT_EQ(ERROR_SUCCESS, holder.CheckByPassList(member));
    return member;
  }
  CInstallTree tree;
  CHandlePLSettings holder;
};

TEST_F(BypassHolder, MembershipOfTheRequestsUserOrGroups) {
  EXPECT_FALSE(Check());  // no request identity: the process is in no list
  {
    CRequestIdentityScope user(CRequestIdentity{"carol", "CORP", "S-1-5-21-1-2-3-1300", {"S-1-5-32-545", kB}});
    EXPECT_TRUE(Check());  // the second SID of the list
  }
  {
    CRequestIdentityScope user(CRequestIdentity{"dave", "CORP", "S-1-5-21-1-2-3-1301", {"S-1-5-32-545"}});
    EXPECT_FALSE(Check());
  }
}

TEST_F(BypassHolder, TheListIsRebuiltOnEachLoad) {
  CRequestIdentityScope admin(CRequestIdentity{"admin", "CORP", kA, {}});
  EXPECT_TRUE(Check());
  Load(kC, 1000000100);
  bool reloaded = false;
  ASSERT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  ASSERT_TRUE(reloaded);
  EXPECT_EQ(1u, holder.GetPLSettings().Store().m_byPassList.size());
  EXPECT_FALSE(Check());  // the removed SID no longer bypasses
}

IPAddress Parse(const std::string& text) {
  IPAddress a;
  ParseIPAddress(text, a);
  return a;
}

bool In(const std::string& address, const std::string& low, const std::string& high) {
  IPRange range;
  MakeIPRange({low, high}, range);
  return IsIPAddressInRange(Parse(address), range);
}

TEST(IPRanges, BoundsAndKinds) {
  EXPECT_TRUE(In("192.168.1.200", "192.168.1.10", "192.168.2.5"));
  EXPECT_TRUE(In("192.168.1.10", "192.168.1.10", "192.168.2.5"));
  EXPECT_TRUE(In("192.168.2.5", "192.168.1.10", "192.168.2.5"));
  EXPECT_FALSE(In("192.168.2.6", "192.168.1.10", "192.168.2.5"));
  EXPECT_FALSE(In("192.168.1.9", "192.168.1.10", "192.168.2.5"));
  EXPECT_TRUE(In("fd00::8", "fd00::1", "fd00::ffff"));
  EXPECT_FALSE(In("fd01::", "fd00::1", "fd00::ffff"));
  EXPECT_FALSE(In("::ffff", "0.0.0.0", "255.255.255.255"));  // IPv6 against IPv4
  EXPECT_FALSE(In("10.0.0.1", "::", "ffff::"));              // and the reverse
  EXPECT_FALSE(In("10.0.0.1", "10.0.0.0", "ffff::"));        // mixed bounds hold nothing
}

TEST(IPRanges, ParsingOfShortFormsAndOddTexts) {
  const IPAddress loopback = Parse("::1");
  EXPECT_EQ(kIPKindIPv6, loopback.kind);
  for (int g = 0; g < 7; ++g) EXPECT_EQ(0, loopback.groups[g]);
  EXPECT_EQ(1, loopback.groups[7]);
  const IPAddress linkLocal = Parse("fe80::1");
  EXPECT_EQ(0xfe80, linkLocal.groups[0]);
  EXPECT_EQ(1, linkLocal.groups[7]);
  const IPAddress any = Parse("::");
  for (int g = 0; g < 8; ++g) EXPECT_EQ(0, any.groups[g]);
  const IPAddress trailing = Parse("1:2:3:4:5:6:7::");
  EXPECT_EQ(7, trailing.groups[6]);
  EXPECT_EQ(0, trailing.groups[7]);
  const IPAddress padded = Parse(" 010.0.0.9\t");  // blanks of the settings list, leading zeros
  EXPECT_EQ(kIPKindIPv4, padded.kind);
  EXPECT_EQ(10, padded.groups[0]);
  EXPECT_EQ(9, padded.groups[3]);
}

// A mapped address is its IPv4 address, in IPv4 ranges only.
TEST(IPRanges, MappedIPv6AddressesAreTheirIPv4Address) {
  for (const char* mapped : {"::ffff:10.0.0.5", "::ffff:0a00:0005", "::FFFF:10.0.0.5"}) {
    const IPAddress a = Parse(mapped);
    EXPECT_EQ(kIPKindIPv4, a.kind) << mapped;
    EXPECT_EQ(10, a.groups[0]) << mapped;
    EXPECT_EQ(5, a.groups[3]) << mapped;
    EXPECT_TRUE(In(mapped, "10.0.0.1", "10.0.0.9")) << mapped;
    EXPECT_FALSE(In(mapped, "::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff")) << mapped;
  }
  EXPECT_EQ(kIPKindIPv6, Parse("::10.0.0.5").kind);  // compatible, not mapped
}

TEST(IPRanges, MalformedTextsAreRefused) {
  for (const char* text : {"1:2:3:4:5:6:7:8:9:10", "1::2::3", ":::", "fe80::1%eth0", "[::1]:443", "1:2:3:4:5:6:7:8::",
                           "12345::1", "1.2.3.4:80", "10.0.0.1junk", "10.1.2.3.4", "10.0.0", "256.0.0.1",
                           "99999999999.1.1.1", "1.2.3.4, 5.6.7.8", "localhost", "", "::ffff:10.0.0.5x"}) {
    const IPAddress a = Parse(text);
    EXPECT_EQ(kIPKindRefused, a.kind) << text;
    EXPECT_FALSE(In(text, "::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff")) << text;
    EXPECT_FALSE(In(text, "0.0.0.0", "255.255.255.255")) << text;
    EXPECT_FALSE(In("::1", text, text)) << text;
  }
  // A refused pair bounds nothing even for another refused text.
  EXPECT_FALSE(In("1::2::3", "1::2::3", "1::2::3"));
}

TEST(IPRanges, HolderCheckUsesTheRequestsSet) {
  CInstallTree tree;
  tree.WriteLinks(Links(""));
  tree.WriteModule(ModuleSettings(
      "", "<SETTING ID=\"1\" DESCR=\"s\"><ITEMS>" + Item(45, "10.0.0.1;10.0.0.9;fd00::1;fd00::ff;192.168.0.1;") +
              "</ITEMS></SETTING><SETTING ID=\"2\" DESCR=\"e\"><ITEMS>" + Item(45, "") + "</ITEMS></SETTING>"));
  CHandlePLSettings holder;
  std::string dir = tree.SettingsDir();
  ASSERT_EQ(S_OK, holder.LoadSettings(dir));
  bool found = false;
  EXPECT_TRUE(holder.CheckClientIPAgainstDirectAccessIPRange("10.0.0.5", found, 1));
  EXPECT_TRUE(found);
  EXPECT_TRUE(holder.CheckClientIPAgainstDirectAccessIPRange("fd00::80", found, 1));
  EXPECT_FALSE(holder.CheckClientIPAgainstDirectAccessIPRange("192.168.0.1", found, 1));  // partner missing
  EXPECT_FALSE(found);
  EXPECT_FALSE(holder.CheckClientIPAgainstDirectAccessIPRange("10.0.0.5", found, 2));
  EXPECT_FALSE(holder.CheckClientIPAgainstDirectAccessIPRange("10.0.0.5", found, -1));  // defaults have none
}

}  // namespace
