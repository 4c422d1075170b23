#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <cstdio>
#include <thread>
#include <vector>

#include "common/debug_log.h"
#include "common/event_log.h"
#include "platform/event_source.h"
#include "log_test_support.h"

namespace {

constexpr int kThreads = 8;
constexpr int kLines = 300;

// Every record must come out whole: time, thread, one of the tags, text, in
// each thread's own order.
void CheckRecords(const std::vector<std::string>& records, const std::vector<std::string>& tags,
                  const std::string& tail) {
  std::map<int, int> next;
  for (const std::string& r : records) {
    std::string rest;
    ASSERT_TRUE(logtest::SplitTimePrefix(r, rest)) << r;
    bool matched = false;
    for (const std::string& tag : tags) {
      int thread = -1;
      int line = -1;
      if (rest.compare(0, tag.size(), tag) != 0) continue;
      if (std::sscanf(rest.c_str() + tag.size(), "thread %d line %d", &thread, &line) != 2) continue;
      if (rest != tag + "thread " + std::to_string(thread) + " line " + std::to_string(line) +
                      " abcdefghij" + tail) {
        continue;
      }
      EXPECT_EQ(next[thread]++, line);
      matched = true;
      break;
    }
    ASSERT_TRUE(matched) << r;
  }
  EXPECT_EQ(static_cast<size_t>(kThreads * kLines), records.size());
}

void LogFromThreads(const std::function<void()>& alongside) {
  std::atomic<bool> done{false};
  std::thread side([&] {
    while (!done.load()) alongside();
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) DebugLog("thread %d line %d %s", t, i, "abcdefghij");
    });
  }
  for (std::thread& th : threads) th.join();
  done.store(true);
  side.join();
}

using DebugLogConcurrent = logtest::LogTest;

TEST_F(DebugLogConcurrent, ManyThreadsWriteWholeRecordsIntoTheRing) {
  SetLogSink(&SharedMemoryLogSink);
  SetLogRingSize(4 << 20);
  // The tag changes under the writers; each record carries one whole tag.
  LogFromThreads([] {
    SetLogRecordTag("[A] ");
    SetLogRecordTag("[B] ");
    std::this_thread::yield();
  });
  const std::string ring = logtest::ReadRing(m_ringName);
  const logtest::RingHeader h = logtest::ParseRingHeader(ring);
  ASSERT_GT(h.writePos, 100);
  CheckRecords(logtest::SplitRecords(ring, 100, static_cast<size_t>(h.writePos)),
               {"[A] ", "[B] ", ""}, " ");
}

TEST_F(DebugLogConcurrent, ManyThreadsWriteWholeRecordsIntoTheWrapAroundFile) {
  SetLogSink(&RingFileLogSink);
  SetLogBatchThreshold(4096);
  LogFromThreads([] {
    (void)DebugLogEnabled();
    (void)GetLogRingSize();
    std::this_thread::yield();
  });
  FlushLog(true);
  const std::string file = logtest::ReadFile(m_path);
  ASSERT_GT(file.size(), 100u);
  EXPECT_EQ(std::string(100, '\0'), file.substr(0, 100));
  CheckRecords(logtest::SplitRecords(file, 100, file.size()), {""}, "");
}

// Threads log while the volume fills up and empties again: each stop is
// said once and each resumption once, never a word per line or per thread.
// Runs in this binary again, started on a volume of its own.
TEST_F(DebugLogConcurrent, ThreadsOnAVolumeThatFillsAndEmptiesSayEachStopOnce) {
  const char* volume = std::getenv("HX_TEST_LOG_VOLUME");
  if (volume == nullptr) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a volume of its own";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          mount("tmpfs", m_dir.c_str(), "tmpfs", 0, "size=512k") != 0) {
        _exit(2);
      }
      setenv("HX_TEST_LOG_VOLUME", m_dir.c_str(), 1);
      execl("/proc/self/exe", "test_common", "--gtest_filter=DebugLogConcurrent.ThreadsOn*", nullptr);
      _exit(2);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    return;
  }
  const std::string dir = volume;
  const std::string events = dir + ".events";
  SetLogFilePath((dir + "/x.log").c_str());
  SetEventReportFile(events);
  CEventLog eventLog;
  eventLog.Register("Quenlith Pellora");
  SetModuleEventLog(&eventLog);
  int fills = 0;
  LogFromThreads([&] {
    std::ofstream(dir + "/filler") << std::string(512 << 10, 'f');
    ++fills;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::filesystem::remove(dir + "/filler");
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  });
  DebugLog("after");
  SetModuleEventLog(nullptr);
  SetEventReportFile("");
  std::ifstream in(events);
  int stops = 0;
  int resumptions = 0;
  for (std::string line; std::getline(in, line);) {
    stops += line.find(" is not written: ") != std::string::npos;
    resumptions += line.find(" is written again; ") != std::string::npos;
  }
  std::filesystem::remove(events);
  EXPECT_LE(stops, fills);
  EXPECT_EQ(stops, resumptions);
}

}  // namespace
