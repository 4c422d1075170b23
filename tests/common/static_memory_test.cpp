#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "common/static_memory.h"

namespace {

std::atomic<int> g_built{0};

struct SlowToBuild {
  SlowToBuild() {
    ++g_built;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    value = 42;
  }
  int value = 0;
};

TEST(StaticMemoryConcurrent, FirstAccessOnManyThreadsBuildsOnce) {
  std::vector<SlowToBuild*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&seen, t] { seen[t] = Mem_Manager::Static_memory<SlowToBuild>::instance(); });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(1, g_built.load());
  for (SlowToBuild* p : seen) {
    ASSERT_EQ(seen[0], p);
    EXPECT_EQ(42, p->value);
  }
}

// Its destructor reaches for the instance again, as members of the settings
// object may while it is torn down at exit.
struct ReachesBackAtExit {
  ~ReachesBackAtExit() { Mem_Manager::Static_memory<ReachesBackAtExit>::instance(); }
};

TEST(StaticMemory, DestructorAtExitMayReachTheInstance) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(5);  // a hang at exit ends the child by a signal
    Mem_Manager::Static_memory<ReachesBackAtExit>::instance();
    std::exit(0);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The instance outlives everything destroyed at exit: a request thread or a
// late destructor (a host kept in a global shuts the module down then) that
// reaches it finds it whole, and it is never built anew.
struct CountsBuilds {
  CountsBuilds() { ++builds; }
  ~CountsBuilds() { value = -1; }
  int value = 42;
  static inline int builds = 0;
};
struct ReachesInAfterExit {
  ~ReachesInAfterExit() {
    const CountsBuilds* p = Mem_Manager::Static_memory<CountsBuilds>::instance();
    if (p == nullptr || p->value != 42 || CountsBuilds::builds != 1) _exit(3);
  }
};

TEST(StaticMemory, InstanceOutlivesTheExit) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(5);  // a hang at exit ends the child by a signal
    static ReachesInAfterExit late;  // destroyed after everything built later
    Mem_Manager::Static_memory<CountsBuilds>::instance();
    std::exit(0);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
