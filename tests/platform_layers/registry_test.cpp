#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/registry.h"
#include "support/temp_dir.h"

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void Use(const std::string& body) { SetRegistryFilePath(dir.Write("r.reg", body)); }
  void TearDown() override { SetRegistryFilePath(""); }

  static std::string Text(HKEY key, const char* name, DWORD* type = nullptr) {
    char buf[256] = {};
    DWORD size = sizeof buf;
    DWORD t = 0;
    if (RegQueryValueExA(key, name, nullptr, &t, reinterpret_cast<BYTE*>(buf), &size) != 0) return "<none>";
    if (type != nullptr) *type = t;
    return std::string(buf);
  }
  CTempDir dir;
};

TEST_F(RegistryTest, ReadsTheExportFormat) {
  Use("Windows Registry Editor Version 5.00\r\n\r\n"
      "; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Quenlith\\Pellora]\r\n"
      "\"Path\"=\"C:\\\\Program Files\\\\\\\"Q\\\"\"\r\n"
      "@=\"default\"\r\n"
      "\"Count\"=dword:0000002a\r\n"
      "\"Expand\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00\r\n"
      "\"Blob\"=hex:01,02,\\\r\n  03\r\n"
      "\"Gone\"=\"x\"\r\n"
      "\"Gone\"=-\r\n"
      "[HKCR\\.pdf]\r\n"
      "\"Content Type\"=\"application/pdf\"\r\n");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\quenlith\\PELLORA", 0, KEY_READ, &key), 0);
  DWORD type = 0;
  EXPECT_EQ(Text(key, "path", &type), "C:\\Program Files\\\"Q\"");
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(Text(key, ""), "default");
  EXPECT_EQ(Text(key, "Expand", &type), "%TEMP%");
  EXPECT_EQ(type, REG_EXPAND_SZ);
  EXPECT_EQ(Text(key, "Gone"), "<none>");
  DWORD value = 0;
  DWORD size = sizeof value;
  EXPECT_EQ(RegQueryValueExA(key, "Count", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), 0);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(value, 42u);
  BYTE blob[8] = {};
  size = sizeof blob;
  EXPECT_EQ(RegQueryValueExA(key, "Blob", nullptr, &type, blob, &size), 0);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(blob[2], 3);
  // Too small a buffer: 234 with the size needed; no buffer: the size.
  char small[4];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(key, "Path", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size), 234);
  EXPECT_EQ(size, std::strlen("C:\\Program Files\\\"Q\"") + 1);
  EXPECT_EQ(RegQueryValueExA(key, "Path", nullptr, nullptr, nullptr, &size), 0);
  EXPECT_EQ(RegCloseKey(key), 0);

  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, ".PDF", 0, KEY_READ, &key), 0);
  EXPECT_EQ(Text(key, "Content Type"), "application/pdf");
  RegCloseKey(key);
  // Parents exist; other keys do not.
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Quenlith", 0, KEY_READ, &key), 0);
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Other", 0, KEY_READ, &key), 2);
  EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryTest, MissingOrDamagedFileReadsAsNoKeys) {
  SetRegistryFilePath(dir.Path() + "absent.reg");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key), 2);
  Use("[HKEY_LOCAL_MACHINE\\A\r\n\"x\"=dword:zz\r\n\"y\"=hex:1ff\r\n[HKEY_LOCAL_MACHINE\\B]\r\n\"v\"=dword:1\r\n");
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A", 0, KEY_READ, &key), 2);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "B", 0, KEY_READ, &key), 0);
  DWORD v = 0;
  DWORD size = sizeof v;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size), 0);
  EXPECT_EQ(v, 1u);
  RegCloseKey(key);
}

TEST_F(RegistryTest, ReadsUtf16ExportsAndFollowsChanges) {
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"1\"\r\n")) {
    utf16 += c;
    utf16 += '\0';
  }
  const std::string path = dir.Write("u.reg", utf16);
  SetRegistryFilePath(path);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &key), 0);
  EXPECT_EQ(Text(key, "v"), "1");
  dir.Write("u.reg", "[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"2\"\r\n");
  SetFileTimeSeconds(path, 1000);
  // A key opened before keeps what it read.
  EXPECT_EQ(Text(key, "v"), "1");
  RegCloseKey(key);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &key), 0);
  EXPECT_EQ(Text(key, "v"), "2");
  RegCloseKey(key);
}

}  // namespace
