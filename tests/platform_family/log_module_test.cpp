#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <regex>
#include <string>
#include <thread>

#include "common/crit_sec.h"
#include "common/debug_log.h"
#include "platform/local_time.h"
#include "platform/shared_memory.h"

namespace {

using GetProductCSFn = int (*)(const char*, CSync**, int);
using GetGeneralCSFn = int (*)(CSync**, int);

struct LogModule {
  LogModule() {
    handle = dlopen(HX_LOG_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) {
      product = reinterpret_cast<GetProductCSFn>(dlsym(handle, "GetProductCS"));
      general = reinterpret_cast<GetGeneralCSFn>(dlsym(handle, "GetGeneralCS"));
    }
  }
  ~LogModule() {
    if (handle != nullptr) dlclose(handle);
  }
  void* handle = nullptr;
  GetProductCSFn product = nullptr;
  GetGeneralCSFn general = nullptr;
};

std::string UniqueName(const char* what) { return std::string(what) + "-" + std::to_string(getpid()); }

void RemoveLock(const std::string& name) {
  CSharedMemory::Remove(("Global\\QLLogModule." + name).c_str());
}

TEST(LogModule, HandsOutOneLockPerName) {
  LogModule m;
  ASSERT_NE(m.product, nullptr);
  ASSERT_NE(m.general, nullptr);
  const std::string a = UniqueName("A");
  const std::string b = UniqueName("B");
  CSync* first = nullptr;
  CSync* again = nullptr;
  CSync* other = nullptr;
  CSync* common = nullptr;
  EXPECT_EQ(m.product(a.c_str(), &first, 1), 1);
  EXPECT_EQ(m.product(a.c_str(), &again, 0), 1);
  EXPECT_EQ(m.product(b.c_str(), &other, 1), 1);
  EXPECT_EQ(m.general(&common, 1), 1);
  EXPECT_EQ(first, again);
  EXPECT_NE(first, other);
  EXPECT_NE(first, common);
  CSync* untouched = nullptr;
  EXPECT_EQ(m.product(nullptr, &untouched, 1), 0);
  EXPECT_EQ(m.product("", &untouched, 1), 0);
  EXPECT_EQ(untouched, nullptr);
  first->Lock();
  EXPECT_EQ(first->TryLock(), 0u);
  first->Unlock();
  EXPECT_EQ(first->TryLock(), 1u);
  first->Unlock();
  RemoveLock("Product." + a);
  RemoveLock("Product." + b);
}

// Another process that holds the lock keeps this one out; one that dies
// holding it does not.
TEST(LogModule, LockIsSharedAcrossProcesses) {
  const std::string name = UniqueName("Cross");
  int ready[2];
  int release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    LogModule m;
    CSync* lock = nullptr;
    if (m.product == nullptr || m.product(name.c_str(), &lock, 1) != 1) _exit(2);
    lock->Lock();
    char c = 'r';
    if (write(ready[1], &c, 1) != 1) _exit(3);
    if (read(release[0], &c, 1) != 1) _exit(4);
    if (c == 'd') _exit(0);  // dies holding the lock
    lock->Unlock();
    _exit(0);
  }
  LogModule m;
  CSync* lock = nullptr;
  ASSERT_EQ(m.product(name.c_str(), &lock, 1), 1);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(lock->TryLock(), 0u);
  c = 'd';
  ASSERT_EQ(write(release[1], &c, 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  lock->Lock();  // taken over from the dead holder
  lock->Unlock();
  RemoveLock("Product." + name);
}

// Two processes log into one shared-memory ring under the log module's
// common lock: every record arrives whole, none is lost or interleaved.
TEST(LogModule, TwoProcessesShareOneRing) {
  const std::string file = "hxring-" + std::to_string(getpid()) + ".log";
  const std::string section = "Global\\" + file;
  CSharedMemory::Remove(section.c_str());
  constexpr int kRecords = 400;
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    ASSERT_GE(children[p], 0);
    if (children[p] == 0) {
      LogModule m;
      CSync* lock = nullptr;
      if (m.general == nullptr || m.general(&lock, 1) != 1) _exit(2);
      SetLogSinkLock(lock);
      SetLogFilePath(("/tmp/" + file).c_str());
      SetLogRecordTag("[P" + std::to_string(p) + "] ");
      SetLogRingSize(1 << 20);
      SetLogSink(&SharedMemoryLogSink);
      SetLogMode(LOG_MODE_WRITE);
      for (int i = 0; i < kRecords; ++i) DebugLog("record %d of process %d padding-padding-padding", i, p);
      SetLogMode(LOG_MODE_OFF);
      SetLogSinkLock(nullptr);
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  CSharedMemory ring;
  bool created = false;
  ASSERT_TRUE(ring.CreateOrOpen(section.c_str(), 1 << 20, created));
  ASSERT_FALSE(created);
  const size_t size = static_cast<size_t>(ring.Size());
  ASSERT_EQ(size, static_cast<size_t>(1 << 20));
  const char* view = static_cast<const char*>(ring.MapView(size));
  ASSERT_NE(view, nullptr);
  int writePos = 0;
  int highWater = 0;
  ASSERT_EQ(std::sscanf(std::string(view, 99).c_str(), "%d, %d", &writePos, &highWater), 2);
  EXPECT_EQ(writePos, highWater);
  const std::string body(view + 100, static_cast<size_t>(writePos - 100));
  const std::regex record(
      "\r\n\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} [ 0-9A-F]{4,} \\[P(\\d)\\] record (\\d+) of process "
      "(\\d) padding-padding-padding ");
  std::map<std::pair<int, int>, int> seen;
  size_t consumed = 0;
  for (auto it = std::sregex_iterator(body.begin(), body.end(), record); it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    EXPECT_EQ(static_cast<size_t>(m.position(0)), consumed) << "bytes between records";
    consumed = static_cast<size_t>(m.position(0) + m.length(0));
    EXPECT_EQ(m[1].str(), m[3].str());
    ++seen[{std::stoi(m[3].str()), std::stoi(m[2].str())}];
  }
  EXPECT_EQ(consumed, body.size());
  EXPECT_EQ(seen.size(), static_cast<size_t>(2 * kRecords));
  for (const auto& [key, count] : seen) EXPECT_EQ(count, 1);
  CSharedMemory::UnmapView(const_cast<char*>(view), size);
  ring.Close();
  CSharedMemory::Remove(section.c_str());
}

// Inside the sink, under the lock: each record holds the lock a while, so a
// stop lands on a holder about as often as not.
void SlowClock(SYSTEMTIME* st) {
  std::this_thread::sleep_for(std::chrono::microseconds(100));
  *st = SYSTEMTIME{2026, 12, 1, 7, 8, 9, 10, 11};
}

// Two busy processes log into one ring under the log module's lock, and one
// of them is stopped five times for longer than a log line should ever wait:
// the lock stays the one object its name stands for, and every record of
// both arrives whole, once, in order.
TEST(LogModule, BusyWorkersStoppedFiveTimesKeepEveryRecordAndOneLock) {
  const std::string name = UniqueName("Paused");
  const std::string file = "hxpaused-" + std::to_string(getpid()) + ".log";
  const std::string section = "Global\\" + file;
  CSharedMemory::Remove(section.c_str());
  struct Shared {
    std::atomic<int> stop;
    std::atomic<int> written[2];
  };
  auto* shared = static_cast<Shared*>(
      mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(MAP_FAILED, static_cast<void*>(shared));
  new (shared) Shared{};
  LogModule m;
  CSync* mine = nullptr;
  ASSERT_EQ(m.product(name.c_str(), &mine, 1), 1);
  struct stat before{};
  ASSERT_EQ(0, stat(ShmPathFromWindowsName(("Global\\QLLogModule.Product." + name).c_str()).c_str(), &before));

  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    ASSERT_GE(children[p], 0);
    if (children[p] == 0) {
      LogModule own;
      CSync* lock = nullptr;
      if (own.product == nullptr || own.product(name.c_str(), &lock, 1) != 1) _exit(2);
      SetLogSinkLock(lock);
      SetLogFilePath(("/tmp/" + file).c_str());
      SetLogRingSize(8 << 20);
      SetLogClock(&SlowClock);
      SetLogSink(&SharedMemoryLogSink);
      SetLogMode(LOG_MODE_WRITE);
      for (int i = 0; shared->stop.load() == 0; ++i) {
        DebugLog("child %d line %d", p, i);
        shared->written[p].store(i + 1);
      }
      SetLogMode(LOG_MODE_OFF);
      SetLogSinkLock(nullptr);
      _exit(0);
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  for (int pause = 0; pause < 5; ++pause) {
    kill(children[0], SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    kill(children[0], SIGCONT);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  shared->stop.store(1);
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  struct stat after{};
  ASSERT_EQ(0, stat(ShmPathFromWindowsName(("Global\\QLLogModule.Product." + name).c_str()).c_str(), &after));
  EXPECT_EQ(before.st_ino, after.st_ino) << "the lock was made anew";

  CSharedMemory ring;
  bool created = false;
  ASSERT_TRUE(ring.CreateOrOpen(section.c_str(), 0, created));
  const size_t size = static_cast<size_t>(ring.Size());
  const char* view = static_cast<const char*>(ring.MapView(size));
  ASSERT_NE(view, nullptr);
  int writePos = 0;
  int highWater = 0;
  ASSERT_EQ(std::sscanf(std::string(view, 99).c_str(), "%d, %d", &writePos, &highWater), 2);
  EXPECT_EQ(writePos, highWater);
  const std::string body(view + 100, static_cast<size_t>(writePos - 100));
  int next[2] = {0, 0};
  int stray = 0;
  for (size_t at = 0; at < body.size();) {
    size_t end = body.find("\r\n", at + 2);
    if (end == std::string::npos) end = body.size();
    int p = -1;
    int line = -1;
    char tail = 0;
    const std::string record = body.substr(at, end - at);
    if (std::sscanf(record.c_str(), "\r\n2026/12/07 08:09:10.011 %*X child %d line %d%c", &p, &line, &tail) == 3 &&
        (p == 0 || p == 1) && tail == ' ' && line == next[p]) {
      ++next[p];
    } else {
      ++stray;
    }
    at = end;
  }
  EXPECT_EQ(0, stray);
  EXPECT_GT(shared->written[0].load(), 0);
  EXPECT_EQ(next[0], shared->written[0].load());
  EXPECT_EQ(next[1], shared->written[1].load());
  CSharedMemory::UnmapView(const_cast<char*>(view), size);
  ring.Close();
  CSharedMemory::Remove(section.c_str());
  RemoveLock("Product." + name);
  munmap(shared, sizeof(Shared));
}

}  // namespace
