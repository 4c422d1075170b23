#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/ci_string.h"
#include "common/counted_ptr.h"
#include "common/crit_sec.h"

namespace {

struct Tracked {
  explicit Tracked(int* deaths) : m_deaths(deaths) {}
  virtual ~Tracked() { ++*m_deaths; }
  int* m_deaths;
};

TEST(CountedPtr, LastOfThreeCopiesDestroysOnce) {
  int deaths = 0;
  {
    CCountedPtr<Tracked> a(new Tracked(&deaths));
    CCountedPtr<Tracked> b(a);
    {
      CCountedPtr<Tracked> c;
      c = b;
      EXPECT_EQ(3u, a.UseCount());
    }
    a.Release();
    EXPECT_EQ(0, deaths);
    EXPECT_EQ(1u, b.UseCount());
  }
  EXPECT_EQ(1, deaths);
}

TEST(CountedPtr, SelfAssignmentKeepsCount) {
  int deaths = 0;
  CCountedPtr<Tracked> a(new Tracked(&deaths));
  CCountedPtr<Tracked> b(a);
  a = b;
  EXPECT_EQ(2u, a.UseCount());
  EXPECT_EQ(0, deaths);
  // The only owner assigned to itself must not free what it still holds.
  CCountedPtr<Tracked> only(new Tracked(&deaths));
  CCountedPtr<Tracked>& same = only;
  only = same;
  EXPECT_EQ(1u, only.UseCount());
  EXPECT_EQ(0, deaths);
}

TEST(CountedPtr, AssignNullEmpties) {
  int deaths = 0;
  CCountedPtr<Tracked> a(new Tracked(&deaths));
  a = CCountedPtr<Tracked>();
  EXPECT_TRUE(a.IsNull());
  EXPECT_EQ(1, deaths);
}

// An object made with its count in one block goes once, with the last copy,
// and a constructor that throws leaves no block behind (the leak check).
TEST(CountedPtr, MadeInOneBlockDestroysOnceAndFreesOnThrow) {
  int deaths = 0;
  {
    auto a = CCountedPtr<Tracked>::Make(&deaths);
    CCountedPtr<Tracked> b;
    b = a;
    a.Release();
    EXPECT_EQ(1u, b.UseCount());
    EXPECT_EQ(0, deaths);
  }
  EXPECT_EQ(1, deaths);
  struct Refuses {
    Refuses() { throw std::runtime_error("refused"); }
  };
  EXPECT_THROW(CCountedPtr<Refuses>::Make(), std::runtime_error);
}

TEST(CountedPtrConcurrent, CopiesReleasedOnManyThreads) {
  int deaths = 0;
  {
    CCountedPtr<Tracked> root(new Tracked(&deaths));
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([root] {
        for (int i = 0; i < 1000; ++i) {
          CCountedPtr<Tracked> copy(root);
        }
      });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(1u, root.UseCount());
  }
  EXPECT_EQ(1, deaths);
}

TEST(CritSecConcurrent, TryLockFailsWhileHeldElsewhere) {
  CCritSec cs;
  cs.Lock();
  DWORD other = 2;
  std::thread([&] { other = cs.TryLock(); }).join();
  EXPECT_EQ(0u, other);
  cs.Unlock();
  std::thread([&] {
    other = cs.TryLock();
    cs.Unlock();
  }).join();
  EXPECT_EQ(1u, other);
}

TEST(CritSec, UnlockWithoutLockDoesNothing) {
  CCritSec cs;
  cs.Unlock();
  EXPECT_EQ(0u, cs.IsLocked());
  EXPECT_EQ(0u, cs.InitWithSpinCount(-5));
  EXPECT_EQ(1u, cs.TryLock());
  cs.Unlock();
}

TEST(CiString, ComparesAndSearchesWithoutCase) {
  EXPECT_EQ(ci_string("ABC"), ci_string("abc"));
  EXPECT_EQ(5u, ci_string("file.EXT").find("Ext"));
  EXPECT_TRUE(ci_string("a") < ci_string("B"));
  // Bytes above 127 match only themselves.
  EXPECT_NE(ci_string("\xC4"), ci_string("\xE4"));
}

// The quick search answers exactly as the string's own search, also for
// characters that differ from a letter only in bit 5 ("@" and "`", "[" and "{").
TEST(CiString, QuickSearchAgreesWithTheStringsSearch) {
  const char alphabet[] = {'a', 'A', 'b', 'B', '@', '`', '[', '{', ';', '=', '\xC4', '\xE4', '\0'};
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int round = 0; round < 20000; ++round) {
    std::string text(next() % 40, 'a');  // several words of the eight-byte search
    std::string what(next() % 4, 'a');
    for (char& c : text) c = alphabet[(next() >> 8) % sizeof alphabet];
    for (char& c : what) c = alphabet[(next() >> 8) % sizeof alphabet];
    const ci_string_view t(text.data(), text.size());
    const ci_string_view w(what.data(), what.size());
    const size_t from = next() % 42;
    ASSERT_EQ(t.find(w, from), FindNoCase(t, w, from)) << text << " / " << what << " from " << from;
  }
}

}  // namespace
