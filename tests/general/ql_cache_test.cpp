#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "general/ql_cache.h"
#include "log_capture.h"
#include "platform/cache_component.h"

namespace {

std::string Get(CQLCache& cache, const char* key, const char* session, const char* property,
                const char* name = "ADUserConfig") {
  char* buffer = nullptr;
  if (!cache.GetItem(name, key, &buffer, session, property)) return "<miss>";
  std::string value = buffer;
  delete[] buffer;
  return value;
}

class QLCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetCacheComponent(); }
  void TearDown() override { ResetCacheComponent(); }
};

TEST_F(QLCacheTest, NothingWorksBeforeInit) {
  CLogCapture log;
  CQLCache cache;
  EXPECT_FALSE(cache.CreateCache("ADUserConfig", 3000, 60));
  EXPECT_FALSE(cache.AddItem("ADUserConfig", "k", "v", "s", "p"));
  EXPECT_EQ(Get(cache, "k", "s", "p"), "<miss>");
  EXPECT_TRUE(log.Has("CreateCache QLCache is not initialized"));
  EXPECT_TRUE(log.Has("AddItem QLCache is not initialized"));
  EXPECT_TRUE(log.Has("GetItem QLCache is not initialized"));
}

TEST_F(QLCacheTest, StoresUnderKeySessionAndProperty) {
  CQLCache cache;
  ASSERT_TRUE(cache.Init());
  ASSERT_TRUE(cache.CreateCache("ADUserConfig", 3000, 60));
  EXPECT_TRUE(cache.AddItem("ADUserConfig", "alice", "fr-FR", "sess1", "msExchUserCulture"));
  EXPECT_EQ(Get(cache, "alice", "sess1", "msExchUserCulture"), "fr-FR");
  EXPECT_EQ(Get(cache, "alice", "sess2", "msExchUserCulture"), "<miss>");
  EXPECT_EQ(Get(cache, "alice", "sess1", "other"), "<miss>");
  // Other modes address other keys; an unknown mode stores nothing.
  EXPECT_TRUE(cache.AddItem("ADUserConfig", "bob", "v1", "", "", 1));
  char* buffer = nullptr;
  ASSERT_TRUE(cache.GetItem("ADUserConfig", "bob", &buffer, "", "", 1));
  EXPECT_STREQ(buffer, "v1");
  delete[] buffer;
  EXPECT_TRUE(cache.AddItem("ADUserConfig", "carol", "v", "s", "p", 9));
  EXPECT_EQ(Get(cache, "carol", "s", "p"), "<miss>");
  // A cache that was never created.
  EXPECT_FALSE(cache.AddItem("Other", "k", "v", "s", "p"));
  EXPECT_EQ(Get(cache, "k", "s", "p", "Other"), "<miss>");
  // The string form reads what the C-string forms stored: a text ends at
  // its first NUL there too; a miss leaves the value alone.
  const std::string name = "ADUserConfig";
  const std::string property = "msExchUserCulture";
  std::string value = "unset";
  EXPECT_FALSE(cache.GetItem(name, "alice", value, "sess2", property));
  EXPECT_EQ(value, "unset");
  EXPECT_TRUE(cache.GetItem(name, "alice", value, std::string("sess1\0tail", 10), property));
  EXPECT_EQ(value, "fr-FR");
}

TEST_F(QLCacheTest, BoundedByEntries) {
  CQLCache cache;
  ASSERT_TRUE(cache.Init());
  ASSERT_TRUE(cache.CreateCache("Small", 2, 60));
  EXPECT_TRUE(cache.AddItem("Small", "a", "1", "s", "p"));
  EXPECT_TRUE(cache.AddItem("Small", "b", "2", "s", "p"));
  EXPECT_TRUE(cache.AddItem("Small", "a", "1b", "s", "p"));  // refreshes a
  EXPECT_TRUE(cache.AddItem("Small", "c", "3", "s", "p"));   // b is the oldest now
  EXPECT_EQ(Get(cache, "a", "s", "p", "Small"), "1b");
  EXPECT_EQ(Get(cache, "b", "s", "p", "Small"), "<miss>");
  EXPECT_EQ(Get(cache, "c", "s", "p", "Small"), "3");
  EXPECT_FALSE(cache.CreateCache("Bad", 0, 60));
}

// The limit counts users, not their sessions and properties, and a user
// whose answer was just read stays while one unused goes; a user who keeps
// sending new sessions keeps a few and pushes nobody else out.
TEST_F(QLCacheTest, BoundedByUsersLeastRecentlyUsedFirst) {
  CQLCache cache;
  ASSERT_TRUE(cache.Init());
  ASSERT_TRUE(cache.CreateCache("Small", 2, 60));
  EXPECT_TRUE(cache.AddItem("Small", "a", "1", "s1", "p"));
  EXPECT_TRUE(cache.AddItem("Small", "a", "1", "s2", "p"));
  EXPECT_TRUE(cache.AddItem("Small", "a", "1", "s2", "q"));
  EXPECT_TRUE(cache.AddItem("Small", "b", "2", "s", "p"));
  EXPECT_EQ(Get(cache, "a", "s1", "p", "Small"), "1");  // a is in use
  EXPECT_TRUE(cache.AddItem("Small", "c", "3", "s", "p"));
  EXPECT_EQ(Get(cache, "b", "s", "p", "Small"), "<miss>");
  EXPECT_EQ(Get(cache, "a", "s2", "q", "Small"), "1");
  EXPECT_EQ(Get(cache, "c", "s", "p", "Small"), "3");
  for (int i = 0; i < 100; ++i) {
    EXPECT_TRUE(cache.AddItem("Small", "a", "1", ("new" + std::to_string(i)).c_str(), "p"));
  }
  EXPECT_EQ(Get(cache, "a", "new99", "p", "Small"), "1");
  EXPECT_EQ(Get(cache, "c", "s", "p", "Small"), "3");
  // Reading an item does not lengthen its life: the directory may change.
  AdvanceCacheComponentClock(std::chrono::minutes(40));
  EXPECT_EQ(Get(cache, "c", "s", "p", "Small"), "3");
  AdvanceCacheComponentClock(std::chrono::minutes(30));
  EXPECT_EQ(Get(cache, "c", "s", "p", "Small"), "<miss>");
}

// The cache is bounded in bytes as well: an item larger than a user may
// hold is not stored, a user's sessions make room for each other within
// that, and users fill the cache up to its bytes, the least recently used
// going first.
TEST_F(QLCacheTest, BoundedInBytes) {
  CQLCache cache;
  ASSERT_TRUE(cache.Init());
  ASSERT_TRUE(cache.CreateCache("Bytes", 100000, 60));
  const std::string tooLarge(kCacheComponentKeyMaxBytes, 'x');
  EXPECT_FALSE(cache.AddItem("Bytes", "a", tooLarge.c_str(), "s", "p"));
  const std::string kilobyte(1024, 'k');
  for (int i = 0; i < 1000; ++i) {
    EXPECT_TRUE(cache.AddItem("Bytes", "a", kilobyte.c_str(), ("s" + std::to_string(i)).c_str(), "p"));
  }
  EXPECT_EQ(Get(cache, "a", "s0", "p", "Bytes"), "<miss>");
  EXPECT_EQ(Get(cache, "a", "s999", "p", "Bytes"), kilobyte);
  const std::string value(kCacheComponentKeyMaxBytes / 2, 'v');
  const int users = static_cast<int>(2 * kCacheComponentMaxBytes / value.size());
  for (int i = 0; i < users; ++i) {
    EXPECT_TRUE(cache.AddItem("Bytes", std::to_string(i).c_str(), value.c_str(), "s", "p"));
  }
  EXPECT_EQ(Get(cache, "a", "s999", "p", "Bytes"), "<miss>");
  EXPECT_EQ(Get(cache, std::to_string(users / 4).c_str(), "s", "p", "Bytes"), "<miss>");
  EXPECT_EQ(Get(cache, std::to_string(users - 1).c_str(), "s", "p", "Bytes"), value);
}

TEST(CacheComponent, ThreadsMustSetUpFirst) {
  std::thread t([] {
    ICacheComponent* c = nullptr;
    EXPECT_EQ(CoCreateCacheComponent(&c), CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    // The cache client accepts a thread already in the other model.
    CQLCache cache;
    EXPECT_TRUE(cache.Init());
  });
  t.join();
}

TEST(QLCacheConcurrent, ManyThreadsShareOneCache) {
  ResetCacheComponent();
  CQLCache cache;
  ASSERT_TRUE(cache.Init());
  ASSERT_TRUE(cache.CreateCache("ADUserConfig", 100, 60));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&cache, &wrong, t] {
      for (int i = 0; i < 300; ++i) {
        const std::string key = "user" + std::to_string(t) + "_" + std::to_string(i % 40);
        const std::string value = "v" + std::to_string(i);
        cache.AddItem("ADUserConfig", key.c_str(), value.c_str(), "s", "p");
        char* buffer = nullptr;
        if (cache.GetItem("ADUserConfig", key.c_str(), &buffer, "s", "p")) {
          if (std::string(buffer).rfind("v", 0) != 0) ++wrong;
          delete[] buffer;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  ResetCacheComponent();
}

}  // namespace
