#include <gtest/gtest.h>

#include <string>

#include "general/host_probes.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

namespace {

// Points the registry at a file for one test.
class CRegistryFile {
 public:
  explicit CRegistryFile(const std::string& body) {
    m_path = m_dir.Write("test.reg", "Windows Registry Editor Version 5.00\r\n\r\n" + body);
    SetRegistryFilePath(m_path);
  }
  ~CRegistryFile() { SetRegistryFilePath(""); }

 private:
  CTempDir m_dir;
  std::string m_path;
};

std::string SetupKey(const std::string& values, const char* key = "Software\\Microsoft\\Exchange\\Setup") {
  return std::string("[HKEY_LOCAL_MACHINE\\") + key + "]\r\n" + values;
}

TEST(ExchangeGeneration, BuildNumberBoundaries) {
  const std::pair<DWORD, DWORD> rows[] = {{0, 0},     {4000, 0},  {4001, 1},  {5999, 1},  {6000, 0},
                                          {6001, 2},  {9999, 2},  {10000, 4}, {10399, 4}, {10400, 8},
                                          {0xFFFFFFFFu, 8}};
  for (const auto& [build, generation] : rows) EXPECT_EQ(ExchangeGenerationOfBuild(build), generation) << build;
}

TEST(ExchangeGeneration, ReadFromEitherSetupKey) {
  {
    CRegistryFile reg(SetupKey("\"NewestBuild\"=dword:0000176f\r\n"));  // 5999
    EXPECT_EQ(ReadExchangeGeneration(), 1u);
  }
  {
    CRegistryFile reg(SetupKey("\"newestbuild\"=dword:00002887\r\n", "SOFTWARE\\Microsoft\\ExchangeServer\\v14\\Setup"));
    EXPECT_EQ(ReadExchangeGeneration(), 4u);  // 10375
  }
  {
    CRegistryFile reg(SetupKey("\"NewestBuild\"=\"10400\"\r\n"));
    EXPECT_EQ(ReadExchangeGeneration(), 0u);  // only a REG_DWORD counts
  }
  {
    CRegistryFile reg("");
    EXPECT_EQ(ReadExchangeGeneration(), 0u);
  }
}

TEST(SSLOffloaded, OnlyADwordChangesTheFlag) {
  const std::string key = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\MSExchange OWA]\r\n";
  DWORD flag = 7;
  {
    CRegistryFile reg(key + "\"SSLOffloaded\"=dword:00000001\r\n");
    EXPECT_EQ(ReadSSLOffloaded(flag), 0u);
    EXPECT_EQ(flag, 1u);
  }
  {
    CRegistryFile reg(key + "\"SSLOffloaded\"=dword:00000002\r\n");
    EXPECT_EQ(ReadSSLOffloaded(flag), 0u);
    EXPECT_EQ(flag, 0u);
  }
  {
    CRegistryFile reg(key + "\"SSLOffloaded\"=\"1\"\r\n");
    flag = 0;
    EXPECT_EQ(ReadSSLOffloaded(flag), 13u);
    EXPECT_EQ(flag, 0u);
    EXPECT_EQ(ReadSSLOffloaded(flag = 1), 13u);
    EXPECT_EQ(flag, 1u);
  }
  {
    CRegistryFile reg("");
    flag = 0;
    EXPECT_NE(ReadSSLOffloaded(flag), 0u);
    EXPECT_EQ(flag, 0u);
  }
}

TEST(ExtractUserName, KeepsTheUserPart) {
  const struct {
    const char* in;
    bool ok;
    const char* out;
  } rows[] = {
      {"DOMAIN\\user", true, "user"},    {"DOMAIN\\", false, "DOMAIN\\"},   {"user@example.com", true, "user"},
      {"user@", true, "user@"},          {"DOMAIN/user", true, "user"},     {"DOMAIN/", false, "DOMAIN/"},
      {"plain", true, "plain"},          {"", false, ""},                   {"a\\b\\c", true, "b\\c"},
      {"dom\\user@x", true, "user@x"},
  };
  for (const auto& row : rows) {
    ci_string name(row.in);
    EXPECT_EQ(ExtractUserNameInPlace(name), row.ok) << row.in;
    EXPECT_EQ(ToStd(name), row.out) << row.in;
  }
}

TEST(LogFileNames, ReservedNamesAreRefused) {
  for (const char* name : {"CON", "con", " Con ", "COM1", "COM1.log", "lpt9", "LPT3.txt", "AUX", "clock$", "NUL", ".", " .. "}) {
    ci_string n(name);
    bool allowed = IsAllowedFileName(n);
    if (std::string(name) == "clock$") {
      EXPECT_TRUE(allowed) << name;  // CLOCKS$ is the reserved one
    } else {
      EXPECT_FALSE(allowed) << name;
    }
  }
  for (const char* name : {"COM12", "CONSOLE", "COMX", "COM", "LPT1x", "my.log", "QLCommonLog.log"}) {
    ci_string n(name);
    EXPECT_TRUE(IsAllowedFileName(n)) << name;
  }
  ci_string trimmed("  name.log ");
  EXPECT_TRUE(IsAllowedFileName(trimmed));
  EXPECT_EQ(ToStd(trimmed), "name.log");
}

TEST(LogFileNames, SanitizeReplacesPathAndWildcardCharacters) {
  ci_string name(" a\\b/c:d\"e?f*g<h>i|j ");
  SanitizeFileName(name);
  EXPECT_EQ(ToStd(name), "a_b_c_d_e_f_g_h_i_j");
}

}  // namespace
