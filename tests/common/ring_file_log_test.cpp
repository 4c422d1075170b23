#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/process_shared_lock.h"

#include "common/debug_log.h"
#include "common/event_log.h"
#include "common/file_utils.h"
#include "log_test_support.h"
#include "platform/event_source.h"
#include "platform/shared_memory.h"

namespace {

class WrapAroundFile : public logtest::LogTest {
 protected:
  void SetUp() override {
    LogTest::SetUp();
    SetLogSink(&RingFileLogSink);
  }
  static std::string Record(const std::string& text) { return logtest::ExpectedPrefix() + text; }
};

TEST_F(WrapAroundFile, TextsWaitForTheBatchThresholdThenStartAtOffset100) {
  SetLogBatchThreshold(1000);
  const std::string text(100, 'a');
  const size_t record = Record(text).size();
  // Written when batch + text + 259 reaches the threshold.
  size_t batched = 0;
  int calls = 0;
  while (batched + text.size() + 259 < 1000) {
    DebugLog("%s", text.c_str());
    batched += record;
    ++calls;
    ASSERT_EQ("", logtest::ReadFile(m_path)) << calls;  // created, still empty
  }
  ASSERT_TRUE(FileExists(m_path.c_str()));
  DebugLog("%s", text.c_str());
  ++calls;

  std::string expected(100, '\0');
  for (int i = 0; i < calls; ++i) expected += Record(text);
  EXPECT_EQ(expected, logtest::ReadFile(m_path));
}

TEST_F(WrapAroundFile, WritingResumesAfterWrapPositionAtRingSize) {
  SetLogBatchThreshold(0);  // every text is written at once
  SetLogWrapPosition(300);
  SetLogRingSize(1200);
  std::string file;
  long long pos = 0;
  std::string keptBelowWrap;
  int wraps = 0;
  for (int i = 0; i < 30; ++i) {
    const std::string text(100, static_cast<char>('a' + i % 26));
    if (pos == 0) {
      pos = 100;
    } else if (pos >= 1200) {
      if (wraps++ == 0) keptBelowWrap = logtest::ReadFile(m_path).substr(0, 301);
      pos = 301;
    }
    DebugLog("%s", text.c_str());
    const std::string record = Record(text);
    const std::string now = logtest::ReadFile(m_path);
    ASSERT_EQ(record, now.substr(pos, record.size())) << i;
    pos += static_cast<long long>(record.size());
    // The file passes the ring size by at most one record.
    EXPECT_LE(now.size(), 1200 + record.size());
  }
  ASSERT_GE(wraps, 2);
  EXPECT_EQ(keptBelowWrap, logtest::ReadFile(m_path).substr(0, 301));
}

TEST_F(WrapAroundFile, PendingBatchIsWrittenAtFlushWithoutTouchingTheFirstBytes) {
  SetLogBatchThreshold(1 << 20);
  DebugLog("one");
  DebugLog("two");
  EXPECT_EQ("", logtest::ReadFile(m_path));
  FlushLog(true);
  EXPECT_EQ(std::string(100, '\0') + Record("one") + Record("two"), logtest::ReadFile(m_path));

  // A second run reopens the file and goes on where the last batch ended:
  // another worker's records are never written over.
  DebugLog("three");
  FlushLog(true);
  EXPECT_EQ(std::string(100, '\0') + Record("one") + Record("two") + Record("three"), logtest::ReadFile(m_path));
}

TEST_F(WrapAroundFile, NewPathTakesEffectAtOnceAndOldBatchIsKept) {
  SetLogBatchThreshold(1 << 20);
  DebugLog("old");
  const std::string newPath = m_dir + "/renamed.log";
  SetLogFilePath(newPath.c_str());
  EXPECT_EQ(std::string(100, '\0') + Record("old"), logtest::ReadFile(m_path));
  DebugLog("new");
  FlushLog(true);
  EXPECT_EQ(std::string(100, '\0') + Record("new"), logtest::ReadFile(newPath));
}

TEST_F(WrapAroundFile, SilentWithoutLockOrRoom) {
  SetLogBatchThreshold(0);
  SetLogSinkLock(nullptr);
  DebugLog("no lock");
  EXPECT_FALSE(FileExists(m_path.c_str()));
  SetLogSinkLock(&m_lock);
  SetLogRingSize(20480);  // not larger than the default wrap position
  DebugLog("too small");
  EXPECT_FALSE(FileExists(m_path.c_str()));
  SetLogRingSize(kDefaultLogRingSize);
  DebugLog("written");
  EXPECT_TRUE(FileExists(m_path.c_str()));
}

// Deleted while open, the file would take every later batch out of sight
// (and keep its space): the next batch goes into a file made again.
TEST_F(WrapAroundFile, AFileDeletedWhileOpenIsMadeAgain) {
  SetLogBatchThreshold(0);
  DebugLog("one");
  ASSERT_EQ(0, unlink(m_path.c_str()));
  DebugLog("two");
  EXPECT_EQ(std::string(100, '\0') + Record("two"), logtest::ReadFile(m_path));
}

// Workers of one install share the file: each writes its batches where the
// last batch of any of them ended, none over another's.
TEST_F(WrapAroundFile, TwoWorkersKeepEveryRecordOfBoth) {
  const std::string lockName = "hxlogtest_wrap_" + std::to_string(getpid());
  CProcessSharedLock lock(lockName.c_str());
  ASSERT_TRUE(lock.IsValid());
  SetLogSinkLock(&lock);
  SetLogBatchThreshold(4096);
  SetLogRingSize(64 << 20);
  // Both flush their last batches at once, while this process holds the
  // lock: the flushes wait for it, and write one after the other.
  int ready[2];
  int go[2];
  ASSERT_EQ(0, pipe(ready));
  ASSERT_EQ(0, pipe(go));
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      for (int i = 0; i < 3000; ++i) DebugLog("worker %d line %d", c, i);
      char byte = 'r';
      if (write(ready[1], &byte, 1) != 1 || read(go[0], &byte, 1) != 1) _exit(3);
      FlushLog(true);
      _exit(0);
    }
  }
  char bytes[2];
  ASSERT_EQ(1, read(ready[0], bytes, 1));
  ASSERT_EQ(1, read(ready[0], bytes, 1));
  lock.Lock();
  const std::string before = logtest::ReadFile(m_path);
  ASSERT_EQ(2, write(go[1], "gg", 2));
  usleep(100000);
  EXPECT_EQ(before, logtest::ReadFile(m_path));
  lock.Unlock();
  for (int fd : {ready[0], ready[1], go[0], go[1]}) close(fd);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
  }
  SetLogSinkLock(nullptr);
  CProcessSharedLock::Remove(lockName.c_str());
  const std::string file = logtest::ReadFile(m_path);
  for (int c = 0; c < 2; ++c) {
    size_t records = 0;
    const std::string worker = "worker " + std::to_string(c) + " line ";
    for (size_t at = file.find(worker); at != std::string::npos; at = file.find(worker, at + 1)) ++records;
    EXPECT_EQ(3000u, records) << c;
  }
  EXPECT_EQ(6000u, static_cast<size_t>(std::count(file.begin(), file.end(), '\n')));
}

// Deleted a moment before the process ends: the last batch goes to the file
// under the name, not into the deleted one.
TEST_F(WrapAroundFile, TheLastBatchGoesToTheFileUnderTheName) {
  SetLogBatchThreshold(0);
  DebugLog("one");
  SetLogBatchThreshold(1 << 20);
  DebugLog("two");
  ASSERT_EQ(0, unlink(m_path.c_str()));
  FlushLog(true);
  EXPECT_EQ(std::string(100, '\0') + Record("two"), logtest::ReadFile(m_path));
}

// A volume smaller than the file's size: the file wraps around at the
// volume's end, so the newest lines are kept rather than dropped for good,
// and that is said once.
TEST_F(WrapAroundFile, AFullVolumeEndsTheFileWhereItWrapsAround) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a volume of its own";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", m_dir.c_str(), "tmpfs", 0, "size=256k,mode=0755") != 0) {
      _exit(2);
    }
    SetEventReportFile(m_dir + ".events");
    CEventLog eventLog;
    eventLog.Register("Quenlith Pellora");
    SetModuleEventLog(&eventLog);
    SetLogBatchThreshold(4096);
    for (int i = 0; i < 2000; ++i) DebugLog("line %04d %s", i, std::string(300, 'w').c_str());
    FlushLog(true);
    SetModuleEventLog(nullptr);
    const bool newest = logtest::ReadFile(m_path).find("line 1999 ") != std::string::npos;
    const std::string said = logtest::ReadFile(m_dir + ".events");
    const bool once = said.find("fills its volume at 256 KB") != std::string::npos &&
                      said.find("fills its volume", said.find("fills its volume") + 1) == std::string::npos &&
                      said.find("is not written") == std::string::npos;
    std::printf("newest %d, said once %d: %s\n", newest, once, said.c_str());
    _exit(newest && once ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  std::remove((m_dir + ".events").c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// Where the file's writers stand cannot be shared (another user made its
// object first): the file is still written, and the administrator is told
// once that workers may write over each other's batches.
TEST_F(WrapAroundFile, APositionThatCannotBeSharedIsSaid) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to plant another user's object";
  std::ofstream(m_path).close();
  const std::string position = ShmPathFromWindowsName(LogFilePositionName(m_path.c_str()).c_str());
  std::ofstream(position).close();
  ASSERT_EQ(0, chown(position.c_str(), 65534, 65534));
  SetEventReportFile(m_dir + "/events.txt");
  CEventLog eventLog;
  ASSERT_TRUE(eventLog.Register("Quenlith Pellora"));
  SetModuleEventLog(&eventLog);
  SetLogBatchThreshold(0);
  DebugLog("one");
  DebugLog("two");
  SetModuleEventLog(nullptr);
  SetEventReportFile("");
  unlink(position.c_str());
  EXPECT_EQ(std::string(100, '\0') + Record("one") + Record("two"), logtest::ReadFile(m_path));
  const std::string events = logtest::ReadFile(m_dir + "/events.txt");
  EXPECT_NE(std::string::npos, events.find("other worker processes writing the file may write over them")) << events;
  EXPECT_EQ(1, std::count(events.begin(), events.end(), '\n')) << events;
}

}  // namespace
