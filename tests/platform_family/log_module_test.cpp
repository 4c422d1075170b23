#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <regex>
#include <string>

#include "common/crit_sec.h"
#include "common/debug_log.h"
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

}  // namespace
