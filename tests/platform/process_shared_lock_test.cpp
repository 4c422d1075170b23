#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/process_shared_lock.h"
#include "test_bound.h"

namespace {

std::string UniqueName(const char* what) {
  return std::string("hxlocktest_") + what + "_" + std::to_string(getpid());
}

// Each test here waits on other processes or threads for a lock whose own
// wait is bounded; a wait that does not end fails the test within this.
constexpr std::chrono::seconds kLockTestBound{10};

// A child that dies with the test program, which ends at a test's bound
// while a child may still hold a lock.
pid_t ForkDyingWithParent() {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0 && (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)) _exit(4);
  return pid;
}

void WaitForChild(pid_t pid) {
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(ProcessSharedLock, SerialisesProcessesThatOpenItByName) {
  testbound::SetCurrentTestBound(kLockTestBound);
  const std::string name = UniqueName("count");
  // An unguarded read-modify-write that loses updates without the lock.
  auto* counter = static_cast<volatile long*>(
      mmap(nullptr, sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(MAP_FAILED, static_cast<void*>(const_cast<long*>(counter)));
  *counter = 0;
  constexpr int kChildren = 4;
  constexpr int kRounds = 20000;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = ForkDyingWithParent();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      CProcessSharedLock lock(name.c_str());  // each child opens it itself
      if (!lock.IsValid()) _exit(2);
      for (int i = 0; i < kRounds; ++i) {
        lock.Lock();
        long v = *counter;
        *counter = v + 1;
        lock.Unlock();
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) WaitForChild(pid);
  EXPECT_EQ(kChildren * kRounds, *counter);
  munmap(const_cast<long*>(counter), sizeof(long));
  CProcessSharedLock::Remove(name.c_str());
}

TEST(ProcessSharedLock, HolderThatDiesDoesNotBlockTheOthers) {
  testbound::SetCurrentTestBound(kLockTestBound);
  const std::string name = UniqueName("dead");
  CProcessSharedLock lock(name.c_str());
  ASSERT_TRUE(lock.IsValid());
  int ready[2];
  int release[2];
  ASSERT_EQ(0, pipe(ready));
  ASSERT_EQ(0, pipe(release));
  pid_t pid = ForkDyingWithParent();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    CProcessSharedLock mine(name.c_str());
    mine.Lock();
    char c = 'r';
    if (write(ready[1], &c, 1) != 1) _exit(3);
    if (read(release[0], &c, 1) != 1) _exit(4);
    _exit(0);  // dies holding the lock
  }
  char c = 0;
  ASSERT_EQ(1, read(ready[0], &c, 1));
  EXPECT_EQ(0u, lock.TryLock());  // held by the child
  ASSERT_EQ(1, write(release[1], &c, 1));
  WaitForChild(pid);
  lock.Lock();  // taken over from the dead holder
  EXPECT_EQ(1u, lock.IsLocked());
  lock.Unlock();
  EXPECT_EQ(1u, lock.TryLock());
  lock.Unlock();
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
  CProcessSharedLock::Remove(name.c_str());
}

// A holder that is alive but never lets go, or a lock whose memory another
// process overwrote, costs one bounded wait (the caller goes without the
// lock); the lock is then made anew and works for every later caller.
TEST(ProcessSharedLock, StuckOrOverwrittenLockIsGivenUpAndMadeAnew) {
  testbound::SetCurrentTestBound(kLockTestBound);
  const std::string name = UniqueName("stuck");
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  pid_t pid = ForkDyingWithParent();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    CProcessSharedLock mine(name.c_str());
    mine.Lock();
    char c = 'r';
    if (write(ready[1], &c, 1) != 1) _exit(3);
    pause();  // holds it until killed
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(1, read(ready[0], &c, 1));
  {
    CProcessSharedLock lock(name.c_str());
    ASSERT_TRUE(lock.IsValid());
    const auto start = std::chrono::steady_clock::now();
    lock.Lock();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(0u, lock.IsLocked());
    lock.Unlock();
    lock.Lock();  // the lock made anew
    EXPECT_EQ(1u, lock.IsLocked());
    lock.Unlock();
    CProcessSharedLock other(name.c_str());  // later openers share the new one
    EXPECT_EQ(1u, other.TryLock());
    EXPECT_EQ(0u, lock.TryLock());
    other.Unlock();
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);

  // Overwritten: its bytes are garbage.
  {
    CProcessSharedLock lock(name.c_str());
    CSharedMemory raw;
    bool created = false;
    ASSERT_TRUE(raw.CreateOrOpen(name.c_str(), 0, created));
    auto* bytes = static_cast<unsigned char*>(raw.MapView(raw.Size()));
    ASSERT_NE(nullptr, bytes);
    std::memset(bytes + 4, 0x5A, raw.Size() - 4);  // the state word stays "ready"
    CSharedMemory::UnmapView(bytes, raw.Size());
    lock.Lock();
    EXPECT_EQ(0u, lock.IsLocked());
    lock.Unlock();
    lock.Lock();
    EXPECT_EQ(1u, lock.IsLocked());
    lock.Unlock();
  }
  for (int fd : {ready[0], ready[1]}) close(fd);
  CProcessSharedLock::Remove(name.c_str());
}

TEST(ProcessSharedLockConcurrent, ThreadsOfOneProcessShareOneLockObject) {
  testbound::SetCurrentTestBound(kLockTestBound);
  const std::string name = UniqueName("threads");
  CProcessSharedLock lock(name.c_str());
  ASSERT_TRUE(lock.IsValid());
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        lock.Lock();
        ++counter;
        lock.Unlock();
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(20000, counter);
  CProcessSharedLock::Remove(name.c_str());
}

}  // namespace
