// The watchdog behind test_bound.h, linked into every test program: a gtest
// listener stamps each test's start, and a thread of its own ends the program
// when a test overruns. It keeps its state in atomics only, so that a child
// forked by a test (which has no watchdog thread) never finds a lock held.
#include "test_bound.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace testbound {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 4;
#else
constexpr int kSlowdown = 1;
#endif

using Clock = std::chrono::steady_clock;

std::atomic<int64_t> g_deadline{0};  // Clock ticks; 0 while no test runs
std::atomic<int64_t> g_start{0};
std::atomic<const testing::TestInfo*> g_test{nullptr};

int64_t Now() { return Clock::now().time_since_epoch().count(); }

int64_t Ticks(std::chrono::seconds bound) {
  return std::chrono::duration_cast<Clock::duration>(bound * kSlowdown).count();
}

[[noreturn]] void EndOverrunningTest(const testing::TestInfo* test) {
  std::fprintf(stderr, "\n[  BOUND   ] %s.%s is still running at its bound: the test program ends here.\n",
               test != nullptr ? test->test_suite_name() : "?", test != nullptr ? test->name() : "?");
  std::fflush(nullptr);
  std::_Exit(1);
}

std::atomic<bool> g_watching{false};

void Watch() {
  g_watching.store(true, std::memory_order_release);
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int64_t deadline = g_deadline.load(std::memory_order_acquire);
    if (deadline != 0 && Now() > deadline) EndOverrunningTest(g_test.load(std::memory_order_acquire));
  }
}

class BoundListener : public testing::EmptyTestEventListener {
  // The thread is running before the first test: a test that forks while the
  // thread is still being set up (its allocator state half made, under the
  // sanitizers) would leave the child waiting on a lock nobody holds.
  void OnTestProgramStart(const testing::UnitTest&) override {
    std::thread(&Watch).detach();
    while (!g_watching.load(std::memory_order_acquire)) std::this_thread::yield();
  }
  void OnTestStart(const testing::TestInfo& test) override {
    g_test.store(&test, std::memory_order_release);
    g_start.store(Now(), std::memory_order_release);
    g_deadline.store(Now() + Ticks(kDefaultBound), std::memory_order_release);
  }
  void OnTestEnd(const testing::TestInfo&) override { g_deadline.store(0, std::memory_order_release); }
};

// Registered before main runs; gtest owns the listener from then on.
const bool g_registered = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new BoundListener);
  return true;
}();

}  // namespace

void SetCurrentTestBound(std::chrono::seconds bound) {
  g_deadline.store(g_start.load(std::memory_order_acquire) + Ticks(bound), std::memory_order_release);
}

}  // namespace testbound
