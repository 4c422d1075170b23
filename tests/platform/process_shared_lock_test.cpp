#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
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

// A child that takes the lock named `name` and holds it until it is killed;
// -1 when it could not be started or did not take the lock.
pid_t HolderForGood(const std::string& name) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t pid = ForkDyingWithParent();
  if (pid == 0) {
    CProcessSharedLock mine(name.c_str());
    mine.Lock();
    char c = 'r';
    if (write(ready[1], &c, 1) != 1) _exit(3);
    pause();
    _exit(0);
  }
  char c = 0;
  const bool held = pid > 0 && read(ready[0], &c, 1) == 1;
  for (int fd : ready) close(fd);
  return held ? pid : -1;
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

// Any user can fill /dev/shm: a lock made there then is refused (the log
// module hands out none and says so), where touching its unbacked page would
// kill the process at start-up. One made before keeps working.
TEST(ProcessSharedLock, FullDevShmRefusesANewLockAndKeepsAnOldOne) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a private /dev/shm";
  testbound::SetCurrentTestBound(kLockTestBound);
  const pid_t pid = ForkDyingWithParent();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/dev/shm", "tmpfs", 0, "size=256k,mode=1777") != 0) {
      _exit(2);
    }
    CProcessSharedLock old("made_before");
    std::ofstream("/dev/shm/fill") << std::string(1 << 20, 'f');
    CProcessSharedLock made("made_when_full");
    old.Lock();
    _exit(old.IsLocked() == 1 && !made.IsValid() ? 0 : 3);
  }
  WaitForChild(pid);
}

ino_t InodeOf(const std::string& name) {
  struct stat st{};
  return stat(ShmPathFromWindowsName(name.c_str()).c_str(), &st) == 0 ? st.st_ino : 0;
}

// A holder that lives is waited for, even stopped (a debugger, swap, a
// throttled container), and never replaced: a second lock under the name
// would let two writers into the log for good. One that never lets go costs
// a single bounded wait, then brief ones, until it dies and is taken over.
// A mutex whose bytes were overwritten is set up again in the same place.
TEST(ProcessSharedLock, LiveHolderIsWaitedForAndTheLockNeverReplaced) {
  testbound::SetCurrentTestBound(kLockTestBound);
  const std::string name = UniqueName("stuck");
  int ready[2];
  int release[2];
  ASSERT_EQ(0, pipe(ready));
  ASSERT_EQ(0, pipe(release));
  pid_t pid = ForkDyingWithParent();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    CProcessSharedLock mine(name.c_str());
    char c = 'r';
    for (;;) {  // holds it until the parent's word, takes it again at the next
      mine.Lock();
      if (write(ready[1], &c, 1) != 1) _exit(3);
      if (read(release[0], &c, 1) != 1) _exit(4);
      mine.Unlock();
      if (read(release[0], &c, 1) != 1) _exit(5);
    }
  }
  char c = 0;
  ASSERT_EQ(1, read(ready[0], &c, 1));
  const ino_t inode = InodeOf(name);
  ASSERT_NE(0u, inode);
  {
    CProcessSharedLock lock(name.c_str());
    ASSERT_TRUE(lock.IsValid());
    ASSERT_EQ(0, kill(pid, SIGSTOP));
    std::thread resume([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(800));
      kill(pid, SIGCONT);
      char w = 'w';
      if (write(release[1], &w, 1) != 1) return;
    });
    const auto start = std::chrono::steady_clock::now();
    lock.Lock();
    resume.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(700));
    EXPECT_EQ(1u, lock.IsLocked());
    lock.Unlock();
  }
  ASSERT_EQ(1, write(release[1], &c, 1));
  ASSERT_EQ(1, read(ready[0], &c, 1));  // the child holds it again, for good
  {
    CProcessSharedLock lock(name.c_str(), 300);
    auto start = std::chrono::steady_clock::now();
    lock.Lock();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_EQ(0u, lock.IsLocked());
    lock.Unlock();
    start = std::chrono::steady_clock::now();
    for (int line = 0; line < 20; ++line) {  // given up on once: no wait while it still holds
      lock.Lock();
      EXPECT_EQ(0u, lock.IsLocked());
      lock.Unlock();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_EQ(inode, InodeOf(name));
    CProcessSharedLock other(name.c_str());
    EXPECT_EQ(0u, other.TryLock());  // still the child's

    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    lock.Lock();  // taken over from the dead holder
    EXPECT_EQ(1u, lock.IsLocked());
    lock.Unlock();
  }

  // Overwritten: its bytes are garbage.
  {
    CProcessSharedLock lock(name.c_str(), 1000);
    CSharedMemory raw;
    bool created = false;
    ASSERT_TRUE(raw.CreateOrOpen(name.c_str(), 0, created));
    auto* bytes = static_cast<unsigned char*>(raw.MapView(raw.Size()));
    ASSERT_NE(nullptr, bytes);
    for (int fill : {0x5A, 0x01}) {  // a kind no mutex has; a word held by no thread
      std::memset(bytes + 8, fill, 40);  // the state word stays "ready"
      lock.Lock();
      EXPECT_EQ(1u, lock.IsLocked()) << fill;
      lock.Unlock();
      EXPECT_EQ(1u, lock.TryLock()) << fill;
      lock.Unlock();
    }
    CSharedMemory::UnmapView(bytes, raw.Size());
  }
  EXPECT_EQ(inode, InodeOf(name));
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
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

// Threads of one process give up together on a holder that does not let go
// (once each, then briefly), and take the lock over together when it dies.
TEST(ProcessSharedLockConcurrent, ThreadsGiveUpOnAStuckHolderAndTakeOverWhenItDies) {
  testbound::SetCurrentTestBound(kLockTestBound);
  const std::string name = UniqueName("stuckthreads");
  const pid_t pid = HolderForGood(name);
  ASSERT_GT(pid, 0);
  CProcessSharedLock lock(name.c_str(), 200);
  ASSERT_TRUE(lock.IsValid());
  std::atomic<int> taken{0};
  long counter = 0;
  const auto run = [&](int rounds) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < rounds; ++i) {
          lock.Lock();
          if (lock.IsLocked() != 0) {
            ++counter;
            ++taken;
          }
          lock.Unlock();
        }
      });
    }
    for (std::thread& th : threads) th.join();
  };
  run(3);
  EXPECT_EQ(0, taken.load());
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  run(2000);
  EXPECT_EQ(8000, taken.load());
  EXPECT_EQ(8000, counter);
  CProcessSharedLock::Remove(name.c_str());
}

}  // namespace

namespace {

// The lock's mutex as another process left it, reached through a mapping of
// the test's own (it lies after the segment's 8-byte state word).
pthread_mutex_t* RawMutex(CSharedMemory& raw, const std::string& name) {
  bool created = false;
  if (!raw.CreateOrOpen(name.c_str(), 0, created)) return nullptr;
  auto* bytes = static_cast<unsigned char*>(raw.MapView(raw.Size()));
  return bytes != nullptr ? reinterpret_cast<pthread_mutex_t*>(bytes + 8) : nullptr;
}

// Holders that are gone, or a mutex left unrecoverable, cost one bounded
// wait, not the wait limit at every line; a second holder that stalls after
// the first was given up on costs a brief wait, not the full limit again.
TEST(ProcessSharedLock, BrokenAndStalledHoldersCostABoundedWait) {
  testbound::SetCurrentTestBound(kLockTestBound);
  const std::string name = UniqueName("bounded");
  CProcessSharedLock lock(name.c_str(), 3000);
  ASSERT_TRUE(lock.IsValid());
  CSharedMemory raw;
  pthread_mutex_t* mutex = RawMutex(raw, name);
  ASSERT_NE(nullptr, mutex);

  // The lock word names a thread that ended (a word written over): the
  // holder is judged dead and the mutex set up again.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  reinterpret_cast<std::atomic<int>*>(mutex)->store(gone);
  auto start = std::chrono::steady_clock::now();
  lock.Lock();
  EXPECT_EQ(1u, lock.IsLocked());
  lock.Unlock();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));

  // Its holder died, and the next one let go without making it consistent:
  // no thread can take it any more until it is set up again.
  const pid_t died = ForkDyingWithParent();
  if (died == 0) {
    pthread_mutex_lock(mutex);
    _exit(0);
  }
  WaitForChild(died);
  ASSERT_EQ(EOWNERDEAD, pthread_mutex_lock(mutex));
  pthread_mutex_unlock(mutex);
  start = std::chrono::steady_clock::now();
  lock.Lock();
  EXPECT_EQ(1u, lock.IsLocked());
  lock.Unlock();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));

  // One holder is given up on after the limit, then dies; the next holder
  // stalls too.
  const pid_t first = HolderForGood(name);
  ASSERT_GT(first, 0);
  lock.Lock();
  EXPECT_EQ(0u, lock.IsLocked());
  lock.Unlock();
  kill(first, SIGKILL);
  waitpid(first, nullptr, 0);
  const pid_t second = HolderForGood(name);
  ASSERT_GT(second, 0);
  start = std::chrono::steady_clock::now();
  lock.Lock();
  EXPECT_EQ(0u, lock.IsLocked());
  lock.Unlock();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  kill(second, SIGKILL);
  waitpid(second, nullptr, 0);
  CSharedMemory::UnmapView(reinterpret_cast<unsigned char*>(mutex) - 8, raw.Size());
  CProcessSharedLock::Remove(name.c_str());
}

// Another program cuts the segment (": > /dev/shm/...") while threads take
// and let go of the lock: the process lives on, the lock keeps its name and
// serialises again. (The thread checker sees the mutex set up again in
// place while a thread held it, which is what a cut does.)
TEST(ProcessSharedLock, ACutOfTheSegmentWhileThreadsUseItKillsNone) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a cut sets the mutex up again under its holders";
#endif
  testbound::SetCurrentTestBound(kLockTestBound);
  const std::string name = UniqueName("cut");
  CProcessSharedLock lock(name.c_str(), 1000);
  ASSERT_TRUE(lock.IsValid());
  const ino_t inode = InodeOf(name);
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      while (!stop.load()) {
        lock.Lock();
        lock.Unlock();
      }
    });
  }
  for (int cut = 0; cut < 50; ++cut) {
    ASSERT_EQ(0, truncate(ShmPathFromWindowsName(name.c_str()).c_str(), 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  stop = true;
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(inode, InodeOf(name));
  long counter = 0;
  threads.clear();
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        lock.Lock();
        if (lock.IsLocked() != 0) ++counter;
        lock.Unlock();
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(8000, counter);
  CProcessSharedLock::Remove(name.c_str());
}

}  // namespace

namespace {

void ExitSeven(int) { _exit(7); }

// A bus error elsewhere, or a SIGBUS sent, goes on as it did before the lock
// came: to the handler the process had, ignored where it was ignored, and
// otherwise ending the process.
TEST(ProcessSharedLock, OtherBusSignalsGoAsBefore) {
  testbound::SetCurrentTestBound(kLockTestBound);
  const std::string name = UniqueName("bus");
  struct Case {
    void (*previous)(int);
    bool realFault;
    int exitCode;  // -1: killed by SIGBUS
  } cases[] = {
      {SIG_IGN, false, 0},
      {SIG_DFL, false, -1},
      {SIG_DFL, true, -1},
      {&ExitSeven, false, 7},
      {&ExitSeven, true, 7},
  };
  for (const Case& c : cases) {
    const pid_t pid = ForkDyingWithParent();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      signal(SIGBUS, c.previous);
      CProcessSharedLock lock(name.c_str());
      if (!lock.IsValid()) _exit(3);
      if (c.realFault) {
        char path[] = "/tmp/hxlocktest_busXXXXXX";
        const int fd = mkstemp(path);
        unlink(path);
        auto* page = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
        if (page == MAP_FAILED) _exit(3);
        (void)page[0];
      } else {
        kill(getpid(), SIGBUS);
      }
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    if (c.exitCode < 0) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS) << status;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.exitCode) << status;
    }
  }
  CProcessSharedLock::Remove(name.c_str());
}

}  // namespace
