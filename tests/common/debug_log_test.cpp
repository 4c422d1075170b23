#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/debug_log.h"
#include "common/debug_log_state.h"
#include "common/event_log.h"
#include "common/file_utils.h"
#include "log_test_support.h"
#include "platform/event_source.h"
#include "platform/process_shared_lock.h"

namespace {

std::vector<std::string> g_captured;
void CaptureSink(const char* text) { g_captured.emplace_back(text); }
void ThrowingSink(const char*) { throw std::runtime_error("sink failed"); }

class DebugLogWriter : public logtest::LogTest {
 protected:
  void SetUp() override {
    LogTest::SetUp();
    g_captured.clear();
    SetLogSink(&CaptureSink);
  }
};

TEST_F(DebugLogWriter, OffModeFormatsAndWritesNothing) {
  SetLogMode(LOG_MODE_OFF);
  EXPECT_FALSE(DebugLogEnabled());
  DebugLog("[CTest::Run] Starts %d.", 1);
  DebugLogError(5, "[CTest::Run] failed");
  EXPECT_TRUE(g_captured.empty());

  SetLogMode(LOG_MODE_WRITE);
  EXPECT_TRUE(DebugLogEnabled());
  DebugLog("[CTest::Run] returned dwRet <%d>.", 13);
  ASSERT_EQ(1u, g_captured.size());
  EXPECT_EQ("[CTest::Run] returned dwRet <13>.", g_captured[0]);
}

TEST_F(DebugLogWriter, LongTextIsCutTo2047Characters) {
  const std::string longText(5000, 'x');
  DebugLog("%s", longText.c_str());
  ASSERT_EQ(1u, g_captured.size());
  EXPECT_EQ(std::string(2047, 'x'), g_captured[0]);
}

TEST_F(DebugLogWriter, ErrorVariantAppendsSystemTextAfterThreeBlanks) {
  DebugLogError(5, "Open %s", "file");
  DebugLogError(HRESULT_FROM_WIN32(2), "Load");
  DebugLogError(0xDEADBEEF, "Odd");
  // The caller's part is kept to 511 characters.
  DebugLogError(5, "%s", std::string(900, 'y').c_str());
  ASSERT_EQ(4u, g_captured.size());
  EXPECT_EQ("Open file   Access is denied.  ", g_captured[0]);
  EXPECT_EQ("Load   The system cannot find the file specified.  ", g_captured[1]);
  EXPECT_EQ("Odd   ", g_captured[2]);
  EXPECT_EQ(std::string(511, 'y') + "   Access is denied.  ", g_captured[3]);
}

// Lines quote whole URLs and query strings; the session tokens a client
// sends there reach no log, in whatever letter case, while the cookie lines
// already shown by length stay as they are.
TEST_F(DebugLogWriter, SessionTokensAreShownByLengthOnly) {
  DebugLog("URL </owa/?ae=Item&Canary=abc_12-3&id=7> QueryString <USERCONTEXT=u%%3D1;x=2> Cookie <cadata=(26 bytes)>");
  DebugLogError(5, "redirect <ev.owa?canary=&password=pw>");
  // Nor does an escape sequence a client put in a header reach the
  // terminal the log is read on.
  DebugLog("UA <%s>", "Evil\x1B]0;t\x07\x1B[2J\x7F");
  ASSERT_EQ(3u, g_captured.size());
  EXPECT_EQ("UA <Evil\\x1B]0;t\\x07\\x1B[2J\\x7F>", g_captured[2]);
  EXPECT_EQ("URL </owa/?ae=Item&Canary=(8 bytes)&id=7> QueryString <USERCONTEXT=(5 bytes);x=2> Cookie <cadata=(26 bytes)>",
            g_captured[0]);
  EXPECT_EQ("redirect <ev.owa?canary=(absent)&password=(2 bytes)>   Access is denied.  ", g_captured[1]);
}

TEST_F(DebugLogWriter, FailuresNeverReachTheCaller) {
  // A text that cannot be formatted (no multi-byte form of this character in
  // the C locale) is dropped, not written in part.
  DebugLog("half %ls", L"\x100");
  DebugLogError(5, "half %ls", L"\x100");
  EXPECT_TRUE(g_captured.empty());

  SetLogSink(&ThrowingSink);
  EXPECT_NO_THROW(DebugLog("text %d", 1));
  EXPECT_NO_THROW(DebugLogError(5, "text"));
  SetLogSink(nullptr);
  EXPECT_FALSE(DebugLogEnabled());
  EXPECT_NO_THROW(DebugLog("nowhere"));
}

TEST(FormatSystemMessage, CutsToSizeAndBlanksLineBreaks) {
  char buf[64];
  FormatSystemMessage(5, buf, sizeof(buf));
  EXPECT_STREQ("Access is denied.  ", buf);
  // At most size - 2 characters.
  FormatSystemMessage(5, buf, 8);
  EXPECT_STREQ("Access", buf);
  FormatSystemMessage(5, buf, 1);
  EXPECT_STREQ("", buf);
  FormatSystemMessage(123456, buf, sizeof(buf));
  EXPECT_STREQ("", buf);
  FormatSystemMessage(5, nullptr, 64);  // must not crash
}

TEST(DebugLogSettings, SizesAreClampedToTheirRange) {
  SetLogRingSize(int64_t{1} << 40);
  EXPECT_EQ(INT32_MAX, GetLogRingSize());
  SetLogRingSize(-5);
  EXPECT_EQ(0, GetLogRingSize());
  SetLogWrapPosition(int64_t{3} << 31);
  EXPECT_EQ(INT32_MAX, GetLogWrapPosition());
  SetLogBatchThreshold(-1);
  EXPECT_EQ(0, GetLogBatchThreshold());
  // 2 GB in KB overflows 32-bit arithmetic; 64-bit arithmetic clamps it.
  EXPECT_EQ(INT32_MAX, LogSizeFromKB(2 * 1024 * 1024));
  EXPECT_EQ(INT32_MAX, LogSizeFromKB(INT64_MAX));
  EXPECT_EQ(1024 * 1024 * 1024, LogSizeFromKB(1048576));
  EXPECT_EQ(0, LogSizeFromKB(-3));
  EXPECT_EQ(0, LogSizeFromKB(INT64_MIN));
  SetLogRingSize(kDefaultLogRingSize);
  SetLogWrapPosition(kDefaultLogWrapPosition);
  SetLogBatchThreshold(kDefaultLogBatchThreshold);

  const std::string longPath(400, 'p');
  SetLogFilePath(longPath.c_str());
  EXPECT_EQ(std::string(260, 'p'), GetLogFilePath());
  SetLogFilePath(kDefaultLogFilePath);
}

using FileLogSinkTest = logtest::LogTest;

TEST_F(FileLogSinkTest, AppendsTimeLineAndText) {
  DebugLog("first %d", 1);
  DebugLog("second");
  EXPECT_EQ(
      "\n\n ****  Mon Dec  7 08:09:10 2026\n first 1"
      "\n\n ****  Mon Dec  7 08:09:10 2026\n second",
      logtest::ReadFile(m_path));
}

TEST_F(FileLogSinkTest, WritesNothingWithoutSinkLockOrWriteBit) {
  SetLogSinkLock(nullptr);
  DebugLog("no lock");
  EXPECT_FALSE(FileExists(m_path.c_str()));
  SetLogSinkLock(&m_lock);
  SetLogMode(1);  // on, but without the write bit
  DebugLog("no write bit");
  EXPECT_FALSE(FileExists(m_path.c_str()));
  // A folder that does not exist is a silent failure.
  SetLogMode(LOG_MODE_WRITE);
  SetLogFilePath((m_dir + "/missing/x.log").c_str());
  EXPECT_NO_THROW(DebugLog("lost"));
}

// Setting 13's size bounds the append-only file as it bounds the others: past
// it the file is kept as <file>.1, in place of the one before, and a new one
// begun, so the log never holds more than two sizes.
TEST_F(FileLogSinkTest, AppendOnlyFileStartsAnewPastItsSizeKeepingThePreviousOne) {
  SetLogRingSize(400);
  for (int i = 0; i < 30; ++i) DebugLog("line %02d %s", i, std::string(60, 'x').c_str());
  const std::string now = logtest::ReadFile(m_path);
  const std::string before = logtest::ReadFile(m_path + ".1");
  EXPECT_LE(now.size(), 400u);
  EXPECT_LE(before.size(), 400u);
  EXPECT_NE(now.find("line 29"), std::string::npos);
  EXPECT_NE(before.find("line 2"), std::string::npos);
  EXPECT_EQ(before.find("line 29"), std::string::npos);

  // Another process of the module that moved the file aside has begun the
  // next one: this process writes there too, never again into the one kept.
  const std::string kept = logtest::ReadFile(m_path);
  std::filesystem::rename(m_path, m_path + ".1");
  DebugLog("after the move");
  EXPECT_EQ(logtest::ReadFile(m_path + ".1"), kept);
  EXPECT_NE(logtest::ReadFile(m_path).find("after the move"), std::string::npos);
}

// logrotate rotates the same log: its newest file, <file>.1, is not the
// module's and is never replaced; every line is kept.
TEST_F(FileLogSinkTest, ARotationNeverReplacesAPreviousFileItDidNotMake) {
  SetLogRingSize(1000);
  for (int i = 0; i < 5; ++i) DebugLog("line %02d %s", i, std::string(60, 'x').c_str());
  ASSERT_FALSE(std::filesystem::exists(m_path + ".1"));
  const std::string logrotates = logtest::ReadFile(m_path);
  std::filesystem::rename(m_path, m_path + ".1");  // as logrotate does
  for (int i = 5; i < 30; ++i) DebugLog("line %02d %s", i, std::string(60, 'x').c_str());
  EXPECT_EQ(logrotates, logtest::ReadFile(m_path + ".1"));
  const std::string all = logtest::ReadFile(m_path + ".1") + logtest::ReadFile(m_path);
  for (int i = 0; i < 30; ++i) {
    EXPECT_NE(std::string::npos, all.find((i < 10 ? "line 0" : "line ") + std::to_string(i))) << i;
  }
  // Once logrotate's file is gone, the module keeps its own again.
  std::filesystem::remove(m_path + ".1");
  FlushLog(true);
  DebugLog("line 30 %s", std::string(60, 'x').c_str());
  EXPECT_TRUE(std::filesystem::exists(m_path + ".1"));
}

// A name another user put first in place of the file kept (here a folder)
// cannot be replaced: the log stays bounded, and the administrator learns
// once that the lines before are not kept.
TEST_F(FileLogSinkTest, APreviousFileThatCannotBeReplacedIsReportedOnce) {
  std::filesystem::create_directory(m_path + ".1");
  SetEventReportFile(m_dir + "/events.txt");
  CEventLog eventLog;
  ASSERT_TRUE(eventLog.Register("Quenlith Pellora"));
  SetModuleEventLog(&eventLog);
  SetLogRingSize(400);
  for (int i = 0; i < 30; ++i) DebugLog("line %02d %s", i, std::string(60, 'x').c_str());
  SetModuleEventLog(nullptr);
  SetEventReportFile("");
  EXPECT_LE(logtest::ReadFile(m_path).size(), 400u);
  const std::string events = logtest::ReadFile(m_dir + "/events.txt");
  EXPECT_EQ(events, "Quenlith Pellora\tWARNING\t0x60000074\t0\tThe debug log file " + m_path +
                        " reached its size (setting 13) and is begun anew without keeping its lines: " + m_path +
                        ".1 cannot be replaced: Is a directory.\n");
}

// An administrator moves the log's folder away (archiving it) or removes it
// while the module runs: the next line makes the folder and the file again,
// under the rule of start-up, and says so once.
TEST_F(FileLogSinkTest, AFileWhoseFolderWentIsMadeAgainAndReportedOnce) {
  const std::string events = m_dir + ".events";
  SetEventReportFile(events);
  CEventLog eventLog;
  ASSERT_TRUE(eventLog.Register("Quenlith Pellora"));
  SetModuleEventLog(&eventLog);
  DebugLog("before");
  std::filesystem::rename(m_dir, m_dir + ".moved");
  DebugLog("after the move");
  std::filesystem::remove_all(m_dir);
  DebugLog("after the removal");
  EXPECT_NE(logtest::ReadFile(m_path).find("after the removal"), std::string::npos);
  // A file in the folder's place: the folder cannot be made again, which is
  // said too.
  std::filesystem::remove_all(m_dir);
  std::ofstream(m_dir) << "in the way";
  DebugLog("blocked");
  DebugLog("blocked");
  SetModuleEventLog(nullptr);
  SetEventReportFile("");
  EXPECT_EQ(logtest::ReadFile(m_dir + ".moved/" + m_fileName).find("after"), std::string::npos);
  EXPECT_EQ(logtest::ReadFile(events),
            "Quenlith Pellora\tWARNING\t0x60000074\t0\tThe debug log file " + m_path +
                " went away while the module ran (moved or removed); it is made again, with its folder " + m_dir +
                ", and the lines from now on go there. Said once.\n"
                "Quenlith Pellora\tWARNING\t0x60000074\t0\tThe debug log file " +
                m_path + " went away while the module ran and cannot be made again: its folder " + m_dir +
                " cannot be made (Not a directory). Nothing is written there until it can be. Said once.\n");
  std::filesystem::remove(m_dir);
  std::filesystem::remove_all(m_dir + ".moved");
  std::filesystem::remove(events);
}

// The log's volume fills up, and later is mounted read-only: each stop is
// said once, naming the file and the reason; the line the full volume cut
// is taken off again, so the file holds whole lines; and when writing works
// again, that is said and the lines go on.
TEST_F(FileLogSinkTest, AFullOrReadOnlyVolumeIsSaidOnceAndTheLogGoesOnAfter) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a volume of its own";
  const std::string events = m_dir + ".events";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", m_dir.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0) {
      _exit(2);
    }
    SetEventReportFile(events);
    CEventLog eventLog;
    eventLog.Register("Quenlith Pellora");
    SetModuleEventLog(&eventLog);
    std::ofstream(m_dir + "/filler") << std::string(16 << 10, 'f');
    for (int i = 0; i < 200; ++i) DebugLog("line %03d %s", i, std::string(500, 'x').c_str());
    const std::string full = logtest::ReadFile(m_path);
    const size_t lineLength = full.find("\n\n ****", 1);
    const bool whole = lineLength != std::string::npos && full.size() % lineLength == 0;
    std::filesystem::remove(m_dir + "/filler");
    DebugLog("with room again");
    FlushLog(true);
    const bool readOnly = mount(nullptr, m_dir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    DebugLog("read-only");
    DebugLog("read-only");
    mount(nullptr, m_dir.c_str(), nullptr, MS_REMOUNT, nullptr);
    DebugLog("writable again");
    SetModuleEventLog(nullptr);
    const std::string log = logtest::ReadFile(m_path);
    const bool goesOn = log.find("with room again") != std::string::npos &&
                        log.find("writable again") != std::string::npos;
    std::printf("whole %d, read-only %d, goes on %d\n", whole, readOnly, goesOn);
    _exit(whole && readOnly && goesOn ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  const std::string said = logtest::ReadFile(events);
  std::filesystem::remove(events);
  const std::string head = "Quenlith Pellora\tWARNING\t0x60000074\t0\tThe debug log file " + m_path + " is not written: ";
  const std::string again = "Quenlith Pellora\tINFORMATION\t0x60000074\t0\tThe debug log file " + m_path +
                            " is written again; the lines since it stopped (";
  EXPECT_EQ(said, head + "it cannot be written, as its volume is full (No space left on device). Its lines are "
                         "dropped until it can be written again, which is said as well.\n" +
                      again + "it cannot be written, as its volume is full (No space left on device)) are lost.\n" +
                      head + m_path + " cannot be opened for writing, as its volume is mounted read-only. Its "
                      "lines are dropped until it can be written again, which is said as well.\n" +
                      again + m_path + " cannot be opened for writing, as its volume is mounted read-only) are "
                      "lost.\n");
}

// A writer of this process stuck in its write (a log folder that does not
// answer) holds the log's lock: another thread's line gives up within the
// lock's limit and does not wait on the writer any longer.
TEST_F(FileLogSinkTest, ALineThatGoesWithoutTheLockDoesNotWaitOnAStuckWriter) {
  const std::string name = "hxlogtest_stuck_" + std::to_string(getpid());
  CProcessSharedLock lock(name.c_str(), 200);
  ASSERT_TRUE(lock.IsValid());
  SetLogSinkLock(&lock);
  std::atomic<bool> holding{false};
  std::thread writer([&] {
    debug_log_detail::CSinkWrite write("stuck");
    holding = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  });
  while (!holding) std::this_thread::yield();
  const auto start = std::chrono::steady_clock::now();
  DebugLog("goes without");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  writer.join();
  SetLogSinkLock(&m_lock);
  CProcessSharedLock::Remove(name.c_str());
}

}  // namespace
