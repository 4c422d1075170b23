#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/rsa_loader.h"
#include "platform/module_path.h"

namespace {

// The loader looks beside the code that loads it first, so the test puts
// the variant it wants there.
class CLibraryBesideTest {
 public:
  explicit CLibraryBesideTest(const char* source) {
    std::string self;
    GetModulePathOfAddress(reinterpret_cast<const void*>(&Anchor), self);
    m_target = std::filesystem::path(self).parent_path() / "QL_RSALoad64.so";
    std::filesystem::copy_file(source, m_target, std::filesystem::copy_options::overwrite_existing);
  }
  ~CLibraryBesideTest() {
    std::error_code ec;
    std::filesystem::remove(m_target, ec);
  }

 private:
  static void Anchor() {}
  std::filesystem::path m_target;
};

TEST(RSALoader, LoadsAllFiveEntryPointsAndUnloads) {
  CLibraryBesideTest lib(HX_RSA_COMPLETE);
  CRSALoader loader;
  EXPECT_EQ(loader.Load(), 0u);
  EXPECT_TRUE(loader.IsAvailable());
  // A second load keeps one reference.
  EXPECT_EQ(loader.Load(), 0u);
  loader.Unload();
  EXPECT_FALSE(loader.IsAvailable());
  EXPECT_FALSE(loader.IsLoaded());
}

TEST(RSALoader, MissingEntryPointKeepsTheLibraryButIsNotAvailable) {
  CLibraryBesideTest lib(HX_RSA_INCOMPLETE);
  CRSALoader loader;
  EXPECT_EQ(loader.Load(), 127u);
  EXPECT_FALSE(loader.IsAvailable());
  EXPECT_TRUE(loader.IsLoaded());
}

TEST(RSALoader, AbsentLibraryGivesTheLoadError) {
  CRSALoader loader;
  EXPECT_EQ(loader.Load(), 126u);
  EXPECT_FALSE(loader.IsAvailable());
  EXPECT_FALSE(loader.IsLoaded());
}

}  // namespace
